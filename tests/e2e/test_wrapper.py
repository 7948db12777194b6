"""The fleet wrapper Typeloader-Deploy.cmd under Wine's cmd, beside the real
Typeloader.exe. Each row lays out the Font folder, runs the wrapper through
tltest (which reads the whole exit code on the Windows side: Linux gets only
its low 8 bits, 3010 would arrive as 194), and checks the exit code, the
lines, the log record, the registry and the copies."""
import os
import pathlib
import shutil

import pytest

from make_font import make_font
from wine_prefix import console_line, hex16, table_walk

SOURCE_DIR = pathlib.Path(__file__).resolve().parents[2]
WRAPPER = SOURCE_DIR / "packaging" / "Typeloader-Deploy.cmd"
CMD = r"C:\windows\system32\cmd.exe"
WRAPPER_PATH = r"C:\Typeloader\Typeloader-Deploy.cmd"
TITLE = "E2eWrap"
OLD_TIME = 1_600_000_000  # a source time that a fresh file could not have by chance


@pytest.fixture(scope="module")
def machine(wine, tmp_path_factory):
    shutil.copy2(WRAPPER, wine.program_dir / "Typeloader-Deploy.cmd")
    fonts = tmp_path_factory.mktemp("fonts")
    wine.sample_fonts = {}
    for family in ("Alpha", "Beta"):
        make_font(str(fonts / f"{family}.ttf"), f"E2eWrap{family}")
        wine.sample_fonts[f"{family}.ttf"] = (fonts / f"{family}.ttf").read_bytes()
    wine.log_file = wine.drive_c / "ProgramData" / "Typeloader" / "Typeloader-Deploy.log"
    return wine


def run_wrapper(machine, arguments, lock=None, program=CMD, command_line=None):
    """(exit code as Windows reports it, stdout bytes, stderr bytes)."""
    command_line = command_line or f"cmd /c {WRAPPER_PATH} {arguments}"
    args = ["code", hex16(program), hex16(command_line)]
    if lock:
        args = ["lock", hex16(lock), *args]
    done = machine.wine(machine.tltest, *args)
    assert done.returncode == 0, (done.returncode, done.stderr)
    first, _, output = done.stdout.partition(b"\n")
    return int(first), output, done.stderr


def reset(machine, fonts=("Alpha.ttf",), folders=(), extra=None):
    """Font holds exactly these entries; no E2e registration and no copy left."""
    shutil.rmtree(machine.font_dir, ignore_errors=True)
    machine.font_dir.mkdir()
    for name in fonts:
        path = machine.font_dir / name
        path.write_bytes(machine.sample_fonts.get(name, machine.sample_fonts["Alpha.ttf"]))
        os.utime(path, (OLD_TIME, OLD_TIME))
    for name in folders:
        (machine.font_dir / name).mkdir()
    for name, data in (extra or {}).items():
        (machine.font_dir / name).write_bytes(data)
    for name in machine.strings():
        if name.startswith("E2e"):
            assert machine.delete_value(name)
    for name in [*fonts, *folders, *(extra or {})]:
        copy = machine.fonts_folder / name
        if copy.is_dir():
            copy.rmdir()
        elif copy.exists():
            copy.unlink()


def log_mark(machine):
    return machine.log_file.stat().st_size if machine.log_file.exists() else 0


def log_since(machine, mark):
    return machine.log_file.read_bytes()[mark:].decode("latin-1").replace("\r\r\n", "\n").replace("\r\n", "\n")


def install_output(names, title=TITLE):
    walk = table_walk([(name.rsplit(".", 1)[0], name) for name in names])
    return console_line(f"Install Font : {title}") + b"".join(
        console_line(f"Install OK : {title} {key}") for key, _ in walk)


def verdict(code):
    return f"Typeloader-Deploy: exit code {code}\r\n".encode()


def ours(machine, title=TITLE):
    return {name: data for name, data in machine.strings().items() if name.startswith(title)}


# --- installs: exit code, lines, log, copies ---------------------------------

