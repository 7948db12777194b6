"""Shared fixtures for the release checks: paths and a private Wine prefix.

Environment (set by ctest; the defaults fit `cmake --preset windows`):
  TYPELOADER_EXE            the built Typeloader.exe
  TYPELOADER_VERSION_PROBE  the built version_probe.exe
  TYPELOADER_ZIP            the bundle made by cpack
  TYPELOADER_RELEASE_WORK   scratch folder (Wine prefix, unpacked bundle)
  TYPELOADER_WINE           the wine launcher
  TYPELOADER_VERSION        the expected version, 1.0.0.2
"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "e2e"))
from wine_prefix import LAUNCH, base_environment, make_template, stop_server  # noqa: E402

SOURCE_DIR = pathlib.Path(os.environ.get("TYPELOADER_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
BUILD_DIR = SOURCE_DIR / "build" / "windows"
VERSION = os.environ.get("TYPELOADER_VERSION", "1.0.0.2")
FONTS_KEY = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts"


def _path(variable, default):
    return pathlib.Path(os.environ.get(variable) or default)


@pytest.fixture(scope="session")
def version():
    return VERSION


@pytest.fixture(scope="session")
def source_dir():
    return SOURCE_DIR


@pytest.fixture(scope="session")
def typeloader_exe():
    path = _path("TYPELOADER_EXE", BUILD_DIR / "Typeloader.exe")
    assert path.is_file(), f"build Typeloader.exe first: {path}"
    return path


@pytest.fixture(scope="session")
def version_probe():
    path = _path("TYPELOADER_VERSION_PROBE", BUILD_DIR / "tests" / "release" / "version_probe.exe")
    assert path.is_file(), f"build version_probe.exe first: {path}"
    return path


@pytest.fixture(scope="session")
def bundle_zip():
    path = _path("TYPELOADER_ZIP", BUILD_DIR / f"Typeloader-{VERSION}-win64.zip")
    assert path.is_file(), f"make the bundle first (cpack --preset windows): {path}"
    return path


@pytest.fixture(scope="session")
def work_dir():
    path = _path("TYPELOADER_RELEASE_WORK", BUILD_DIR / "release-test")
    path.mkdir(parents=True, exist_ok=True)
    return path


class Wine:
    """Runs Windows programs in one private 64-bit prefix."""

    def __init__(self, prefix):
        self.prefix = prefix
        self.wine = os.environ.get("TYPELOADER_WINE") or shutil.which("wine64") or shutil.which("wine") or "wine"
        self.env = base_environment(prefix)

    def run(self, program, *args, timeout=120):
        """Runs a program; returns (exit code, stdout bytes, stderr bytes)."""
        # Files, not pipes: Wine's background services inherit pipes and hold them open.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            done = subprocess.run([*LAUNCH, self.wine, str(program), *map(str, args)], env=self.env,
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=timeout)
            out.seek(0)
            err.seek(0)
            return done.returncode, out.read(), err.read()

    def server(self, *args, timeout=120):
        subprocess.run(["wineserver", *args], env=self.env, timeout=timeout, check=False)

    @property
    def drive_c(self):
        return self.prefix / "drive_c"

    def fonts_dir(self):
        """The prefix's Windows Fonts folder, C:\\windows\\Fonts."""
        windows = next(p for p in self.drive_c.iterdir() if p.name.lower() == "windows")
        return next(p for p in windows.iterdir() if p.name.lower() == "fonts")

    def font_values(self):
        """The REG_SZ values of the font registration key, as {name: data}."""
        code, out, err = self.run("reg", "query", FONTS_KEY)
        assert code == 0, err
        values = {}
        for line in out.decode("utf-8", "replace").splitlines():
            line = line.rstrip("\r")
            if line.startswith("    ") and "    REG_SZ    " in line:
                name, data = line[4:].split("    REG_SZ    ", 1)
                values[name] = data
        return values


@pytest.fixture(scope="session")
def wine(work_dir):
    """A fresh prefix under the build tree for this session, never ~/.wine."""
    prefix = work_dir / "prefix"
    runner = Wine(prefix)
    if prefix.exists():
        stop_server(prefix)  # gone, not just told to go: the new copy may reuse the folder's inode
        shutil.rmtree(prefix)
    template = make_template()
    subprocess.run(["wineserver", "-w"], env=base_environment(template), check=True, timeout=120)
    shutil.copytree(template, prefix, symlinks=True)
    yield runner
    stop_server(prefix)


def _console_lines(out):
    """Splits Typeloader's output (each line ends in CR CR LF) into lines."""
    text = out.decode("latin-1")
    assert text == "" or text.endswith("\r\r\n"), repr(text)
    return text.split("\r\r\n")[:-1]


@pytest.fixture(scope="session")
def console_lines():
    return _console_lines


# What the link and the build step beside it leave in the build folder
# (TYPELOADER_BUILD_DIR, TYPELOADER_LINK_MAP, TYPELOADER_NOTICES set by ctest).
@pytest.fixture(scope="session")
def build_dir():
    return _path("TYPELOADER_BUILD_DIR", BUILD_DIR)


@pytest.fixture(scope="session")
def link_map(build_dir):
    path = _path("TYPELOADER_LINK_MAP", build_dir / "Typeloader.map")
    assert path.is_file(), f"build Typeloader.exe first (its link writes the map): {path}"
    return path


@pytest.fixture(scope="session")
def notices(build_dir):
    path = _path("TYPELOADER_NOTICES", build_dir / "THIRD-PARTY-NOTICES.txt")
    assert path.is_file(), f"build the third_party_notices target first: {path}"
    return path
