"""THIRD-PARTY-NOTICES.txt and the SPDX document, checked against the link map
as scripts/third_party.py reads it (its one gate: every file a reviewed
package's). Broken maps and tables must stop the step."""
import hashlib
import json
import os
import pathlib
import re
import subprocess
import sys

import pytest

PYTHON = "/usr/bin/python3"
SPDX_ID = re.compile(r"SPDXRef-[A-Za-z0-9.-]+")


def script(source_dir):
    return source_dir / "scripts" / "third_party.py"


def run_step(source_dir, *args, env=None):
    done = subprocess.run([PYTHON, str(script(source_dir)), *map(str, args)],
                          capture_output=True, text=True, env=env)
    return done.returncode, done.stdout, done.stderr


@pytest.fixture(scope="module")
def linked_packages(source_dir, link_map, build_dir):
    """{package: set of file names} outside the build, as the step's own gate reads the map."""
    sys.path.insert(0, str(source_dir / "scripts"))
    import third_party
    linked, _ = third_party.classify(link_map, build_dir)
    return {package: {label.split("(")[0] for label in labels} for package, labels in linked.items()}


@pytest.fixture(scope="module")
def table(source_dir):
    return json.loads((source_dir / "cmake" / "third-party-packages.json").read_text())


def debian_version(package):
    return subprocess.run(["dpkg-query", "-W", "-f", "${Version}", package],
                          capture_output=True, text=True, check=True).stdout


# ---------------------------------------------------------------- the map itself

def test_map_names_the_static_runtime(linked_packages):
    # A static exe links the mingw-w64 startup code and GCC's libraries; a map
    # read as naming nothing would make every check below pass vacuously.
    files = {name for names in linked_packages.values() for name in names}
    assert {"crt2u.o", "crtbegin.o", "libgcc.a", "libstdc++.a", "libmingwex.a", "libmsvcrt.a",
            "libkernel32.a"} <= files
    assert "mingw-w64-x86-64-dev" in linked_packages


def test_map_links_no_winpthreads(linked_packages):
    files = {name for names in linked_packages.values() for name in names}
    assert not [name for name in files if "pthread" in name]


# ---------------------------------------------------------------- notices

def notice_sections(text):
    """{package: (version, section text)} from THIRD-PARTY-NOTICES.txt."""
    parts = re.split(r"^={78}\n(\d+)\. (\S+) (\S+)\n={78}\n", text, flags=re.M)
    return {parts[i + 1]: (parts[i + 2], parts[i + 3]) for i in range(1, len(parts) - 1, 4)}


def test_notices_have_one_section_per_linked_package(notices, linked_packages):
    sections = notice_sections(notices.read_text())
    assert set(sections) == set(linked_packages)
    for package, (version, _) in sections.items():
        assert version == debian_version(package), package


def test_notices_give_the_reviewed_licence_and_the_files(notices, linked_packages, table):
    sections = notice_sections(notices.read_text())
    for package, (_, body) in sections.items():
        assert f"\nLicence:    {table['packages'][package]['license']}\n" in "\n" + body, package
        inputs = re.search(r"^Link input: (.*)$", body, re.M).group(1).split(", ")
        assert set(inputs) == linked_packages[package], package
        same = re.search(r"copyright: the same text as for (\S+) above\.", body)
        if same:
            assert same.group(1) in sections and same.group(1) < package
            assert (pathlib.Path("/usr/share/doc") / same.group(1) / "copyright").resolve() == \
                (pathlib.Path("/usr/share/doc") / package / "copyright").resolve()
        else:
            assert f"From /usr/share/doc/{package}/copyright:\n\n    " in body, package


@pytest.mark.parametrize("package, required", [
    # ZPL-2.1 clause 2: binary copies reproduce the notice, conditions and disclaimer.
    ("mingw-w64-x86-64-dev", ["Copyright: 2009-2016 the mingw-w64 project", "License: ZPL-2.1",
                              "2. Redistributions in binary form must reproduce the accompanying",
                              "THIS SOFTWARE IS PROVIDED BY THE COPYRIGHT HOLDERS", "License: public-domain"]),
    # libgcc and libstdc++ share one copyright file; the first of them in the list prints it.
    ("g++-mingw-w64-x86-64-win32", ["GCC RUNTIME LIBRARY EXCEPTION", "Version 3.1, 31 March 2009",
                                    "GCC is Copyright (C) 1986"]),
])
def test_notice_text_comes_from_the_copyright_file(notices, package, required):
    _, body = notice_sections(notices.read_text())[package]
    copyright_text = (pathlib.Path("/usr/share/doc") / package / "copyright").resolve().read_text()
    for phrase in required:
        assert phrase in body, (package, phrase)
        assert phrase.split(": ")[-1].lstrip("0123456789. ") in copyright_text, (package, phrase)


def test_import_libraries_are_explained(notices):
    _, body = notice_sections(notices.read_text())["mingw-w64-x86-64-dev"]
    assert "import librar" in body and "holds no Windows code" in body


# ---------------------------------------------------------------- refusals