def test_clean_install_registers_copies_identical_and_logs(machine):
    reset(machine, fonts=("Alpha.ttf", "Beta.ttf"))
    mark = log_mark(machine)
    code, output, _ = run_wrapper(machine, f"install {TITLE}")
    assert code == 3010
    assert output == install_output(["Alpha.ttf", "Beta.ttf"]) + verdict(3010)
    assert ours(machine) == {f"{TITLE} Alpha": r"C:\windows\Fonts\Alpha.ttf",
                             f"{TITLE} Beta": r"C:\windows\Fonts\Beta.ttf"}
    for name in ("Alpha.ttf", "Beta.ttf"):
        source, copy = machine.font_dir / name, machine.fonts_folder / name
        assert copy.read_bytes() == source.read_bytes(), name
        assert copy.stat().st_mtime == source.stat().st_mtime == OLD_TIME, name
    record = log_since(machine, mark).splitlines()
    assert record[0].startswith("==== ")
    assert record[0].endswith(f' Install "{TITLE}" with "C:\\Typeloader\\Typeloader.exe"')
    program_lines = install_output(["Alpha.ttf", "Beta.ttf"]).decode().split("\r\r\n")[:-1]
    assert record[1:] == [*program_lines, "exit code 3010"]


def test_second_install_changes_again_and_appends_a_second_record(machine):
    reset(machine, fonts=("Alpha.ttf",))
    assert run_wrapper(machine, f"install {TITLE}")[0] == 3010
    mark = log_mark(machine)
    code, output, _ = run_wrapper(machine, f"install {TITLE}")
    assert (code, output) == (3010, install_output(["Alpha.ttf"]) + verdict(3010))
    record = log_since(machine, mark).splitlines()
    assert len(record) == 4 and record[-1] == "exit code 3010"
    assert machine.log_file.read_bytes().count(b"\r\nexit code 3010\r\n") >= 2


# Rows: (name, Font entries, folders, lock the destination of, expected log lines).
FAILED_INSTALLS = [
    ("folder_named_like_a_font", ("Alpha.ttf",), ("Folder.ttf",), None,
     ['not a file: "Font\\Folder.ttf"', "failed: a folder in Font is named like a font"]),
    ("destination_held_open_old_copy_stays", ("Alpha.ttf",), (), "Alpha.ttf",
     ['not copied: "Font\\Alpha.ttf" is {size} bytes, ', "failed: a copy differs from its source"]),
    ("empty_font_folder", (), (), None, ["failed: nothing to install in Font"]),
]


@pytest.mark.parametrize("name, fonts, folders, lock, expected_log", FAILED_INSTALLS,
                         ids=[row[0] for row in FAILED_INSTALLS])
def test_failed_install_exits_1_and_logs_why(machine, name, fonts, folders, lock, expected_log):
    reset(machine, fonts=fonts, folders=folders)
    held = None
    if lock:
        old = machine.fonts_folder / lock
        old.write_bytes(b"version one, in use")
        held = "C:\\windows\\Fonts\\" + lock
    mark = log_mark(machine)
    code, output, _ = run_wrapper(machine, f"install {TITLE}", lock=held)
    assert code == 1
    assert output == install_output([*fonts, *folders]) + verdict(1)
    record = log_since(machine, mark).splitlines()
    assert record[-1] == "exit code 1"
    size = len(machine.sample_fonts["Alpha.ttf"])
    for wanted in expected_log:
        wanted = wanted.format(size=size)
        assert any(line.startswith(wanted) for line in record), (wanted, record)
    if lock:
        assert (machine.fonts_folder / lock).read_bytes() == b"version one, in use"
        assert f"{TITLE} Alpha" in ours(machine)  # registered though not copied


