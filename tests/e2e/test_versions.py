"""Versions of a title under Wine: an install makes the machine hold exactly
the bundle's fonts whatever was there, writes the Apps & features entry and
the kept copy its uninstall runs from, /whatif changes nothing and answers
what the run would; what only the real programs show: exit codes read
Windows-side, registry values, files, the restart."""
import math
import re
import shutil
import time

import pytest

from deploy_runs import (FONTS, clean, deploy, deploy_exe, held, job, lines, log_folder, machine,  # noqa: F401 (fixtures)
                         restart)
from make_font import make_font
from wine_prefix import REG_DWORD, REG_SZ

UNINSTALL = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
SESSION_MANAGER = r"SYSTEM\CurrentControlSet\Control\Session Manager"
KEPT_PROGRAM = re.compile(r"C:\\Program Files\\Typeloader\\[0-9A-Fa-f]{16}\\Typeloader-Deploy\.exe")
QUIET = re.compile(r'"([^"]*)" uninstall "([^"\\]*)"')


def bundle(wine, fonts):
    """Lays out the Font folder as exactly these fonts, {file name: family},
    and answers {file name: bytes}."""
    shutil.rmtree(wine.font_dir)
    wine.font_dir.mkdir()
    for name, family in fonts.items():
        make_font(str(wine.font_dir / name), family)
    return {name: (wine.font_dir / name).read_bytes() for name in fonts}


def assert_holds_exactly(wine, title, fonts, gone=()):
    """The title's registrations are the bundle's fonts, each copy holds its
    bytes, and the copies of the fonts in `gone` are no more."""
    registered = {name: data for name, data in wine.strings().items() if name.startswith(title + " ")}
    assert registered == {f"{title} {name[:-4]}": f"{FONTS}\\{name}" for name in fonts}
    for name, data in fonts.items():
        assert (wine.fonts_folder / name).read_bytes() == data, name
    assert not [name for name in gone if (wine.fonts_folder / name).exists()]
    assert not [entry.name for entry in wine.fonts_folder.iterdir() if ".Typeloader-Deploy" in entry.name]


def entry(wine, title):
    """The title's Apps & features entry as {name: text or number}, or None."""
    values = wine.key(f"{UNINSTALL}\\Typeloader {title}")
    if values is None:
        return None
    return {name: int.from_bytes(data, "little") if kind == REG_DWORD else
            data.decode("utf-16-le").rstrip("\0") if kind == REG_SZ else (kind, data)
            for name, (kind, data) in values.items()}


def kept_folder(wine, title):
    """The Linux path of the folder the entry's uninstall runs from."""
    program = QUIET.fullmatch(entry(wine, title)["QuietUninstallString"]).group(1)
    return wine.drive_c.joinpath(*program.split("\\")[1:-1])


def files_under(folder):
    return {str(path.relative_to(folder)): path.read_bytes() if path.is_file() else None
            for path in sorted(folder.rglob("*"))} if folder.exists() else None


def everything(wine):
    """What a run may change: the fonts key, the Fonts folder, every Apps &
    features entry, the kept copies and the restart's operations."""
    entries = {name: wine.key(f"{UNINSTALL}\\{name}") for name in wine.subkeys(UNINSTALL)}
    pending = {name: value for name, value in (wine.key(SESSION_MANAGER) or {}).items()
               if name.startswith("PendingFileRenameOperations")}
    return machine(wine), entries, files_under(wine.drive_c / "Program Files" / "Typeloader"), pending


def answer(done):
    code, out = done
    return code, lines(out)[-1]


def test_first_install_writes_the_entry_and_the_same_again_changes_nothing(wine):
    fonts = bundle(wine, {"VerA.ttf": "E2e VerA", "VerB.ttf": "E2e VerB"})
    today = time.strftime("%Y%m%d")
    done = job(wine, "install", "E2eVer", "/version:1.0")
    dates = {today, time.strftime("%Y%m%d")}
    assert answer(done) == (0, "changed"), done
    assert_holds_exactly(wine, "E2eVer", fonts)
    got = entry(wine, "E2eVer")
    program = got["UninstallString"].split('"')[1]
    assert KEPT_PROGRAM.fullmatch(program), got
    assert got == {"DisplayName": "E2eVer", "DisplayVersion": "1.0", "InstallDate": got["InstallDate"],
                   "EstimatedSize": math.ceil(sum(map(len, fonts.values())) / 1024),
                   "UninstallString": f'"{program}" uninstall "E2eVer"', "QuietUninstallString": f'"{program}" uninstall "E2eVer"',
                   "NoModify": 1, "NoRepair": 1, "TypeloaderTitle": "E2eVer"}
    assert got["InstallDate"] in dates
    kept = kept_folder(wine, "E2eVer")
    assert (kept / "Typeloader-Deploy.exe").read_bytes() == (wine.program_dir / "Typeloader-Deploy.exe").read_bytes()
    assert (kept / "Typeloader.exe").read_bytes() == (wine.program_dir / "Typeloader.exe").read_bytes()

    installed = everything(wine)
    assert answer(job(wine, "install", "E2eVer", "/version:1.0")) == (0, "unchanged")
    assert everything(wine) == installed
    assert answer(job(wine, "uninstall", "E2eVer")) == (0, "changed")