def _other_package_file():
    """A regular file of an installed package that the table does not list."""
    listing = subprocess.run(["dpkg-query", "-L", "binutils-mingw-w64-x86-64"],
                             capture_output=True, text=True, check=True).stdout.split()
    return next(path for path in listing if os.path.isfile(path) and not os.path.islink(path))


def _without_gcc(table):
    del table["packages"]["gcc-mingw-w64-x86-64-win32"]


def _narrow_mingw_parts(table):
    table["packages"]["mingw-w64-x86-64-dev"]["parts"] = [
        part for part in table["packages"]["mingw-w64-x86-64-dev"]["parts"] if "mingw_matherr" not in part["match"]]


def _changed_span(table):
    table["packages"]["g++-mingw-w64-x86-64-win32"]["notice"]["spans"][0][1] = " - libnotthere"


REFUSALS = [
    # (name, extra map text, table change, words the error must hold)
    ("package without an entry", "", _without_gcc,
     ["gcc-mingw-w64-x86-64-win32 has no entry", "/usr/share/doc/gcc-mingw-w64-x86-64-win32/copyright"]),
    ("file of an unreviewed package", "LOAD {other}\n", None, ["binutils-mingw-w64-x86-64 has no entry"]),
    ("file no package owns", "LOAD {stray}\n", None, ["which no Debian package owns"]),
    ("file that does not exist", "LOAD /nonexistent/libfoo.a\n", None, ["does not exist"]),
    ("archive member outside the reviewed parts", "", _narrow_mingw_parts,
     ["libmingwex.a(lib64_libmingwex_a-mingw_matherr.o)", "not among the reviewed parts"]),
    ("reviewed notice text no longer in the copyright file", "", _changed_span,
     ["no longer there"]),
]


@pytest.mark.parametrize("name, extra, change, words", REFUSALS, ids=[row[0] for row in REFUSALS])
def test_step_refuses(name, extra, change, words, source_dir, link_map, build_dir, table, tmp_path):
    stray = tmp_path / "libstray.a"
    stray.write_bytes(b"!<arch>\n")
    text = link_map.read_text(errors="replace")
    marker = "\nLOAD "
    at = text.index(marker)
    text = text[:at] + "\n" + extra.format(other=_other_package_file(), stray=stray).rstrip("\n") + text[at:]
    (tmp_path / "Typeloader.map").write_text(text)
    changed = json.loads(json.dumps(table))
    if change:
        change(changed)
    (tmp_path / "table.json").write_text(json.dumps(changed))
    code, _, err = run_step(source_dir, "notices", "--map", tmp_path / "Typeloader.map", "--build-dir", build_dir,
                            "--table", tmp_path / "table.json", "--version", "1", "--out", tmp_path / "n.txt")
    assert code == 1, err
    for word in words:
        assert word in err, (name, err)
    assert not (tmp_path / "n.txt").exists()


def test_unchanged_map_and_table_pass(source_dir, link_map, build_dir, table, tmp_path):
    # The control for the refusals above: the same copies, unmodified, go through.
    (tmp_path / "table.json").write_text(json.dumps(table))
    code, _, err = run_step(source_dir, "notices", "--map", link_map, "--build-dir", build_dir,
                            "--table", tmp_path / "table.json", "--version", "1", "--out", tmp_path / "n.txt")
    assert code == 0, err


# ---------------------------------------------------------------- SBOM

def make_sbom(source_dir, link_map, build_dir, exe, out, version="1.0.0.2", env=None, unsigned=None):
    args = ["sbom", "--map", link_map, "--build-dir", build_dir, "--version", version, "--exe", exe,
            "--source-dir", source_dir, "--out", out]
    if unsigned:
        args += ["--unsigned-exe", unsigned]
    return run_step(source_dir, *args, env=env)


@pytest.fixture(scope="module")
def sbom_bytes(source_dir, link_map, build_dir, typeloader_exe, tmp_path_factory):
    out = tmp_path_factory.mktemp("sbom") / "Typeloader.spdx.json"
    code, _, err = make_sbom(source_dir, link_map, build_dir, typeloader_exe, out)
    assert code == 0, err
    return out.read_bytes()