def test_title_with_spaces_is_one_argument(machine):
    reset(machine, fonts=("Alpha.ttf",))
    code, output, _ = run_wrapper(machine, 'install "E2e Wrap Spaced"')
    assert (code, output) == (3010, install_output(["Alpha.ttf"], "E2e Wrap Spaced") + verdict(3010))
    assert ours(machine, "E2e") == {"E2e Wrap Spaced Alpha": r"C:\windows\Fonts\Alpha.ttf"}
    code, output, _ = run_wrapper(machine, 'uninstall "E2e Wrap Spaced"')
    assert (code, output) == (3010, console_line("Uninstall Font : E2e Wrap Spaced")
                              + console_line("Uninstall OK : E2e Wrap Spaced Alpha") + verdict(3010))
    assert ours(machine, "E2e") == {}


def test_started_the_way_fleet_tools_start_a_cmd_file(machine):
    # Ansible's argv and Intune hand the .cmd itself to CreateProcess.
    reset(machine, fonts=("Alpha.ttf",))
    code, output, _ = run_wrapper(machine, None, program=WRAPPER_PATH,
                                  command_line=f'{WRAPPER_PATH} install "E2e Wrap Argv"')
    assert (code, output) == (3010, install_output(["Alpha.ttf"], "E2e Wrap Argv") + verdict(3010))


def test_short_name_match_is_checked_like_any_font(machine):
    reset(machine, fonts=("Alpha.ttf",), extra={"Gamma.ttfx": b"short-name match"})
    code, output, _ = run_wrapper(machine, f"install {TITLE}")
    assert code == 3010
    assert (machine.fonts_folder / "Gamma.ttfx").read_bytes() == b"short-name match"
    assert f"{TITLE} Gamma" in ours(machine)


def test_hidden_entry_in_font_fails_since_the_check_cannot_see_it(machine):
    reset(machine, fonts=("Alpha.ttf", "Beta.ttf"))
    assert run_wrapper(machine, None, program=CMD,
                       command_line=r"cmd /c attrib +h C:\Typeloader\Font\Beta.ttf")[0] == 0
    mark = log_mark(machine)
    assert run_wrapper(machine, f"install {TITLE}")[0] == 1
    assert "failed: hidden entries in Font, which are not checked" in log_since(machine, mark)


def test_program_missing_or_failing_gives_1(machine):
    reset(machine, fonts=("Alpha.ttf",))
    exe = machine.program_dir / "Typeloader.exe"
    kept = machine.program_dir / "Typeloader.kept"
    exe.rename(kept)
    try:
        mark = log_mark(machine)
        assert run_wrapper(machine, f"install {TITLE}")[:2] == (1, verdict(1))
        assert "failed: Typeloader.exe is missing beside this script" in log_since(machine, mark)
        # Another program in its place that exits 2 (tltest's usage).
        shutil.copy2(machine.tltest, exe)
        mark = log_mark(machine)
        assert run_wrapper(machine, f"install {TITLE}")[0] == 1
        assert "failed: Typeloader.exe exited with 2" in log_since(machine, mark)
    finally:
        exe.unlink(missing_ok=True)
        kept.rename(exe)


# --- uninstall -----------------------------------------------------------------

def test_uninstall_of_installed_title_gives_3010_then_0(machine):
    reset(machine, fonts=("Alpha.ttf", "Beta.ttf"))
    assert run_wrapper(machine, f"install {TITLE}")[0] == 3010
    order = [name for name in machine.strings() if name.startswith(TITLE)]
    code, output, _ = run_wrapper(machine, f"uninstall {TITLE}")
    assert (code, output) == (3010, console_line(f"Uninstall Font : {TITLE}") + b"".join(
        console_line(f"Uninstall OK : {name}") for name in order) + verdict(3010))
    assert ours(machine) == {}
    assert (machine.fonts_folder / "Alpha.ttf").exists()  # the copies stay
    mark = log_mark(machine)
    code, output, _ = run_wrapper(machine, f"Uninstall {TITLE}")
    assert (code, output) == (0, console_line(f"Uninstall Font : {TITLE}") + verdict(0))
    assert log_since(machine, mark).splitlines()[-1] == "exit code 0"


