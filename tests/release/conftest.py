"""Shared fixtures for the release checks: paths, and the end-to-end tests'
Wine harness (tests/e2e/wine_prefix.py).

Environment (set by ctest; the defaults fit `cmake --preset windows`):
  TYPELOADER_EXE            the built Typeloader.exe
  TYPELOADER_VERSION_PROBE  the built version_probe.exe
  TYPELOADER_ZIP            the bundle made by cpack
  TYPELOADER_RELEASE_WORK   scratch folder (Wine prefix, unpacked bundle)
  TLTEST_EXE, E2E_WORK_DIR  as for the end-to-end tests
  TYPELOADER_DEPLOY_WINE_EXE  the test bed's link of Typeloader-Deploy.exe
                            (tests/e2e/wine_account.cpp), run in its place
                            where a story needs Wine's files trusted
  TYPELOADER_VERSION        the expected version, 1.0.0.2
"""
import os
import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "e2e"))
from wine_prefix import private_machine, pytest_runtest_makereport, wine_journal  # noqa: E402,F401 (fixture and hook)

SOURCE_DIR = pathlib.Path(os.environ.get("TYPELOADER_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
BUILD_DIR = SOURCE_DIR / "build" / "windows"
VERSION = os.environ.get("TYPELOADER_VERSION", "1.0.0.2")


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
def deploy_exe_for_wine():
    """Wine gives every file to the account running it, which the shipped
    deploy program rightly refuses; the stories run this link, and
    test_binary.py holds the shipped one to having no path for Wine."""
    path = _path("TYPELOADER_DEPLOY_WINE_EXE", BUILD_DIR / "tests" / "e2e" / "wine-account" / "Typeloader-Deploy.exe")
    assert path.is_file(), f"build the Typeloader-Deploy-wine target first: {path}"
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


@pytest.fixture(scope="session")
def wine(request, work_dir):
    """The end-to-end tests' harness: a private prefix under the build tree,
    never ~/.wine, with their failure report of every Wine run."""
    yield from private_machine(request, f"release-{work_dir.name}")


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