def check_spdx_document(document, exe_bytes, linked_packages, table, version):
    """Checks an SPDX 2.3 document against the exe and the packages found from the map."""
    assert document["spdxVersion"] == "SPDX-2.3"
    assert document["dataLicense"] == "CC0-1.0"
    assert document["SPDXID"] == "SPDXRef-DOCUMENT"
    assert document["name"] == f"Typeloader-{version}"
    assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", document["creationInfo"]["created"])
    assert document["creationInfo"]["creators"]
    assert document["documentNamespace"].startswith("https://")
    packages = {package["SPDXID"]: package for package in document["packages"]}
    assert len(packages) == len(document["packages"])
    for package in document["packages"]:
        assert SPDX_ID.fullmatch(package["SPDXID"])
        for field in ("name", "downloadLocation", "licenseConcluded", "licenseDeclared", "copyrightText"):
            assert package.get(field), (package["SPDXID"], field)
        assert package["filesAnalyzed"] is False

    describes = [r for r in document["relationships"] if r["relationshipType"] == "DESCRIBES"]
    assert [(r["spdxElementId"], r["relationshipType"]) for r in describes] == [("SPDXRef-DOCUMENT", "DESCRIBES")]
    exe = packages[describes[0]["relatedSpdxElement"]]
    assert exe["name"] == "Typeloader.exe" and exe["versionInfo"] == version
    assert exe["checksums"] == [{"algorithm": "SHA256", "checksumValue": hashlib.sha256(exe_bytes).hexdigest()}]

    static = [r for r in document["relationships"] if r["relationshipType"] == "STATIC_LINK"]
    assert all(r["spdxElementId"] == exe["SPDXID"] for r in static)
    linked = {packages[r["relatedSpdxElement"]]["name"]: packages[r["relatedSpdxElement"]] for r in static}
    assert set(linked) == set(linked_packages)
    assert len(static) == len(linked) == len(packages) - 1
    for name, package in linked.items():
        assert package["versionInfo"] == debian_version(name)
        assert package["licenseConcluded"] == table["packages"][name]["license"]
        purls = [ref["referenceLocator"] for ref in package["externalRefs"]
                 if ref["referenceCategory"] == "PACKAGE-MANAGER" and ref["referenceType"] == "purl"]
        assert len(purls) == 1 and purls[0].startswith("pkg:deb/debian/"), purls
        assert "@" + package["versionInfo"].replace("+", "%2B") + "?" in purls[0]

    for r in document["relationships"]:
        assert r["relatedSpdxElement"] in packages and r["spdxElementId"] in set(packages) | {"SPDXRef-DOCUMENT"}
    used = {ref for p in document["packages"] for ref in re.findall(r"LicenseRef-[A-Za-z0-9.-]+",
                                                                    p["licenseConcluded"] + " " + p["licenseDeclared"])}
    extracted = {info["licenseId"]: info for info in document.get("hasExtractedLicensingInfos", [])}
    assert set(extracted) == used
    assert all(info["extractedText"] for info in extracted.values())
    return exe


def test_sbom_matches_the_map(sbom_bytes, typeloader_exe, linked_packages, table):
    check_spdx_document(json.loads(sbom_bytes), typeloader_exe.read_bytes(), linked_packages, table, "1.0.0.2")


def test_sbom_is_the_same_bytes_twice(sbom_bytes, source_dir, link_map, build_dir, typeloader_exe, tmp_path):
    code, _, err = make_sbom(source_dir, link_map, build_dir, typeloader_exe, tmp_path / "again.json")
    assert code == 0, err
    assert (tmp_path / "again.json").read_bytes() == sbom_bytes


def test_sbom_time_is_the_commit_time(sbom_bytes, source_dir):
    if not (source_dir / ".git").exists():
        pytest.skip("the sources are not a git checkout")
    epoch = subprocess.run(["git", "-C", str(source_dir), "log", "-1", "--format=%ct"],
                           capture_output=True, text=True, check=True).stdout.strip()
    created = json.loads(sbom_bytes)["creationInfo"]["created"]
    import datetime
    assert created == datetime.datetime.fromtimestamp(int(epoch), datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def test_source_date_epoch_sets_the_time(source_dir, link_map, build_dir, typeloader_exe, tmp_path):
    env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
    code, _, err = make_sbom(source_dir, link_map, build_dir, typeloader_exe, tmp_path / "s.json", env=env)
    assert code == 0, err
    assert json.loads((tmp_path / "s.json").read_text())["creationInfo"]["created"] == "2023-11-14T22:13:20Z"


def test_without_git_or_source_date_epoch_the_step_stops(source_dir, link_map, build_dir, typeloader_exe, tmp_path):
    # A tree unpacked from an archive has no commit to take the time from;
    # the clock would make every run differ, so the step asks for the time.
    env = {key: value for key, value in os.environ.items() if key != "SOURCE_DATE_EPOCH"}
    (tmp_path / "src").mkdir()
    code, _, err = run_step(source_dir, "sbom", "--map", link_map, "--build-dir", build_dir, "--version", "1",
                            "--exe", typeloader_exe, "--source-dir", tmp_path / "src", "--out", tmp_path / "s.json",
                            env=env)
    assert code == 1
    assert "SOURCE_DATE_EPOCH" in err
    assert not (tmp_path / "s.json").exists()


@pytest.mark.parametrize("change", ["one byte of the exe", "the version"])
def test_namespace_follows_version_and_exe(change, sbom_bytes, source_dir, link_map, build_dir, typeloader_exe, tmp_path):
    exe, version = typeloader_exe, "1.0.0.2"
    if change == "the version":
        version = "1.0.0.3"
    else:
        data = bytearray(typeloader_exe.read_bytes())
        data[-1] ^= 1
        exe = tmp_path / "Typeloader.exe"
        exe.write_bytes(bytes(data))
    code, _, err = make_sbom(source_dir, link_map, build_dir, exe, tmp_path / "s.json", version=version)
    assert code == 0, err
    first = json.loads(sbom_bytes)["documentNamespace"]
    other = json.loads((tmp_path / "s.json").read_text())["documentNamespace"]
    assert other != first
    assert f"Typeloader-{version}-" in other