def test_an_update_keeps_replaces_drops_and_adds(wine):
    bundle(wine, {"UpKeep.ttf": "E2e UpKeep", "UpRepl.ttf": "E2e UpRepl", "UpDrop.ttf": "E2e UpDrop"})
    assert answer(job(wine, "install", "E2eUp", "/version:1")) == (0, "changed")
    v2 = bundle(wine, {"UpKeep.ttf": "E2e UpKeep", "UpRepl.ttf": "E2e UpRepl Two", "UpAdd.ttf": "E2e UpAdd"})
    done = job(wine, "install", "E2eUp", "/version:2")
    assert answer(done) == (0, "changed"), done
    assert_holds_exactly(wine, "E2eUp", v2, gone=["UpDrop.ttf"])
    assert entry(wine, "E2eUp")["DisplayVersion"] == "2"
    assert answer(job(wine, "uninstall", "E2eUp")) == (0, "changed")


def test_an_update_with_a_font_in_use(wine):
    bundle(wine, {"UseKeep.ttf": "E2e UseKeep", "UseRepl.ttf": "E2e UseRepl", "UseDrop.ttf": "E2e UseDrop"})
    assert answer(job(wine, "install", "E2eUse", "/version:1")) == (0, "changed")

    # The dropped font in use: its registration goes now, its copy at the
    # restart, and the run needs no restart.
    v2 = bundle(wine, {"UseKeep.ttf": "E2e UseKeep", "UseRepl.ttf": "E2e UseRepl"})
    done = held(wine, "install", "E2eUse", "UseDrop.ttf", "/version:2")
    assert answer(done) == (0, "changed"), done
    assert "E2eUse UseDrop" not in wine.strings()
    restart(wine)
    assert_holds_exactly(wine, "E2eUse", v2, gone=["UseDrop.ttf"])

    # The replaced font in use: whole after the restart, which the run asks for.
    v3 = bundle(wine, {"UseKeep.ttf": "E2e UseKeep", "UseRepl.ttf": "E2e UseRepl Three", "UseAdd.ttf": "E2e UseAdd"})
    done = held(wine, "install", "E2eUse", "UseRepl.ttf", "/version:3")
    assert answer(done) == (3010, "restart"), done
    restart(wine)
    assert_holds_exactly(wine, "E2eUse", v3)
    assert answer(job(wine, "uninstall", "E2eUse")) == (0, "changed")


def test_a_skipped_version_and_a_downgrade_converge_on_the_bundle(wine):
    v1 = {"DownA.ttf": "E2e DownA", "DownB.ttf": "E2e DownB"}
    bundle(wine, v1)
    assert answer(job(wine, "install", "E2eDown", "/version:1")) == (0, "changed")
    v3 = bundle(wine, {"DownB.ttf": "E2e DownB Three", "DownC.ttf": "E2e DownC", "DownD.ttf": "E2e DownD"})
    assert answer(job(wine, "install", "E2eDown", "/version:3")) == (0, "changed")
    assert_holds_exactly(wine, "E2eDown", v3, gone=["DownA.ttf"])
    back = bundle(wine, v1)
    assert answer(job(wine, "install", "E2eDown", "/version:1")) == (0, "changed")
    assert_holds_exactly(wine, "E2eDown", back, gone=["DownC.ttf", "DownD.ttf"])
    assert answer(job(wine, "uninstall", "E2eDown")) == (0, "changed")


