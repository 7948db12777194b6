"""Typeloader-Deploy.exe under Wine: whole exit codes (read Windows-side),
its output, the log, the fonts key and the Fonts folder around every run."""
import concurrent.futures
import os
import re
import shutil
import time

import pytest

from deploy_runs import (DEPLOY, FONTS, USAGE, add_fonts, assert_after_restart, clean, deploy, deploy_exe,  # noqa: F401 (fixtures)
                         held, job, lines, log_folder, machine, record_lines, remove, restart)
from make_font import make_font
from wine_prefix import hex16, program_result, quote

KILLED = 0xDEAD  # tltest's exit code for the program it ended
RECORD = re.compile(r'<!\[LOG\[(.*)\]LOG\]!><time="\d\d:\d\d:\d\d\.\d{3}[+-]\d{3}" date="\d\d-\d\d-\d{4}" '
                    r'component="Typeloader-Deploy" context="" type="([123])" thread="\d+" file="">')


def test_install_then_nothing_to_change_then_uninstall(wine):
    add_fonts(wine, "DepA.ttf", "DepB.ttf")
    before = machine(wine)
    code, out = job(wine, "install", "E2eDep")
    assert code == 0, out
    assert lines(out)[-2:] == ['Installed and verified under "E2eDep"; new sessions see the fonts, a sign-out and sign-in shows '
                               'them in this one. Exit code 0.', "changed"]
    strings = wine.strings()
    for name in ("DepA", "DepB"):
        assert strings["E2eDep " + name] == f"{FONTS}\\{name}.ttf"
        assert (wine.fonts_folder / f"{name}.ttf").read_bytes() == (wine.font_dir / f"{name}.ttf").read_bytes()
    installed = machine(wine)

    code, again = job(wine, "install", "E2eDep")
    assert code == 0, again
    assert lines(again)[-1] == "unchanged"
    assert not any(line.startswith("Running:") for line in lines(again))
    assert machine(wine) == installed

    # The folder the program made: Wine shows its access list as Unix mode bits,
    # so "SYSTEM and Administrators only" shows as nothing for others.
    assert log_folder(wine).stat().st_mode & 0o007 == 0
    # The log holds every line printed, as CMTrace records, UTF-8 after its BOM.
    log = (log_folder(wine) / "Typeloader-Deploy.log").read_bytes()
    assert log.startswith(b"\xef\xbb\xbf")
    records = [RECORD.fullmatch(line) for line in log[3:].decode("utf-8").split("\r\n")[:-1]]
    assert all(records), log
    assert [record.group(1) for record in records] == record_lines(out) + record_lines(again)

    code, out = job(wine, "uninstall", "E2eDep")
    assert code == 0, out
    assert lines(out)[-1] == "changed"
    assert machine(wine) == before


def test_the_state_after_the_restart_is_what_counts(wine):
    add_fonts(wine, "RstA.ttf", "RstB.ttf")
    bundle = lambda: {name: (wine.font_dir / name).read_bytes() for name in ("RstA.ttf", "RstB.ttf")}
    assert job(wine, "install", "E2eRst")[0] == 0

    # Uninstalled with a font in use (its copy goes at the restart, which the
    # uninstall does not ask for), then installed again before the restart:
    # the restart must not take the copy away.
    code, out = held(wine, "uninstall", "E2eRst", "RstA.ttf")
    assert (code, lines(out)[-1]) == (0, "changed"), out
    code, out = job(wine, "install", "E2eRst")
    assert (code, lines(out)[-1]) == (3010, "restart"), out
    restart(wine)
    assert_after_restart(wine, "E2eRst", bundle())
    assert job(wine, "install", "E2eRst")[:1] == (0,)

    # An update whose unchanged font is in use needs no restart.
    make_font(str(wine.font_dir / "RstB.ttf"), "E2e RstB Two")
    v2 = bundle()
    code, out = held(wine, "install", "E2eRst", "RstA.ttf")
    assert (code, lines(out)[-1]) == (0, "changed"), out
    assert_after_restart(wine, "E2eRst", v2)

    # An update of a font in use waits for the restart; a rollback before it
    # rewrites what waits instead of adding to it.
    make_font(str(wine.font_dir / "RstB.ttf"), "E2e RstB Three")
    code, out = held(wine, "install", "E2eRst", "RstB.ttf")
    assert (code, lines(out)[-1]) == (3010, "restart"), out
    (wine.font_dir / "RstB.ttf").write_bytes(v2["RstB.ttf"])
    code, out = job(wine, "install", "E2eRst")
    assert (code, lines(out)[-1]) == (3010, "restart"), out
    assert not any(line.startswith("Running:") for line in lines(out)), out
    code, again = job(wine, "install", "E2eRst")
    assert (code, lines(again)[-1]) == (3010, "restart"), again
    restart(wine)
    assert_after_restart(wine, "E2eRst", v2)

    # An uninstall after a staged replacement, with nothing held: nothing comes
    # back at the restart.
    make_font(str(wine.font_dir / "RstB.ttf"), "E2e RstB Four")
    assert held(wine, "install", "E2eRst", "RstB.ttf")[0] == 3010
    code, out = job(wine, "uninstall", "E2eRst")
    assert (code, lines(out)[-1]) == (0, "changed"), out
    restart(wine)
    assert not [name for name in wine.strings() if name.startswith("E2eRst")]
    assert not [entry.name for entry in wine.fonts_folder.iterdir() if entry.name.startswith("Rst")]


