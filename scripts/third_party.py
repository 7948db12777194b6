#!/usr/bin/python3
"""What the toolchain put into Typeloader.exe, read from the linker's map.

  third_party.py notices --map M [--map M2 ...] --build-dir B --version V --out THIRD-PARTY-NOTICES.txt
  third_party.py sbom    --map M --build-dir B --version V --exe E [--unsigned-exe U]
                         [--source-dir S] --out Typeloader-V.spdx.json

The notices cover every map given (Typeloader.exe and Typeloader-Deploy.exe);
an SBOM describes one exe, named by its file name, from its own map.
  third_party.py files   --map M --build-dir B      (prints each linked file and its owner)

Every object file and archive that the map names is either part of the build
(under the build folder) or a file of an installed Debian package, found with
`dpkg -S` after resolving symlinks. Each package must have a reviewed entry in
cmake/third-party-packages.json (licence expression, notice, and the parts of
it that may be linked in); a file of any other package, a file no package
owns, or an archive member outside the reviewed parts is an error, so a new
licence obligation cannot enter the exe unnoticed.

The notices come from each package's own /usr/share/doc/<package>/copyright.
The SPDX 2.3 document describes the exe as shipped (signed or not); its time
is the commit's (SOURCE_DATE_EPOCH when set), never the clock, so the same
commit and toolchain give the same bytes.
"""
import argparse
import datetime
import hashlib
import json
import os
import pathlib
import re
import subprocess
import sys
import urllib.parse
import uuid

import debian.copyright

TABLE = pathlib.Path(__file__).resolve().parents[1] / "cmake" / "third-party-packages.json"
# Entries ld prints among the LOAD lines that are not files.
LD_PSEUDO_INPUTS = {"dll stuff", "linker stubs"}
MAP_SECTION_ENDS = ("Discarded input sections", "Allocating common symbols", "Memory Configuration",
                    "Linker script and memory map")


class Refused(Exception):
    """A linked file that the reviewed table does not account for."""


# ---------------------------------------------------------------- link map

def read_map(map_path):
    """Returns (loaded files, archive members) named by an ld map.

    loaded: the paths of the LOAD lines, as written (relative to the link's folder or absolute).
    members: (archive path, member name) of every archive member the link took in."""
    loaded = []
    members = []
    in_members = False
    for line in pathlib.Path(map_path).read_text(encoding="utf-8", errors="replace").splitlines():
        if line.startswith("Archive member included"):
            in_members = True
            continue
        if in_members and line.startswith(MAP_SECTION_ENDS):
            in_members = False
        if in_members:
            # "archive(member)" starts in column 0; the referencing "file (symbol)" is indented.
            match = re.fullmatch(r"(\S[^(]*)\(([^()]+)\)", line.rstrip())
            if match:
                members.append((match.group(1), match.group(2)))
            continue
        if line.startswith("LOAD "):
            loaded.append(line[5:].strip())
    if not loaded:
        raise Refused(f"{map_path}: no LOAD lines; is this an ld map (-Wl,-Map)?")
    return loaded, members


# ---------------------------------------------------------------- packages

def _dpkg_owners(paths):
    """Maps each path that a Debian package owns to that package."""
    if not paths:
        return {}
    done = subprocess.run(["dpkg-query", "-S", *paths], capture_output=True, text=True)
    owners = {}
    for line in done.stdout.splitlines():
        if line.startswith("diversion "):
            continue
        packages, _, path = line.partition(": ")
        names = [name.strip().split(":")[0] for name in packages.split(",")]
        if len(names) != 1:
            raise Refused(f"{path} is claimed by several packages: {packages}")
        owners[path] = names[0]
    return owners


def package_info(package):
    fields = "${Package}\t${Version}\t${Architecture}\t${source:Package}\t${source:Version}"
    done = subprocess.run(["dpkg-query", "-W", "-f", fields, package], capture_output=True, text=True)
    if done.returncode != 0 or not done.stdout:
        raise Refused(f"package {package} is not installed")
    name, version, arch, source, source_version = done.stdout.split("\t")
    return {"name": name, "version": version, "arch": arch, "source": source, "source_version": source_version}


def classify(map_paths, build_dir):
    """Every map's linked packages together (one path or a list of paths)."""
    if isinstance(map_paths, (str, os.PathLike)):
        return classify_one(map_paths, build_dir)
    linked, own = {}, set()
    for map_path in map_paths:
        more, more_own = classify_one(map_path, build_dir)
        for package, labels in more.items():
            linked.setdefault(package, set()).update(labels)
        own |= more_own
    return linked, own


