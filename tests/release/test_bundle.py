"""The release bundle Typeloader-<version>-win64.zip: its contents, its
checksums, and the unpacked program run under Wine on a font placed into
its Font folder."""
import hashlib
import json
import os
import re
import shutil
import subprocess
import zipfile

import pytest

SBOM = f"Typeloader-{os.environ.get('TYPELOADER_VERSION', '1.0.0.2')}.spdx.json"
DEPLOY_SBOM = f"Typeloader-Deploy-{os.environ.get('TYPELOADER_VERSION', '1.0.0.2')}.spdx.json"
# What an administrator gets besides the exe comes from packaging/.
FROM_PACKAGING = {"deploy-fonts.yml", "requirements.yml", "README.md",
                  "deploying.md", "signing.md", "Font/README.txt"}
FILES = {"Typeloader.exe", "Typeloader-Deploy.exe", "LICENSE", "THIRD-PARTY-NOTICES.txt", SBOM, DEPLOY_SBOM,
         "SHA256SUMS"} | FROM_PACKAGING
TITLE = "TypeloaderReleaseCheck"
FONT_TITLE = "ReleaseSample"
# Any TrueType file will do: the program copies and registers bytes. These
# come with the packages that the build and Wine need.
FONT_CANDIDATES = [
    "/usr/share/wine/fonts/courier.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
]


def sample_font_bytes():
    for candidate in FONT_CANDIDATES:
        try:
            with open(candidate, "rb") as font:
                return font.read()
        except OSError:
            continue
    pytest.fail("no TrueType file found among " + ", ".join(FONT_CANDIDATES))


@pytest.fixture(scope="module")
def archive(bundle_zip):
    with zipfile.ZipFile(bundle_zip) as opened:
        yield opened


@pytest.fixture(scope="module")
def unpacked(bundle_zip, work_dir):
    target = work_dir / "unpacked"
    if target.exists():
        shutil.rmtree(target)
    with zipfile.ZipFile(bundle_zip) as opened:
        opened.extractall(target)
    return target


def test_file_name(bundle_zip, version):
    assert bundle_zip.name == f"Typeloader-{version}-win64.zip"


def test_archive_is_sound(archive):
    assert archive.testzip() is None


def test_exact_contents_without_top_level_folder(archive):
    files = {info.filename for info in archive.infolist() if not info.is_dir()}
    folders = {info.filename for info in archive.infolist() if info.is_dir()}
    assert files == FILES
    assert folders <= {"Font/"}


def test_program_is_the_build(archive, typeloader_exe):
    assert archive.read("Typeloader.exe") == typeloader_exe.read_bytes()
    assert archive.read("Typeloader-Deploy.exe") == typeloader_exe.with_name("Typeloader-Deploy.exe").read_bytes()


@pytest.mark.parametrize("name", sorted(FROM_PACKAGING))
def test_administrator_files_are_the_sources(archive, source_dir, name):
    assert archive.read(name) == (source_dir / "packaging" / name).read_bytes()


def test_readme_is_the_administrators_not_the_developers(archive, source_dir):
    readme = archive.read("README.md").decode("utf-8")
    assert readme != (source_dir / "README.md").read_text(encoding="utf-8")
    assert "scripts/" not in readme and "cmake" not in readme  # nothing the bundle does not hold
    for word in ("Typeloader-Deploy.exe install", "3010", "deploying.md", "/uninstall /title:"):
        assert word in readme


def test_licence_is_the_source(archive, source_dir):
    licence = archive.read("LICENSE")
    assert licence == (source_dir / "LICENSE").read_bytes()
    assert b"MIT License" in licence and b"Typeloader developers" in licence


def test_notices_are_the_builds(archive, notices):
    text = archive.read("THIRD-PARTY-NOTICES.txt")
    assert text == notices.read_bytes()
    assert b"mingw-w64-x86-64-dev" in text and b"License: ZPL-2.1" in text