def test_two_runs_at_once_never_refuse_falsely(wine):
    add_fonts(wine, "DepTwo.ttf", "DepTwoB.ttf")
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        results = list(pool.map(lambda _: job(wine, "install", "E2eTwo"), range(2)))
    assert sorted(code for code, _ in results) == [0, 0], results
    assert sorted(lines(out)[-1] for _, out in results) == ["changed", "unchanged"], results
    assert job(wine, "uninstall", "E2eTwo")[0] == 0


def test_a_held_log_answers_busy_after_waiting(wine):
    assert job(wine, "uninstall", "E2eNobody")[0] == 0
    code, out = deploy(wine, "d uninstall E2eNobody", lock=r"C:\windows\Logs\Typeloader\Typeloader-Deploy.log")
    assert code == 1618, out
    assert lines(out)[-1] == "busy"


def arrange_bare_name_conflict(wine):
    wine.set_value("E2e Windows Font (TrueType)", 1, "depwin.ttf")
    (wine.fonts_folder / "depwin.ttf").write_bytes(b"\0\1\0\0windows' own")
    add_fonts(wine, "DEPWIN.ttf")


def arrange_prefix_collision(wine):
    wine.set_value("E2eRefCorp Mono", 1, FONTS + r"\Mono.ttf")
    add_fonts(wine, "DepOk.ttf")


def arrange_other_case(wine):
    wine.set_value("E2EREF DepOk", 1, FONTS + r"\Other.ttf")
    add_fonts(wine, "DepOk.ttf")


def arrange_variable_alias(wine):
    (wine.fonts_folder / "DepAlias.ttf").write_bytes(b"\0\1\0\0another product's")
    wine.set_value("E2e Alias", 2, "%SystemRoot%\\Fonts\\DEPALIAS.TTF")
    add_fonts(wine, "DepAlias.ttf")


REFUSALS = {
    "no entry": (lambda wine: (wine.font_dir / "README.txt").write_text("x"), r"C:\Typeloader\Font holds no *.ttf entry"),
    "a folder": (lambda wine: (add_fonts(wine, "DepOk.ttf"), (wine.font_dir / "Sub.ttf").mkdir()), "Sub.ttf: it is a folder"),
    "a link to a folder": (lambda wine: (add_fonts(wine, "DepOk.ttf"), os.symlink(wine.fonts_folder, wine.font_dir / "Link.ttf")),
                           "Link.ttf: it is a link or another reparse point"),
    "a link to a file that is no font": (lambda wine: (add_fonts(wine, "DepOk.ttf"),
                                                       os.symlink(wine.drive_c / "windows" / "win.ini", wine.font_dir / "leak.ttf")),
                                         "leak.ttf: it is not a TrueType or OpenType font"),
    "not a font": (lambda wine: (wine.font_dir / "Fake.ttf").write_bytes(b"MZ\x90\0"), "Fake.ttf: it is not a TrueType"),
    "short-name match": (lambda wine: add_fonts(wine, "DepOk.ttf", "Long.ttfx"), "Long.ttfx: its name does not end in .ttf"),
    "empty file title": (lambda wine: add_fonts(wine, "DepOk.ttf", ".ttf"), r"Font\.ttf: its file title is empty"),
    "Windows' bare-name file": (arrange_bare_name_conflict,
                                'DEPWIN.ttf holds another font, which the registration "E2e Windows Font (TrueType)" refers to'),
    "prefix collision": (arrange_prefix_collision, '"E2eRefCorp Mono" (C:\\windows\\Fonts\\Mono.ttf) is not this title\'s'),
    # The registry ignores case: E2EREF's "E2EREF DepOk" is this value.
    "another product's name in other case": (arrange_other_case, '"E2EREF DepOk" (C:\\windows\\Fonts\\Other.ttf) is not this title'),
    "another registration under a variable": (arrange_variable_alias,
                                              'DepAlias.ttf holds another font, which the registration "E2e Alias" refers to'),
}