def test_uninstall_of_unknown_title_gives_0(machine):
    reset(machine)
    assert run_wrapper(machine, "uninstall E2eNeverInstalled")[:2] == (
        0, console_line("Uninstall Font : E2eNeverInstalled") + verdict(0))


def test_linked_log_folder_stops_before_any_write(machine, tmp_path):
    """A log folder that is a link (a junction on Windows; Wine shows a Unix
    symlink as a reparse point) is refused: the elevated job would write through it."""
    reset(machine)
    log_folder = machine.log_file.parent
    log_folder.mkdir(parents=True, exist_ok=True)
    kept = log_folder.with_name("Typeloader.kept")
    log_folder.rename(kept)
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    log_folder.symlink_to(elsewhere, target_is_directory=True)
    try:
        code, output, errors = run_wrapper(machine, f"install {TITLE}")
    finally:
        log_folder.unlink()
        kept.rename(log_folder)
    assert (code, output) == (1, b"")
    assert b"is a link or junction" in errors
    assert list(elsewhere.iterdir()) == []
    assert ours(machine) == {}


# --- usage errors and refused titles: exit 2, the program never runs ----------

# Rows: (name, arguments after the wrapper's path, what it says on stderr).
USAGE = b"Usage: Typeloader-Deploy.cmd install|uninstall"
REFUSED = b"Refused: a title with a double quote or any of % ^ & | < > !"
BAD_ARGUMENTS = [
    ("no_arguments", "", USAGE),
    ("missing_title", "install", USAGE),
    ("empty_title", 'install ""', USAGE),
    ("misspelt_job", f"unistall {TITLE}", USAGE),
    ("job_in_quotes", f'"install" {TITLE}', USAGE),
    ("title_of_two_words_without_quotes", "install E2e Wrap", USAGE),
    ("comma_splits_the_title", "install E2e,Wrap", USAGE),
    ("inner_quote", 'install "E2e"Wrap"', REFUSED),
    ("quote_without_leading_quote", 'install E2e"Wrap', REFUSED),
    ("unclosed_quote", 'install "E2e Wrap', REFUSED),
    ("ampersand", 'install "E2e&Wrap"', REFUSED),
    ("pipe", 'install "E2e|Wrap"', REFUSED),
    ("less_than", 'install "E2e<Wrap"', REFUSED),
    ("greater_than", 'install "E2e>Wrap"', REFUSED),
    ("caret", 'install "E2e^Wrap"', REFUSED),
    ("exclamation_mark", 'install "E2e!Wrap"', REFUSED),
    pytest.param("percent_sign", 'install "E2e%PERCENT%Wrap"', REFUSED, marks=pytest.mark.xfail(
        strict=True, reason="Wine's cmd drops a lone % from a batch argument before the script "
                            "can see it, so it installs 'E2eWrap'; Windows' cmd passes it on and "
                            "the wrapper's for /f check refuses it"), id="percent_sign"),
]


@pytest.mark.parametrize("name, arguments, message", BAD_ARGUMENTS,
                         ids=[row[0] if isinstance(row, tuple) else row.id for row in BAD_ARGUMENTS])
def test_usage_errors_and_refused_titles_give_2_and_change_nothing(machine, name, arguments, message):
    reset(machine)
    machine.env["PERCENT"] = "%"
    before = machine.values()
    mark = log_mark(machine)
    code, output, errors = run_wrapper(machine, arguments)
    assert code == 2
    assert output == b""
    assert machine.values() == before
    record = log_since(machine, mark)
    assert record.endswith("exit code 2\n") and record.count("====") == 1, record
    assert message in errors, errors


def test_titles_with_parentheses_and_separators_pass_inside_quotes(machine):
    reset(machine, fonts=("Alpha.ttf",))
    title = "E2e (Wrap) a=b,c;d"
    code, output, _ = run_wrapper(machine, f'install "{title}"')
    assert (code, output) == (3010, install_output(["Alpha.ttf"], title) + verdict(3010))
    assert ours(machine, "E2e") == {f"{title} Alpha": r"C:\windows\Fonts\Alpha.ttf"}