def classify_one(map_path, build_dir):
    """Returns ({package: set of linked names}, set of the build's own inputs).

    A linked name is an input file's base name, or "archive(member)" for a member."""
    loaded, members = read_map(map_path)
    build_dir = pathlib.Path(build_dir).resolve()
    names = [(path, None) for path in loaded if path not in LD_PSEUDO_INPUTS]
    names += [(archive, member) for archive, member in members]

    own = set()
    candidates = {}  # the path as found on disk -> [(resolved path, lexical path)]
    for path, member in names:
        full = pathlib.Path(path) if os.path.isabs(path) else build_dir / path
        if not full.exists():
            raise Refused(f"the link map names {path}, which does not exist")
        resolved = full.resolve()
        label = resolved.name if member is None else f"{resolved.name}({member})"
        if resolved.is_relative_to(build_dir):
            own.add(label)
            continue
        candidates.setdefault(path, [str(resolved), os.path.normpath(str(full))]).append(label)

    # The file's real path first (symlinks resolved); the path as written only when
    # dpkg recorded that spelling (a merged /usr, for instance).
    owners = _dpkg_owners(sorted({c[0] for c in candidates.values()} | {c[1] for c in candidates.values()}))
    linked = {}
    for path, (resolved, lexical, *labels) in sorted(candidates.items()):
        package = owners.get(resolved) or owners.get(lexical)
        if package is None:
            raise Refused(f"the link map names {path} ({resolved}), which no Debian package owns: "
                          "Typeloader.exe may only contain the build's own code and reviewed packages")
        linked.setdefault(package, set()).update(labels)
    return linked, own


def reviewed(linked, table):
    """Checks every package and part against the reviewed table; returns the sorted package names."""
    for package, labels in sorted(linked.items()):
        entry = table["packages"].get(package)
        if entry is None:
            raise Refused(f"{', '.join(sorted(labels)[:3])} from Debian package {package} is linked in, and "
                          f"{package} has no entry in cmake/third-party-packages.json: read "
                          f"/usr/share/doc/{package}/copyright and add its licence and notice there")
        patterns = [re.compile(part["match"]) for part in entry["parts"]]
        for label in sorted(labels):
            if not any(pattern.search(label) for pattern in patterns):
                raise Refused(f"{label} of Debian package {package} is linked in but is not among the reviewed "
                              f"parts of {package} in cmake/third-party-packages.json: check its licence in "
                              f"/usr/share/doc/{package}/copyright and add it")
    return sorted(linked)


# ---------------------------------------------------------------- copyright files

def copyright_file(package):
    # /usr/share/doc/<package> is often a symlink to the source's base package.
    return (pathlib.Path("/usr/share/doc") / package / "copyright").resolve()


def dep5_notice(path, license_name):
    """The copyright lines and licence text of one licence in a machine-readable copyright file."""
    with path.open(encoding="utf-8") as opened:
        copyright = debian.copyright.Copyright(opened, strict=False)
    holders = []
    text = None
    for paragraph in [*copyright.all_files_paragraphs(), *copyright.all_license_paragraphs()]:
        if paragraph.license is None or paragraph.license.synopsis != license_name:
            continue
        if isinstance(paragraph, debian.copyright.FilesParagraph):
            for holder in paragraph.copyright.splitlines():
                if holder.strip() and holder.strip() not in holders:
                    holders.append(holder.strip())
        if paragraph.license.text and text is None:
            text = paragraph.license.text.splitlines()
    if text is None or not holders:
        raise Refused(f"{path}: no License: {license_name} with its text and copyright; "
                      "the copyright file changed: review the entry in cmake/third-party-packages.json")
    return [f"Copyright: {holder}" for holder in holders] + [f"License: {license_name}"] + \
        ["  " + line if line else "" for line in text]


def quoted_span(path, first, last):
    lines = path.read_text(encoding="utf-8").splitlines()
    try:
        start = lines.index(first)
        end = lines.index(last, start)
    except ValueError:
        raise Refused(f"{path}: the reviewed passage from {first!r} to {last!r} is no longer there; "
                      "review the entry in cmake/third-party-packages.json") from None
    return lines[start:end + 1]