@pytest.mark.parametrize("case", REFUSALS, ids=list(REFUSALS))
def test_install_refused_changes_nothing(wine, case):
    arrange, reason = REFUSALS[case]
    arrange(wine)
    before = machine(wine)
    code, out = job(wine, "install", "E2eRef")
    assert code == 1, out
    assert any(reason in line for line in lines(out)), out
    assert lines(out)[-2:] == ["Refused: nothing was changed. Exit code 1.", "refused"]
    assert machine(wine) == before
    for name in ("E2e Windows Font (TrueType)", "E2eRefCorp Mono", "E2EREF DepOk", "E2e Alias"):
        wine.delete_value(name)
    (wine.fonts_folder / "DepAlias.ttf").unlink(missing_ok=True)


def test_a_title_with_a_line_break_is_a_usage_error(wine):
    add_fonts(wine, "DepCr.ttf")
    before = machine(wine)
    code, out = deploy(wine, 'd install "E2eCr\rInstall FAIL : x"')
    assert (code, out) == (2, USAGE)
    assert machine(wine) == before


def test_a_font_held_open_by_another_program_answers_busy_naming_it(wine):
    add_fonts(wine, "DepHeld.ttf")
    before = machine(wine)
    code, out = deploy(wine, "d install E2eHeld", lock=r"C:\Typeloader\Font\DepHeld.ttf")
    assert code == 1618, out
    assert any("DepHeld.ttf: another program holds it open" in line for line in lines(out)), out
    assert lines(out)[-1] == "busy", out
    assert machine(wine) == before


def test_guarded_uninstall_and_titles_that_never_collide(wine):
    add_fonts(wine, "DepV.ttf")
    assert job(wine, "install", "Contoso-v02")[0] == 0
    assert job(wine, "install", "Contoso-v01")[0] == 0  # the same copy under another title
    wine.set_value("Contoso-v02Extra Mono", 1, FONTS + r"\Mono.ttf")
    before = machine(wine)
    code, out = job(wine, "uninstall", "Contoso-v02")
    assert code == 1, out
    assert 'Refused: "Contoso-v02Extra Mono" (C:\\windows\\Fonts\\Mono.ttf) is not this title\'s registration' in out.decode()
    assert machine(wine) == before
    wine.delete_value("Contoso-v02Extra Mono")
    assert job(wine, "uninstall", "Contoso-v01")[0] == 0
    assert wine.strings()["Contoso-v02 DepV"] == FONTS + r"\DepV.ttf"
    # The copy is still registered under v02, so it stays.
    assert (wine.fonts_folder / "DepV.ttf").exists()
    assert job(wine, "uninstall", "Contoso-v02")[0] == 0
    assert not (wine.fonts_folder / "DepV.ttf").exists()


def test_bare_name_registration_keeps_its_file(wine):
    add_fonts(wine, "DepShared.ttf")
    assert job(wine, "install", "E2eShare")[0] == 0
    wine.set_value("E2e Windows Shared", 1, "depshared.TTF")
    code, out = job(wine, "uninstall", "E2eShare")
    assert code == 0, out
    assert "E2eShare DepShared" not in wine.strings()
    assert (wine.fonts_folder / "DepShared.ttf").exists()
    wine.delete_value("E2e Windows Shared")