def whatif_then_run(wine, word, *options, hold=None):
    """The job with /whatif, which must change nothing, then for real: both answers."""
    run = (lambda *extra: held(wine, word, "E2eWhat", hold, *options, *extra)) if hold else \
        (lambda *extra: job(wine, word, "E2eWhat", *options, *extra))
    before = everything(wine)
    code, out = run("/whatif")
    assert everything(wine) == before
    assert lines(out)[-2] == f"What if: the run would answer {lines(out)[-1]}; nothing was changed. Exit code {code}.", out
    # Between its first record and its verdict, one line per planned action,
    # or that there is nothing to do when it answers unchanged.
    actions = [line for line in lines(out) if line.startswith("What if: ")][1:-1]
    assert (actions == ["What if: nothing to do"]) == (lines(out)[-1] == "unchanged"), out
    assert not [line for line in lines(out) if line.startswith("Running:")], out
    return (code, lines(out)[-1]), answer(run())


def test_whatif_answers_what_the_run_does_and_changes_nothing(wine):
    bundle(wine, {"WhatA.ttf": "E2e WhatA", "WhatB.ttf": "E2e WhatB"})
    told, did = whatif_then_run(wine, "install", "/version:1")
    assert told == did == (0, "changed")
    told, did = whatif_then_run(wine, "install", "/version:1")
    assert told == did == (0, "unchanged")
    bundle(wine, {"WhatA.ttf": "E2e WhatA", "WhatB.ttf": "E2e WhatB Two"})
    told, did = whatif_then_run(wine, "install", "/version:2", hold="WhatB.ttf")
    assert told == did == (3010, "restart")
    restart(wine)
    told, did = whatif_then_run(wine, "uninstall", hold="WhatA.ttf")
    assert told == did == (0, "changed")
    restart(wine)

    # It writes its log and takes the lock as a run does.
    code, out = deploy(wine, "d install E2eWhat /whatif", lock=r"C:\windows\Logs\Typeloader\Typeloader-Deploy.log")
    assert (code, lines(out)[-1]) == (1618, "busy"), out
    log = (log_folder(wine) / "Typeloader-Deploy.log").read_bytes().decode("utf-8")
    assert "What if: the run would answer restart; nothing was changed." in log


def test_the_entrys_uninstall_runs_without_the_bundle_and_leaves_nothing(wine):
    title = "E2e Quiet Title"
    bundle(wine, {"QuietA.ttf": "E2e QuietA", "QuietB.ttf": "E2e QuietB"})
    assert answer(job(wine, "install", title, "/version:1.2.3")) == (0, "changed")
    command = entry(wine, title)["QuietUninstallString"]
    program, named = QUIET.fullmatch(command).groups()
    assert named == title
    kept = kept_folder(wine, title)
    away = wine.drive_c.parent / "bundle-away"
    shutil.move(wine.program_dir, away)  # out of Wine's sight
    try:
        done = deploy(wine, command, program=program, lock=f"{FONTS}\\QuietA.ttf", shared=True)
        assert answer(done) == (0, "changed"), done
        assert entry(wine, title) is None
        assert not [name for name in wine.strings() if name.startswith(title)]
        restart(wine)
        assert not (wine.fonts_folder / "QuietA.ttf").exists() and not (wine.fonts_folder / "QuietB.ttf").exists()
        assert not kept.exists(), files_under(kept)
    finally:
        shutil.move(away, wine.program_dir)


def test_two_titles_side_by_side(wine):
    bundle(wine, {"SideA.ttf": "E2e SideA"})
    assert answer(job(wine, "install", "E2eSideOne", "/version:1")) == (0, "changed")
    other = bundle(wine, {"SideB.ttf": "E2e SideB", "SideC.ttf": "E2e SideC"})
    assert answer(job(wine, "install", "E2eSideTwo", "/version:7")) == (0, "changed")
    two = entry(wine, "E2eSideTwo"), files_under(kept_folder(wine, "E2eSideTwo"))
    assert answer(job(wine, "uninstall", "E2eSideOne")) == (0, "changed")
    # What goes of the uninstalled title is the entry's uninstall's story.
    assert_holds_exactly(wine, "E2eSideTwo", other)
    assert (entry(wine, "E2eSideTwo"), files_under(kept_folder(wine, "E2eSideTwo"))) == two
    assert answer(job(wine, "uninstall", "E2eSideTwo")) == (0, "changed")


def test_a_strangers_entry_of_the_same_name_refuses_the_install(wine):
    stranger = f"{UNINSTALL}\\TYPELOADER e2eSTRANGER"
    wine.set_value("DisplayName", REG_SZ, "Another product", key=stranger)
    try:
        bundle(wine, {"Strange.ttf": "E2e Strange"})
        before = everything(wine)
        code, out = job(wine, "install", "E2eStranger", "/version:1")
        assert (code, lines(out)[-2:]) == (1, ["Refused: nothing was changed. Exit code 1.", "refused"]), out
        assert everything(wine) == before
    finally:
        wine.delete_key(stranger)
