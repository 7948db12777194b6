"""Nothing planted beside Typeloader.exe and Typeloader-Deploy.exe is loaded
into either.

The program runs elevated from wherever the bundle was unpacked, so a DLL
laid beside it under a system DLL's name must never be loaded. Windows looks
in the program's folder first for every DLL that is not on its KnownDLLs list;
`WINEDLLOVERRIDES=<name>=n,b` makes Wine do the same for that name. KnownDLLs
(kernel32, advapi32, msvcrt, shell32, ole32, user32, ...) are left out: Windows
never takes them from the program's folder, while Wine's own DLLs may, so
planting them would test Wine, not the program. ucrtbase is left out for the
same reason: Wine's own sechost imports it, so Wine resolves it before the
program starts, behind the advapi32 import; Windows takes a KnownDLL's
dependencies from System32 only.
"""
import os
import shutil

import pytest

from make_font import make_font

TITLE = "E2ePlant"

# DLLs outside Windows' KnownDLLs list that a process using the registry,
# the file system and shell32 may pull in, directly or behind another DLL.
PLANTED = [
    "version", "profapi", "wldp", "userenv", "uxtheme", "dwmapi", "propsys",
    "cryptbase", "bcrypt", "crypt32", "sspicli", "windows.storage", "cryptsp",
    "bcryptprimitives", "msasn1", "kernel.appcore", "powrprof", "ntmarta",
    "secur32", "netapi32", "winmm", "dbghelp", "wintrust", "apphelp",
    "comctl32", "win32u", "msvcp_win", "wtsapi32", "mpr",
]


def plant(wine, names):
    """Lays the probe beside the exe under each name and makes Wine prefer it;
    returns the files laid."""
    laid = []
    for name in names:
        target = wine.program_dir / f"{name}.dll"
        shutil.copyfile(os.environ["PLANT_PROBE_DLL"], target)
        laid.append(target)
    overrides = ";".join(f"{name.lower()}=n,b" for name in names)
    wine.env["WINEDLLOVERRIDES"] = wine.base_overrides + ";" + overrides
    return laid


def markers(wine):
    folder = wine.drive_c / "planted"
    if not folder.exists():
        return {}
    return {entry.name: entry.read_bytes().decode("utf-16-le", "replace") for entry in folder.iterdir()}


DEPLOY = r"C:\Typeloader\Typeloader-Deploy.exe"


def job_runs(wine):
    """Install then uninstall, by Typeloader.exe and then by Typeloader-Deploy.exe
    (which starts Typeloader.exe in turn): [(exit code, output bytes, whole key)]
    for each."""
    runs = []
    for args in (["/title:" + TITLE], ["/uninstall", "/title:" + TITLE]):
        code, out = wine.run(*args)
        runs.append((code, out, wine.values()))
    for args in (["install", TITLE], ["uninstall", TITLE]):
        code, out = wine.run(*args, program=DEPLOY)
        runs.append((code, out, wine.values()))
    return runs


@pytest.fixture(scope="module")
def baseline(wine):
    wine.base_overrides = wine.env["WINEDLLOVERRIDES"]
    shutil.copy2(os.environ["TYPELOADER_DEPLOY_EXE"], wine.program_dir / "Typeloader-Deploy.exe")
    wine.font_dir.mkdir(exist_ok=True)
    make_font(str(wine.font_dir / "PlantSans.ttf"), "Plant Sans")
    make_font(str(wine.font_dir / "PlantSerif.ttf"), "Plant Serif")
    runs = job_runs(wine)
    assert runs[0][0] == 0 and b"Install OK : " + TITLE.encode() in runs[0][1]
    assert runs[1][0] == 0 and b"Uninstall OK : " + TITLE.encode() in runs[1][1]
    assert runs[2][0] == 0 and b"Install OK : " + TITLE.encode() in runs[2][1]
    assert runs[3][0] == 0 and b"Uninstall OK : " + TITLE.encode() in runs[3][1]
    return runs


@pytest.mark.parametrize("names", [[name] for name in PLANTED] + [PLANTED, ["VeRsIoN", "PROFAPI"]],
                         ids=PLANTED + ["all at once", "file names in other cases"])
def test_planted_dll_is_never_loaded(wine, baseline, names):
    laid = plant(wine, names)
    try:
        runs = job_runs(wine)
        loaded = markers(wine)
    finally:
        wine.env["WINEDLLOVERRIDES"] = wine.base_overrides
        for path in laid:
            path.unlink()
        shutil.rmtree(wine.drive_c / "planted", ignore_errors=True)
    assert loaded == {}, f"planted DLLs were loaded: {loaded}"
    for (job, got, want) in zip(("install", "uninstall", "deploy install", "deploy uninstall"), runs, baseline):
        assert got[:2] == want[:2], f"{job}: exit code or output differs with {names} planted"
        assert got[2] == want[2], f"{job}: the font registration key differs with {names} planted"


def test_probe_is_loaded_when_a_program_does_not_restrict_its_search(wine, baseline):
    """The probe and the override work: the test helper, which loads
    version.dll by its plain name with the default search, takes the planted one."""
    shutil.copyfile(wine.tltest, wine.program_dir / "tltest.exe")
    laid = plant(wine, ["version"])
    try:
        done = wine.wine(wine.program_dir / "tltest.exe", "loadlibrary", "version.dll")
        loaded = markers(wine)
    finally:
        wine.env["WINEDLLOVERRIDES"] = wine.base_overrides
        for path in laid:
            path.unlink()
        (wine.program_dir / "tltest.exe").unlink()
        shutil.rmtree(wine.drive_c / "planted", ignore_errors=True)
    assert "version.dll.loaded" in loaded, (done.returncode, done.stderr)


def test_without_shell32_the_command_line_cannot_be_split(wine, baseline):
    """shell32 comes in at run time; where it cannot be had, the command line
    cannot be split, so the program writes the usage line and changes nothing."""
    wine.env["WINEDLLOVERRIDES"] = wine.base_overrides + ";shell32="
    try:
        code, out = wine.run("/title:" + TITLE)
    finally:
        wine.env["WINEDLLOVERRIDES"] = wine.base_overrides
    assert (code, out) == (1, b"Usage : Typeloader [/uninstall] </title:title_string>\r\r\n")
    assert wine.values() == baseline[1][2]