def test_uninstall_of_an_unknown_title(wine):
    before = machine(wine)
    code, out = job(wine, "uninstall", "E2eNobody")
    assert code == 0, out
    assert lines(out)[-2:] == ['Nothing registered under "E2eNobody" and no copy of it left, and no Apps & features entry; '
                               'Typeloader.exe was not run. Exit code 0.', "unchanged"]
    assert machine(wine) == before


@pytest.mark.parametrize("title", ["E2e Spaced Title", 'E2e "quoted"', "E2e % ^ & | < > !",
                                   "E2e Caf\u00e9 \u4e2d\u6587 \U0001F600"],
                         ids=["spaces", "quotes", "cmd metacharacters", "above U+00FF"])
def test_any_title_reaches_typeloader_intact(wine, title):
    add_fonts(wine, "DepT.ttf")
    before = machine(wine)
    code, out = job(wine, "install", title)
    assert code == 0, out
    assert wine.strings()[title + " DepT"] == FONTS + r"\DepT.ttf"
    code, out = job(wine, "uninstall", title)
    assert code == 0, out
    assert machine(wine) == before


# The whole table of job words, options and usage is the host tests'; here the
# real split of quoted words, options in any case, the usage line's bytes, and
# titles whose backslashes survive the split only to be refused (the entry's
# key name cannot hold one).
@pytest.mark.parametrize("command_line, code", [
    ('d "install" "E2eQuoted"', 0), ('d UNINSTALL "E2eQuoted"', 0), ('d install ""', 2), ("d install E2e Two", 2),
    ("d Install E2eQuoted /VERSION:1.0.65535 /WhatIf", 0), ("d install E2eQuoted /version:1.65536", 2),
    ("d uninstall E2eQuoted /whatif /WHATIF", 2),
    ("d install " + quote("E2e trailing\\"), 2), ("d install " + quote('E2e back\\\\slashes\\"'), 2)])
def test_job_words_quoted_or_not_and_usage(wine, command_line, code):
    add_fonts(wine, "DepQ.ttf")
    got, out = deploy(wine, command_line)
    assert got == code, out
    if code == 2:
        assert out == USAGE
        assert not log_folder(wine).exists()


def make_world_writable(wine):
    log_folder(wine).mkdir()
    os.chmod(log_folder(wine), 0o777)


LOG_FOLDERS = {
    "a file": (lambda wine: log_folder(wine).write_bytes(b""), "it is not a folder"),
    "a link": (lambda wine: os.symlink(wine.drive_c / "windows", log_folder(wine)), "it is a link or another reparse point"),
    "a folder others may write": (make_world_writable, "someone other than SYSTEM and Administrators may change it"),
}


@pytest.mark.parametrize("case", LOG_FOLDERS, ids=list(LOG_FOLDERS))
def test_unsafe_log_folder_is_refused_before_anything(wine, case):
    arrange, reason = LOG_FOLDERS[case]
    add_fonts(wine, "DepLog.ttf")
    arrange(wine)
    win_ini = (wine.drive_c / "windows" / "win.ini").read_bytes()
    before = machine(wine)
    code, out = job(wine, "install", "E2eLog")
    assert code == 1
    assert out == f"Typeloader-Deploy: the log folder C:\\windows\\Logs\\Typeloader is refused: {reason}\r\nrefused\r\n".encode()
    assert machine(wine) == before
    assert not (wine.drive_c / "windows" / "Typeloader-Deploy.log").exists()
    assert (wine.drive_c / "windows" / "win.ini").read_bytes() == win_ini


def full_log_and_previous(wine):
    log_folder(wine).mkdir()
    os.chmod(log_folder(wine), 0o750)
    (log_folder(wine) / "Typeloader-Deploy.log").write_bytes(b"x" * (1024 * 1024 + 1))
    (log_folder(wine) / "Typeloader-Deploy.lo_").write_bytes(b"older")


def make_log_world_writable(wine):
    log_folder(wine).mkdir()
    os.chmod(log_folder(wine), 0o750)
    (log_folder(wine) / "Typeloader-Deploy.log").write_bytes(b"kept")
    os.chmod(log_folder(wine) / "Typeloader-Deploy.log", 0o666)


