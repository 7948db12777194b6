"""What the executable file itself holds: a 64-bit console program that needs
only Windows' own KnownDLLs, imports only the reviewed functions, carries the
loader's exploit mitigations, is small enough to copy anywhere and has no
path for Wine; and no static that the deploy's shared work could set up on
first use."""
import pathlib
import re
import shutil
import subprocess

import pefile
import pytest

ALLOW_LIST = pathlib.Path(__file__).with_name("allowed-imports.txt")
# Typeloader-Deploy.exe's reviewed imports: a list of its own.
ALLOW_LISTS = {"Typeloader.exe": ALLOW_LIST,
               "Typeloader-Deploy.exe": pathlib.Path(__file__).with_name("allowed-imports-deploy.txt")}

# Imports that antivirus heuristics read as tampering with other processes or
# threads (winpthreads brought them in); none of them is ever needed here.
NEVER_IMPORTED = {
    "SuspendThread", "ResumeThread", "GetThreadContext", "SetThreadContext",
    "OpenProcess", "DuplicateHandle", "SetProcessAffinityMask", "IsDebuggerPresent",
    "CreateRemoteThread", "WriteProcessMemory", "VirtualAllocEx", "OpenThread",
}

IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000
MITIGATIONS = {"HIGH_ENTROPY_VA": 0x0020, "DYNAMIC_BASE": 0x0040, "NX_COMPAT": 0x0100}


def read_allow_list(text):
    """{DLL name (upper case): {function}} from the allow-list's sections."""
    allowed, dll = {}, None
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.split("#", 1)[0].strip()
        if not line:
            continue
        section = re.fullmatch(r"\[(\S+)\]", line)
        if section:
            dll = section.group(1).upper()
            assert dll not in allowed, f"line {number}: {dll} listed twice"
            allowed[dll] = set()
        else:
            assert dll, f"line {number}: a function before any [DLL]"
            assert re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", line), f"line {number}: {raw!r}"
            assert line not in allowed[dll], f"line {number}: {line} listed twice"
            allowed[dll].add(line)
    return allowed


@pytest.fixture(scope="module", params=list(ALLOW_LISTS))
def exe_name(request):
    return request.param


@pytest.fixture(scope="module")
def image(typeloader_exe, exe_name):
    pe = pefile.PE(str(typeloader_exe.with_name(exe_name)))
    yield pe
    pe.close()


@pytest.fixture(scope="module")
def imports(image):
    found = {}
    for entry in image.DIRECTORY_ENTRY_IMPORT:
        names = found.setdefault(entry.dll.decode().upper(), set())
        for symbol in entry.imports:
            assert symbol.name, f"{entry.dll.decode()}: import by ordinal {symbol.ordinal}"
            names.add(symbol.name.decode())
    return found


def test_imports_only_known_dlls(imports):
    assert set(imports) == {"ADVAPI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL"}


def test_imports_exactly_the_allow_list(imports, exe_name):
    allow_list = ALLOW_LISTS[exe_name]
    allowed = read_allow_list(allow_list.read_text(encoding="utf-8"))
    for dll in sorted(set(allowed) | set(imports)):
        new = sorted(imports.get(dll, set()) - allowed.get(dll, set()))
        gone = sorted(allowed.get(dll, set()) - imports.get(dll, set()))
        assert not new, f"{dll}: imported but not on {allow_list.name}: {new}"
        assert not gone, f"{dll}: on {allow_list.name} but no longer imported: {gone}"


@pytest.mark.parametrize("allow_list", ALLOW_LISTS.values(), ids=list(ALLOW_LISTS))
def test_allow_list_holds_no_tampering_import(allow_list):
    allowed = read_allow_list(allow_list.read_text(encoding="utf-8"))
    listed = set().union(*allowed.values())
    assert not listed & NEVER_IMPORTED


@pytest.mark.parametrize("text, problem", [
    ("Sleep\n", "a function before any [DLL]"),
    ("[KERNEL32.dll]\nSleep\nSleep\n", "listed twice"),
    ("[KERNEL32.dll]\n[kernel32.dll]\n", "listed twice"),
    ("[KERNEL32.dll]\nSleep Wake\n", "line 2"),
], ids=["function outside a section", "function twice", "DLL twice", "two words"])
def test_allow_list_reader_refuses_a_malformed_list(text, problem):
    with pytest.raises(AssertionError, match=re.escape(problem)):
        read_allow_list(text)