def notice_lines(package, entry):
    path = copyright_file(package)
    if not path.is_file():
        raise Refused(f"{path} is missing: the notice of {package} cannot be made")
    out = []
    for license_name in entry["notice"].get("dep5", []):
        if out:
            out.append("")
        out += dep5_notice(path, license_name)
    for first, last in entry["notice"].get("spans", []):
        if out:
            out.append("")
        out += quoted_span(path, first, last)
    return out


# ---------------------------------------------------------------- outputs

def write_notices(args, table):
    linked, _ = classify(args.map, args.build_dir)
    packages = reviewed(linked, table)
    out = [
        f"Third-party software in Typeloader.exe and Typeloader-Deploy.exe {args.version}",
        "",
        "Typeloader.exe and Typeloader-Deploy.exe are statically linked programs. Besides",
        "Typeloader's own code (MIT licence, see LICENSE) they hold parts of the following",
        "Debian packages of the toolchain that built them. This list is made from the",
        "linker's maps of this build.",
    ]
    shown = {}  # notice text -> the package that printed it first
    for number, package in enumerate(packages, 1):
        entry = table["packages"][package]
        info = package_info(package)
        rule = "=" * 78
        out += ["", rule, f"{number}. {package} {info['version']}", rule, "",
                f"Component:  {entry['component']}",
                f"Homepage:   {entry['homepage']}",
                f"Licence:    {entry['license']}",
                f"Link input: {', '.join(sorted({label.split('(')[0] for label in linked[package]}))}",
                f"Members:    {sum('(' in label for label in linked[package])} archive members taken in",
                ""]
        out += entry["summary"]
        notice = tuple(notice_lines(package, entry))
        if notice in shown:
            out += ["", f"From /usr/share/doc/{package}/copyright: the same text as for {shown[notice]} above."]
            continue
        shown[notice] = package
        out += ["", f"From /usr/share/doc/{package}/copyright:", ""]
        out += ["    " + line if line else "" for line in notice]
    text = "\n".join(out) + "\n"
    pathlib.Path(args.out).write_text(text, encoding="utf-8")


def creation_time(source_dir):
    """The SPDX creation time: SOURCE_DATE_EPOCH, else the commit time of the source tree."""
    epoch = os.environ.get("SOURCE_DATE_EPOCH", "").strip()
    if not epoch and source_dir:
        try:
            done = subprocess.run(["git", "-C", str(source_dir), "rev-parse", "--show-toplevel"],
                                  capture_output=True, text=True)
            top = done.stdout.strip()
            # Only the source tree's own repository: a tree unpacked inside another
            # repository must not take that repository's time.
            if done.returncode == 0 and pathlib.Path(top).resolve() == pathlib.Path(source_dir).resolve():
                epoch = subprocess.run(["git", "-C", str(source_dir), "log", "-1", "--format=%ct"],
                                       capture_output=True, text=True, check=True).stdout.strip()
        except FileNotFoundError:
            epoch = ""  # no git on this machine
    if not epoch:
        raise Refused("no creation time for the SBOM: the sources are not a git checkout; "
                      "set SOURCE_DATE_EPOCH (seconds since 1970) to the release's commit time")
    moment = datetime.datetime.fromtimestamp(int(epoch), tz=datetime.timezone.utc)
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


def spdx_id(name):
    return "SPDXRef-deb-" + re.sub(r"[^A-Za-z0-9.-]", "-", name)


def distro():
    fields = {}
    try:
        for line in pathlib.Path("/etc/os-release").read_text().splitlines():
            key, _, value = line.partition("=")
            fields[key] = value.strip('"')
    except OSError:
        pass
    return fields.get("ID", "debian"), fields.get("VERSION_CODENAME", "")


def sha256(path):
    return hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()


