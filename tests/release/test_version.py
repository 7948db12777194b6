"""What Windows shows of Typeloader.exe: the version resource read through
GetFileVersionInfoW/VerQueryValueW and the embedded manifest read as the
RT_MANIFEST resource, both by version_probe.exe under Wine."""
import xml.etree.ElementTree as ET
import zipfile

import pytest

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
WINDOWS_SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"


def probe(wine, version_probe, exe):
    done = wine.wine(version_probe, exe)
    code, out = done.returncode, done.stdout
    assert code == 0, code
    head, _, manifest = out.partition(b"---manifest---\n")
    fields = dict(line.split("=", 1) for line in head.decode("utf-8").splitlines())
    assert int(fields["manifest.bytes"]) == len(manifest)
    return fields, manifest


EXES = ["Typeloader.exe", "Typeloader-Deploy.exe"]


@pytest.fixture(scope="module", params=[(name, where) for name in EXES for where in ("build", "bundle")],
                ids=lambda param: f"{param[0]} {param[1]}")
def shown(request, wine, version_probe, typeloader_exe, work_dir):
    """The probe's reading of each built exe and of each exe inside the zip,
    with the exe's name."""
    name, where = request.param
    if where == "build":
        exe = typeloader_exe.with_name(name)
    else:
        bundle_zip = request.getfixturevalue("bundle_zip")
        exe = work_dir / "from-zip" / name
        exe.parent.mkdir(parents=True, exist_ok=True)
        with zipfile.ZipFile(bundle_zip) as archive:
            exe.write_bytes(archive.read(name))
    fields, manifest = probe(wine, version_probe, exe)
    fields["name"] = name
    return fields, manifest


def test_fixed_file_and_product_version(shown, version):
    fields, _ = shown
    assert fields["fixed.file"] == version
    assert fields["fixed.product"] == version


def test_version_strings(shown, version):
    fields, _ = shown
    assert fields["translation"] == "040904b0"  # U.S. English, Unicode
    assert fields["string.FileVersion"] == version
    assert fields["string.ProductVersion"] == version
    assert fields["string.ProductName"] == "Typeloader"
    assert fields["string.OriginalFilename"] == fields["name"]
    assert fields["string.FileDescription"]


def test_manifest_requires_administrator(shown):
    _, manifest = shown
    root = ET.fromstring(manifest)
    levels = root.findall(f".//{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/{ASM_V3}requestedExecutionLevel")
    assert len(levels) == 1
    assert levels[0].get("level") == "requireAdministrator"
    assert levels[0].get("uiAccess") == "false"


def test_manifest_dpi_aware(shown):
    _, manifest = shown
    root = ET.fromstring(manifest)
    aware = root.findall(f".//{ASM_V3}application/{ASM_V3}windowsSettings/{WINDOWS_SETTINGS_2005}dpiAware")
    assert [element.text.strip() for element in aware] == ["true"]


def test_manifest_identity(shown, version):
    _, manifest = shown
    identity = ET.fromstring(manifest).find(f"{ASM_V1}assemblyIdentity")
    assert identity is not None
    assert identity.get("version") == version
    assert identity.get("processorArchitecture") == "amd64"
    assert identity.get("name") == shown[0]["name"].removesuffix(".exe")


def test_probe_fails_on_a_program_without_version(wine, version_probe):
    # The probe itself carries no version resource: the check can fail.
    done = wine.wine(version_probe, version_probe)
    assert done.returncode == 3
    assert b"fixed.file" not in done.stdout