def test_no_delay_loaded_imports(image):
    assert not hasattr(image, "DIRECTORY_ENTRY_DELAY_IMPORT")


def test_is_a_64_bit_console_program(image):
    assert image.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]
    assert image.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"]


@pytest.mark.parametrize("flag", MITIGATIONS)
def test_loader_mitigation_is_on(image, flag):
    assert image.OPTIONAL_HEADER.DllCharacteristics & MITIGATIONS[flag], flag


def test_relocations_present_so_aslr_can_move_it(image):
    relocations = image.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    assert relocations.Size > 0


def test_no_section_is_both_writable_and_executable(image):
    for section in image.sections:
        name = section.Name.rstrip(b"\0").decode()
        both = IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_MEM_WRITE
        assert section.Characteristics & both != both, name


def test_no_debug_sections(image):
    names = [section.Name.rstrip(b"\0").decode() for section in image.sections]
    assert not [name for name in names if name.startswith((".debug", "/"))], names


def test_console_line_uses_msvcrt_wide_output(imports):
    assert "wprintf" in imports["MSVCRT.DLL"]


def test_stays_within_128_kib(typeloader_exe):
    assert typeloader_exe.stat().st_size <= 128 * 1024


# The deploy program's budget: 327 KiB once it also read the second list of
# restart-time operations, bounded its font check, kept copies aside, ran
# Typeloader.exe in a job and read the unfinished runs before it; 357 KiB
# once a title became a package with a version (dropped fonts, the Apps &
# features entry, the kept copy, /whatif). A step past the budget is a
# reviewed change.
def test_deploy_program_stays_within_360_kib(typeloader_exe):
    assert typeloader_exe.with_name("Typeloader-Deploy.exe").stat().st_size <= 360 * 1024


def test_looks_for_no_wine(typeloader_exe, exe_name):
    """No path of its own for Wine: not a word of Wine's (wine_get_version, an
    export only Wine's ntdll has, above all) in either program's bytes. The test
    bed runs another link of Typeloader-Deploy.exe under Wine
    (tests/e2e/wine_account.cpp), which is never shipped; the allow-list keeps
    the token reads that link needs out of this one."""
    data = typeloader_exe.with_name(exe_name).read_bytes().lower()
    for word in (b"wine", "wine".encode("utf-16-le")):
        at = data.find(word)
        assert at < 0, f"{exe_name} at {at:#x}: {data[max(at - 16, 0):at + 40]!r}"


# Typeloader-Deploy.exe's own objects whose function-local statics need code
# to run on first use (a call to __cxa_guard_acquire), each reviewed as never
# reached by the work that two threads share (platform/side_by_side.h): both
# threads start at once, and this toolchain's threads cannot wait for one
# another's static initialisation.
GUARDED_STATICS_OFF_THE_SHARED_WORK = {
    "platform/win32/system_modules.cpp": "DLLs loaded for the command line, the Fonts folder and file versions",
    "platform/win32/files_win32.cpp": "the Fonts and temporary folders, found before the shared work",
    "platform/win32/deploy/standard_output_win32.cpp": "output lines, written by the main thread alone",
}


def test_deploy_objects_set_up_no_static_on_first_use_but_the_reviewed(build_dir):
    nm = shutil.which("x86_64-w64-mingw32-nm")
    assert nm, "needs binutils-mingw-w64-x86-64"
    guarded = set()
    libraries = ("typeloader_core", "typeloader_win32", "typeloader_deploy", "typeloader_deploy_win32")
    objects = [path for library in libraries for path in (build_dir / "CMakeFiles" / f"{library}.dir").rglob("*.obj")]
    assert len(objects) > 30, objects
    for path in objects:
        undefined = subprocess.run([nm, "-u", str(path)], capture_output=True, text=True, check=True).stdout
        if "__cxa_guard_acquire" in undefined.split():
            source = path.relative_to(build_dir / "CMakeFiles").as_posix().split("/", 1)[1]
            guarded.add(source.removesuffix(".obj"))
    new = sorted(guarded - set(GUARDED_STATICS_OFF_THE_SHARED_WORK))
    assert not new, f"function-local statics set up on first use, not reviewed: {new}"
