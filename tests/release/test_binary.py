"""What the executable file itself holds: a 64-bit console program that needs
only Windows' own DLLs, small enough to copy anywhere."""
import re
import shutil
import subprocess

import pytest

SYSTEM_DLLS = {"ADVAPI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL", "SHELL32.DLL"}


@pytest.fixture(scope="module")
def headers(typeloader_exe):
    objdump = shutil.which("x86_64-w64-mingw32-objdump")
    if not objdump:
        pytest.fail("x86_64-w64-mingw32-objdump is missing (binutils-mingw-w64-x86-64)")
    return subprocess.run([objdump, "-p", str(typeloader_exe)], check=True,
                          capture_output=True, text=True).stdout


def test_imports_only_system_dlls(headers):
    dlls = {name.upper() for name in re.findall(r"DLL Name: (\S+)", headers)}
    assert dlls == SYSTEM_DLLS


def test_is_a_64_bit_console_program(headers):
    assert re.search(r"file format pei-x86-64", headers)
    assert re.search(r"Subsystem\s+00000003", headers)  # Windows CUI


def test_console_line_uses_msvcrt_wide_output(headers):
    assert re.search(r"\bwprintf\b", headers)


def test_stays_under_200_kib(typeloader_exe):
    assert typeloader_exe.stat().st_size < 200 * 1024