def write_sbom(args, table):
    linked, _ = classify(args.map, args.build_dir)
    packages = reviewed(linked, table)
    exe_hash = sha256(args.exe)
    namespace_id = uuid.uuid5(uuid.NAMESPACE_URL, f"typeloader:{args.version}:{exe_hash}")
    exe_name = pathlib.Path(args.exe).name
    exe_stem = pathlib.Path(args.exe).stem
    exe_package = {
        "SPDXID": f"SPDXRef-{re.sub(r'[^A-Za-z0-9.-]', '-', exe_stem)}-exe",
        "name": exe_name,
        "versionInfo": args.version,
        "packageFileName": exe_name,
        "supplier": "Organization: Typeloader developers",
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "checksums": [{"algorithm": "SHA256", "checksumValue": exe_hash}],
        "licenseConcluded": "MIT",
        "licenseDeclared": "MIT",
        "copyrightText": "NOASSERTION",
        "primaryPackagePurpose": "APPLICATION",
        "comment": "Typeloader's own code is under the MIT licence; the statically linked packages "
                   "below carry their own licences (THIRD-PARTY-NOTICES.txt).",
    }
    if args.unsigned_exe and sha256(args.unsigned_exe) != exe_hash:
        exe_package["comment"] += (
            " This file is Authenticode-signed: the SHA-256 above is that of the signed file as shipped. "
            "With its signature removed (osslsigncode remove-signature) it is the reproducible build, "
            f"SHA-256 {sha256(args.unsigned_exe)}.")
    distro_id, codename = distro()
    described = [exe_package]
    relationships = [{"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                      "relatedSpdxElement": exe_package["SPDXID"]}]
    for package in packages:
        entry = table["packages"][package]
        info = package_info(package)
        qualifiers = {"arch": info["arch"]}
        if codename:
            qualifiers["distro"] = codename
        purl = (f"pkg:deb/{distro_id}/{urllib.parse.quote(package, safe='')}@"
                f"{urllib.parse.quote(info['version'], safe='')}?{urllib.parse.urlencode(qualifiers)}")
        described.append({
            "SPDXID": spdx_id(package),
            "name": package,
            "versionInfo": info["version"],
            "supplier": "Organization: Debian",
            "downloadLocation": "NOASSERTION",
            "homepage": entry["homepage"],
            "sourceInfo": f"built from Debian source package {info['source']} {info['source_version']}",
            "filesAnalyzed": False,
            "licenseConcluded": entry["license"],
            "licenseDeclared": entry["license"],
            "copyrightText": "NOASSERTION",
            "summary": entry["component"],
            "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                              "referenceLocator": purl}],
            "primaryPackagePurpose": "LIBRARY",
        })
        relationships.append({"spdxElementId": exe_package["SPDXID"], "relationshipType": "STATIC_LINK",
                              "relatedSpdxElement": spdx_id(package)})
    used_refs = sorted({ref for package in packages
                        for ref in re.findall(r"LicenseRef-[A-Za-z0-9.-]+", table["packages"][package]["license"])})
    document = {
        "spdxVersion": "SPDX-2.3",
        "dataLicense": "CC0-1.0",
        "SPDXID": "SPDXRef-DOCUMENT",
        "name": f"{exe_stem}-{args.version}",
        "documentNamespace": f"https://spdx.org/spdxdocs/{exe_stem}-{args.version}-{namespace_id}",
        "creationInfo": {
            "created": creation_time(args.source_dir),
            "creators": ["Organization: Typeloader developers", "Tool: typeloader-third-party"],
        },
        "packages": described,
        "relationships": relationships,
    }
    if used_refs:
        document["hasExtractedLicensingInfos"] = [
            {"licenseId": ref, "name": table["extracted_licenses"][ref]["name"],
             "extractedText": table["extracted_licenses"][ref]["text"]} for ref in used_refs]
    pathlib.Path(args.out).write_text(json.dumps(document, indent=2) + "\n", encoding="utf-8")


def print_files(args, table):
    linked, own = classify(args.map, args.build_dir)
    for label in sorted(own):
        print(f"build\t{label}")
    for package in sorted(linked):
        for label in sorted(linked[package]):
            print(f"{package}\t{label}")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("command", choices=["notices", "sbom", "files"])
    parser.add_argument("--map", required=True, action="append",
                        help="the ld map of an exe's link (notices: once per exe)")
    parser.add_argument("--build-dir", required=True, help="the folder the link ran in")
    parser.add_argument("--table", default=str(TABLE), help="the reviewed package table")
    parser.add_argument("--version")
    parser.add_argument("--exe", help="the Typeloader.exe that ships (signed or not)")
    parser.add_argument("--unsigned-exe", help="the unsigned build, when --exe was signed")
    parser.add_argument("--source-dir", help="the source tree, for the commit time")
    parser.add_argument("--out")
    args = parser.parse_args(argv)
    table = json.loads(pathlib.Path(args.table).read_text(encoding="utf-8"))
    try:
        if args.command == "files":
            print_files(args, table)
            return 0
        if not args.version or not args.out:
            parser.error("--version and --out are needed")
        if args.command == "notices":
            write_notices(args, table)
        else:
            if not args.exe:
                parser.error("sbom needs --exe")
            write_sbom(args, table)
    except Refused as refusal:
        print(f"third_party.py: {refusal}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