@pytest.mark.parametrize("exe_name, sbom", [("Typeloader.exe", SBOM), ("Typeloader-Deploy.exe", DEPLOY_SBOM)])
def test_sbom_describes_the_bundled_exe(archive, version, exe_name, sbom):
    document = json.loads(archive.read(sbom))
    assert document["spdxVersion"] == "SPDX-2.3"
    described = [r["relatedSpdxElement"] for r in document["relationships"] if r["relationshipType"] == "DESCRIBES"]
    exe = [p for p in document["packages"] if p["SPDXID"] in described]
    assert [p["name"] for p in exe] == [exe_name]
    assert exe[0]["versionInfo"] == version
    digest = hashlib.sha256(archive.read(exe_name)).hexdigest()
    assert exe[0]["checksums"] == [{"algorithm": "SHA256", "checksumValue": digest}]
    linked = {r["relatedSpdxElement"] for r in document["relationships"] if r["relationshipType"] == "STATIC_LINK"}
    names = {p["name"] for p in document["packages"] if p["SPDXID"] in linked}
    # The same packages as the notices, which test_third_party.py holds to the link map.
    sections = set(re.findall(r"^\d+\. (\S+) \S+$", archive.read("THIRD-PARTY-NOTICES.txt").decode(), re.M))
    assert names == sections and "mingw-w64-x86-64-dev" in names


def test_font_folder_holds_only_its_note(archive):
    in_font = [info.filename for info in archive.infolist() if info.filename.startswith("Font/") and not info.is_dir()]
    assert in_font == ["Font/README.txt"]
    note = archive.read("Font/README.txt").decode("ascii")
    assert "*.ttf" in note
    assert "/title:" in note
    assert "x.ttfx" in note and "Typeloader-Deploy.exe install" in note


def test_sha256sums_cover_every_other_file(archive):
    lines = archive.read("SHA256SUMS").decode("ascii").splitlines()
    sums = {}
    for line in lines:
        match = re.fullmatch(r"([0-9a-f]{64})  (\S.*)", line)
        assert match, f"not in sha256sum format: {line!r}"
        sums[match.group(2)] = match.group(1)
    assert len(sums) == len(lines)
    assert set(sums) == FILES - {"SHA256SUMS"}
    for name, digest in sums.items():
        assert hashlib.sha256(archive.read(name)).hexdigest() == digest, name


@pytest.mark.skipif(shutil.which("sha256sum") is None, reason="sha256sum not installed")
def test_sha256sum_checks_the_unpacked_bundle(unpacked):
    done = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=unpacked,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stdout.count(": OK") == len(FILES) - 1


def test_unpacked_program_without_title_prints_usage(wine, unpacked):
    assert wine.run("/uninstall", program=unpacked / "Typeloader.exe") == (
        1, b"Usage : Typeloader [/uninstall] </title:title_string>\r\r\n")


def test_unpacked_program_installs_and_uninstalls_a_font(wine, unpacked):
    font = sample_font_bytes()
    (unpacked / "Font" / f"{FONT_TITLE}.ttf").write_bytes(font)
    assert not any(name.startswith(TITLE) for name in wine.strings())

    assert wine.run(f"/title:{TITLE}", program=unpacked / "Typeloader.exe") == (
        0, b"Install Font : TypeloaderReleaseCheck\r\r\nInstall OK : TypeloaderReleaseCheck ReleaseSample\r\r\n")

    copy = wine.fonts_folder / f"{FONT_TITLE}.ttf"
    assert copy.read_bytes() == font
    assert not (wine.fonts_folder / "README.txt").exists()
    values = wine.strings()
    assert [name for name in values if name.startswith(TITLE)] == ["TypeloaderReleaseCheck ReleaseSample"]
    assert values["TypeloaderReleaseCheck ReleaseSample"] == "C:\\windows\\Fonts\\ReleaseSample.ttf"

    assert wine.run("-UNINSTALL", f"-Title:{TITLE}", program=unpacked / "Typeloader.exe") == (
        0, b"Uninstall Font : TypeloaderReleaseCheck\r\r\nUninstall OK : TypeloaderReleaseCheck ReleaseSample\r\r\n")
    assert not any(name.startswith(TITLE) for name in wine.strings())
    assert copy.read_bytes() == font  # the copied file stays