def make_previous_log_world_writable(wine):
    full_log_and_previous(wine)
    os.chmod(log_folder(wine) / "Typeloader-Deploy.lo_", 0o666)


# Wine shows the others' write bit as Everyone's entry on the file itself.
LOG_FILES = {
    "the log others may write": (make_log_world_writable, "Typeloader-Deploy.log"),
    "the previous log others may write, before a rotation": (make_previous_log_world_writable, "Typeloader-Deploy.lo_"),
}


@pytest.mark.parametrize("case", LOG_FILES, ids=list(LOG_FILES))
def test_unsafe_log_file_is_refused_before_anything_is_written(wine, case):
    arrange, name = LOG_FILES[case]
    add_fonts(wine, "DepLog.ttf")
    arrange(wine)
    logs = {entry.name: entry.read_bytes() for entry in log_folder(wine).iterdir()}
    before = machine(wine)
    code, out = job(wine, "install", "E2eLog")
    assert code == 1, out
    assert lines(out)[-1] == "refused", out
    assert lines(out)[0].startswith(f"Typeloader-Deploy: the log C:\\windows\\Logs\\Typeloader\\{name} is refused: "
                                    "Everyone (S-1-1-0) may change it ("), out
    assert len(lines(out)) == 2, out
    assert machine(wine) == before
    assert {entry.name: entry.read_bytes() for entry in log_folder(wine).iterdir()} == logs


def make_font_folder_world_writable(wine):
    add_fonts(wine, "DepBundle.ttf")
    os.chmod(wine.font_dir, 0o777)


@pytest.mark.parametrize("word", ["install", "uninstall"])
def test_font_folder_others_may_write_is_refused(wine, word):
    make_font_folder_world_writable(wine)
    try:
        before = machine(wine)
        code, out = job(wine, word, "E2eBundle")
        assert code == 1, out
        assert lines(out)[-1] == "refused", out
        assert any("C:\\Typeloader\\Font" in line and "Everyone (S-1-1-0) may change" in line for line in lines(out)), out
        assert machine(wine) == before
    finally:
        os.chmod(wine.font_dir, 0o755)


def test_full_log_starts_afresh_keeping_one_previous(wine):
    log_folder(wine).mkdir()
    os.chmod(log_folder(wine), 0o750)
    full = b"x" * (1024 * 1024 + 1)
    (log_folder(wine) / "Typeloader-Deploy.log").write_bytes(full)
    (log_folder(wine) / "Typeloader-Deploy.lo_").write_bytes(b"older")
    assert job(wine, "uninstall", "E2eNobody")[0] == 0
    assert (log_folder(wine) / "Typeloader-Deploy.lo_").read_bytes() == full
    assert (log_folder(wine) / "Typeloader-Deploy.log").stat().st_size < 2000


def test_planted_programs_in_the_current_folder_are_never_run(wine):
    planted = wine.drive_c / "planted-cwd"
    planted.mkdir(exist_ok=True)
    for name in ("Typeloader.exe", "find.exe", "find.bat", "cmd.exe"):
        shutil.copy2(wine.tltest, planted / name)  # would print its usage and exit 2
    add_fonts(wine, "DepCwd.ttf")
    code, out = deploy(wine, "d install E2eCwd", folder=r"C:\planted-cwd")
    assert code == 0, out
    assert "Typeloader.exe: Install OK : E2eCwd DepCwd" in lines(out)
    code, out = deploy(wine, "d uninstall E2eCwd", folder=r"C:\planted-cwd")
    assert code == 0, out
    shutil.rmtree(planted)


def test_failed_install_puts_the_key_back(wine):
    """Typeloader.exe replaced by a faulty one (tltest under that name), which
    writes wrong data for a value that existed and for a new one: the run fails
    and both are as before, Windows' own and other values untouched."""
    add_fonts(wine, "DepOld.ttf")
    assert job(wine, "install", "E2ePut")[0] == 0
    add_fonts(wine, "DepNew.ttf")
    before = machine(wine)
    real = wine.program_dir / "Typeloader.exe"
    kept = real.read_bytes()
    shutil.copy2(wine.tltest, real)
    try:
        code, out = job(wine, "install", "E2ePut")
    finally:
        real.write_bytes(kept)
    assert code == 1, out
    assert lines(out)[-2:] == ["Failed: the fonts key and the Fonts folder are put back as they were. Exit code 1.", "failed"]
    assert machine(wine) == before
    assert job(wine, "uninstall", "E2ePut")[0] == 0


def test_a_link_where_the_private_copy_goes_is_never_walked_through(wine):
    """Whoever may write the log folder could leave a link where the run makes
    its private copy: nothing it points at is touched. Windows removes a
    folder link itself (RemoveDirectory) and the install goes on; Wine cannot
    remove a Unix link to a folder either way, so there the run fails naming
    the link, with nothing changed."""
    assert job(wine, "uninstall", "E2eNobody")[0] == 0  # makes the log folder as a run does
    victim = wine.drive_c / "Victim"
    remove(victim)
    (victim / "Sub").mkdir(parents=True)
    for kept in (victim / "keep.txt", victim / "Sub" / "keep.txt"):
        kept.write_bytes(b"kept")
    os.symlink(victim, log_folder(wine) / "Run")
    add_fonts(wine, "DepLink.ttf")
    before = machine(wine)
    code, out = job(wine, "install", "E2eLink")
    assert (victim / "keep.txt").read_bytes() == b"kept" and (victim / "Sub" / "keep.txt").read_bytes() == b"kept"
    if code == 0:
        assert not os.path.lexists(log_folder(wine) / "Run")
        assert job(wine, "uninstall", "E2eLink")[0] == 0
    else:
        assert code == 1 and machine(wine) == before, out
        assert lines(out)[-3:] == ["Private copy " + r"C:\windows\logs\Typeloader\Run" + " (error 5) could not be removed.",
                                   "Failed: nothing was changed. Exit code 1.", "failed"], out
    remove(victim)


def running_with(text):
    """Whether a process of this machine has `text` in its command line."""
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as cmdline:
                if text.encode() in cmdline.read():
                    return True
        except (OSError, ValueError):
            continue
    return False


def test_typeloader_ends_with_a_deploy_run_that_is_killed(wine):
    """Killed while Typeloader.exe registers, the deploy takes its child with
    it: once every process of the prefix has ended by itself, fewer fonts are
    registered than the bundle holds."""
    fonts = 1000
    make_font(str(wine.font_dir / "Kill0000.ttf"), "E2e Kill")
    for number in range(1, fonts):
        shutil.copy(wine.font_dir / "Kill0000.ttf", wine.font_dir / f"Kill{number:04}.ttf")
    before = len(wine.values())
    code, _ = program_result(wine.wine(wine.tltest, "killafter", before + 20, "run", hex16(DEPLOY),
                                       hex16("Typeloader-Deploy.exe install E2eKill")))
    assert code == KILLED, "the run ended on its own before the kill"
    # Waits, ending none, until no Typeloader.exe of this run is left.
    for _ in range(600):
        if not running_with("/title:E2eKill"):
            break
        time.sleep(0.2)
    assert not running_with("/title:E2eKill")
    registered = [name for name, _, _ in wine.values() if name.startswith("E2eKill ")]
    assert 20 <= len(registered) < fonts, len(registered)
    # The next run finds the killed one unfinished in the log, and installs again.
    code, out = job(wine, "install", "E2eKill")
    assert code == 0, out
    assert ("A run before this one ended before its verdict (its records stand above): "
            "a run of its job and title verifies what it left.") in lines(out), out
    code, out = job(wine, "install", "E2eKill")
    assert (code, lines(out)[-1]) == (0, "unchanged"), out
    assert job(wine, "uninstall", "E2eKill")[0] == 0


def test_a_bundle_reached_through_a_link_on_the_way_is_refused(wine):
    add_fonts(wine, "DepLnk.ttf")
    link = wine.drive_c / "Lnk"
    remove(link)
    os.symlink(wine.drive_c, link)  # C:\Lnk\Typeloader is the bundle, reached through the link
    try:
        before = machine(wine)
        code, out = wine.run_command_line("Typeloader-Deploy.exe install E2eLnk", program=r"C:\Lnk\Typeloader\Typeloader-Deploy.exe")
        assert code == 1, out
        assert r"Refused: C:\Lnk: it is a link or another reparse point, on the way to the bundle." in lines(out), out
        assert machine(wine) == before
    finally:
        link.unlink()
