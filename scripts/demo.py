"""Runs Typeloader.exe's install and uninstall of real TrueType fonts under a
private Wine prefix, then, in the same prefix, what a fleet tool runs with
Typeloader-Deploy.exe for one package title: version 1 installed, the Apps &
features entry it wrote, /whatif before version 2 (one font with new bytes,
one dropped), the update, the same again, and the uninstall run from the
entry's QuietUninstallString once the bundle folder is gone, up to the
restart that deletes the kept program. Each deploy run shows its command, its
whole exit code read Windows-side, its last output word and its log records;
a run that answers another code or word than the story's stops the demo with
exit status 1."""
import glob
import hashlib
import io
import os
import pathlib
import re
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from deploy_runs import restart  # noqa: E402
from wine_prefix import REG_DWORD, REG_MULTI_SZ, REG_SZ, Wine, quote  # noqa: E402

TITLE = sys.argv[1] if len(sys.argv) > 1 else "Typeloader Demo"
PACKAGE = "TypeloaderDemo"
BUNDLE = r"C:\Deploy\TypeloaderDemo"
ENTRY = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Typeloader " + PACKAGE
SESSION_MANAGER = r"SYSTEM\CurrentControlSet\Control\Session Manager"
QUIET = re.compile(r'"([^"]*)" uninstall "([^"\\]*)"')
# Version 1 and version 2 of the package: fonts-dejavu-core's, so that they are there.
VERSION_1 = ["DejaVuSans.ttf", "DejaVuSansMono.ttf", "DejaVuSerif.ttf"]
REPLACED, DROPPED = "DejaVuSansMono.ttf", "DejaVuSerif.ttf"
TYPES = {REG_SZ: "REG_SZ", REG_DWORD: "REG_DWORD", REG_MULTI_SZ: "REG_MULTI_SZ"}


class WrongStory(Exception):
    """A run answered another exit code or outcome word than the story's."""


def show(step, result):
    code, output = result
    print(f"$ {step}")
    print(output.decode("latin-1").replace("\r", ""), end="")
    print(f"(exit code {code})\n")


def log_lines(wine):
    """The log's records; Wine's prefix names the folder `logs`, Windows `Logs`."""
    found = list((wine.drive_c / "windows").glob("[Ll]ogs/Typeloader/Typeloader-Deploy.log"))
    return found[0].read_text(encoding="utf-8-sig").splitlines() if found else []


def deploy(wine, command_line, expected, program=BUNDLE + r"\Typeloader-Deploy.exe", folder=BUNDLE):
    """One run of the deploy program with exactly this command line: its
    command, whole exit code read Windows-side, output and the log records it
    added; WrongStory unless it answers `expected`, (exit code, last word)."""
    before = len(log_lines(wine))
    code, output = wine.run_command_line(command_line, program=program, folder=folder)
    lines = output.decode("utf-8", "replace").replace("\r", "").splitlines()
    word = lines[-1] if lines else "(none)"
    records = [re.match(r'<!\[LOG\[(.*)\]LOG\]!><time="([^"]+)".* type="(\d)"', record) or record
               for record in log_lines(wine)[before:]]
    print(f"$ {command_line}")
    print(f"exit code {code}, last line: {word}")
    if lines[:-1] == [record.group(1) for record in records if not isinstance(record, str)]:
        print("output: the log records below, one line each, then that word")
    else:
        print("output:")
        for line in lines:
            print("  " + line)
    print("log records:")
    for record in records:
        print("  " + (record if isinstance(record, str) else
                      f"{record.group(2)} type {record.group(3)}  {record.group(1)}"))
    print()
    if (code, word) != expected:
        raise WrongStory(f"{command_line}: answered {code} {word}, the story expects {expected[0]} {expected[1]}")
    return output


def install(wine, *options, expected):
    return deploy(wine, " ".join([f"Typeloader-Deploy.exe install {quote(PACKAGE)}", *options]), expected)


def new_revision(path):
    """The font's bytes with its head table's revision one higher: the same
    font with other bytes, as a vendor's next release of it would be."""
    from fontTools.ttLib import TTFont
    font = TTFont(path, recalcTimestamp=False)
    font["head"].fontRevision += 1
    out = io.BytesIO()
    font.save(out)
    return out.getvalue()


def lay_out(bundle, fonts):
    """The bundle's Font folder as exactly these {file name: bytes}."""
    shutil.rmtree(bundle / "Font", ignore_errors=True)
    (bundle / "Font").mkdir(parents=True)
    for name, data in fonts.items():
        (bundle / "Font" / name).write_bytes(data)
    print(f"Font folder of {BUNDLE}: " + ", ".join(
        f"{name} ({digest(bundle / 'Font' / name)})" for name in sorted(fonts)) + "\n")


def listing(folder):
    return ", ".join(sorted(item.name for item in folder.iterdir())) if folder.exists() else "nothing: the folder is gone"


def digest(path):
    return "SHA-256 " + hashlib.sha256(path.read_bytes()).hexdigest()[:12]


def show_registrations(wine):
    print(f'Registrations under "{PACKAGE}" in HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts:')
    found = {name: data for name, data in wine.strings().items() if name.startswith(PACKAGE + " ")}
    for name, data in found.items():
        copy = wine.drive_c.joinpath(*data.split("\\")[1:])
        print(f"  {name} = {data}  ({digest(copy) if copy.is_file() else 'no copy'})")
    if not found:
        print("  none")
    print()


def entry(wine):
    """The Apps & features entry as Windows' registry gives it, {name: (type
    name, text or number)}, or None when there is none."""
    values = wine.key(ENTRY)
    if values is None:
        return None
    return {name: (TYPES.get(kind, kind), int.from_bytes(data, "little") if kind == REG_DWORD else
                   data.decode("utf-16-le").rstrip("\0") if kind == REG_SZ else data.hex())
            for name, (kind, data) in values.items()}


def show_entry(wine):
    values = entry(wine)
    print(f"HKLM\\{ENTRY}:")
    for name, (kind, value) in (values or {}).items():
        print(f"  {name} ({kind}) = {value}")
    print("  no such key\n" if values is None else "")
    return values


def pending_operations(wine):
    """The restart's file operations as (source, target) pairs; an empty
    target is a deletion."""
    values = wine.key(SESSION_MANAGER) or {}
    pairs = []
    for name, (kind, data) in values.items():
        if name.startswith("PendingFileRenameOperations"):
            texts = data.decode("utf-16-le").split("\0")
            pairs += [(texts[i], texts[i + 1]) for i in range(0, len(texts) - 1, 2) if texts[i]]
    return pairs


def linux_path(wine, windows_path):
    return wine.drive_c.joinpath(*windows_path.removeprefix("\\??\\").split("\\")[1:])


def deploy_story(wine, fonts):
    """What fleet tools run: the deploy program beside Typeloader.exe in a
    bundle folder, for one package title through two versions."""
    sources = {os.path.basename(font): font for font in fonts}
    missing = [name for name in VERSION_1 if name not in sources]
    if missing:
        sys.exit(f"{', '.join(missing)} not found: install fonts-dejavu-core")
    bundle = wine.drive_c.joinpath(*BUNDLE.split("\\")[1:])
    bundle.mkdir(parents=True)
    shutil.copy(os.environ["TYPELOADER_EXE"], bundle)
    shutil.copy(os.environ["TYPELOADER_DEPLOY_EXE"], bundle)
    print(f'Typeloader-Deploy.exe in {BUNDLE}, one package title "{PACKAGE}"'
          " (exit codes: 0 success, 3010 restart pending, 1618 busy, 1 refused or failed, 2 usage)\n")

    print("== 1. Version 1 ==")
    lay_out(bundle, {name: pathlib.Path(sources[name]).read_bytes() for name in VERSION_1})
    install(wine, "/version:1.0", expected=(0, "changed"))
    show_registrations(wine)

    print("== 2. The Apps & features entry it wrote ==")
    show_entry(wine)

    print(f"== 3. Version 2 in the bundle: {REPLACED} with a new revision, {DROPPED} dropped; /whatif first ==")
    lay_out(bundle, {name: new_revision(sources[name]) if name == REPLACED else pathlib.Path(sources[name]).read_bytes()
                     for name in VERSION_1 if name != DROPPED})
    output = install(wine, "/version:2.0", "/whatif", expected=(0, "changed"))
    print("Its What if lines:")
    for line in output.decode("utf-8").split("\r\n"):
        if line.startswith("What if: "):
            print("  " + line)
    print()

    print("== 4. The update to version 2 ==")
    install(wine, "/version:2.0", expected=(0, "changed"))
    show_registrations(wine)
    print(f"{DROPPED} in C:\\windows\\Fonts: {'still there' if (wine.fonts_folder / DROPPED).exists() else 'gone'}")
    now = entry(wine)
    print(f"Apps & features entry now: DisplayVersion = {now['DisplayVersion'][1]},"
          f" EstimatedSize = {now['EstimatedSize'][1]} (KiB)\n")

    print("== 5. The same again ==")
    install(wine, "/version:2.0", expected=(0, "unchanged"))

    print("== 6. The entry's QuietUninstallString, run once the bundle folder is gone ==")
    command = entry(wine)["QuietUninstallString"][1]
    print(f"QuietUninstallString = {command}")
    parsed = QUIET.fullmatch(command)
    if not parsed or parsed.group(2) != PACKAGE:
        raise WrongStory(f'the QuietUninstallString is not "<program>" uninstall "{PACKAGE}"')
    program = parsed.group(1)
    kept = linux_path(wine, program).parent
    shutil.rmtree(bundle)
    print(f"{BUNDLE} deleted; the kept copy {program.rsplit(chr(92), 1)[0]} holds: {listing(kept)}\n")
    deploy(wine, command, (0, "changed"), program=program, folder=None)
    show_entry(wine)
    show_registrations(wine)
    left = [name for name in VERSION_1 if (wine.fonts_folder / name).exists()]
    print(f"Copies of the package in C:\\windows\\Fonts: {', '.join(left) or 'none'}")
    print(f"Kept copy now holds: {listing(kept)}")
    pending = pending_operations(wine)
    print("Pending restart operations (PendingFileRenameOperations):")
    for source, target in pending:
        print(f"  {source} -> {target or '(delete)'}")
    if not pending:
        print("  none")
    print("\n$ wineboot -r  (the restart: Wine carries the pending operations out in order)")
    restart(wine)
    print(f"Kept copy after the restart holds: {listing(kept)}")
    print(f"Pending restart operations: {len(pending_operations(wine))}")
    if kept.exists() or left or entry(wine) is not None:
        raise WrongStory("the uninstall left the entry, a copy or the kept copy")


def main():
    fonts = sorted(glob.glob("/usr/share/fonts/truetype/dejavu/*.ttf"))
    if not fonts:
        sys.exit("no DejaVu fonts found: install fonts-dejavu-core")
    wine = Wine("demo")
    try:
        wine.font_dir.mkdir(exist_ok=True)
        for font in fonts:
            shutil.copy(font, wine.font_dir)
        print(f"Wine prefix: {wine.prefix}")
        print(f"Font folder: C:\\Typeloader\\Font ({len(fonts)} DejaVu fonts)\n")

        show(f'Typeloader.exe "/title:{TITLE}"', wine.run(f"/title:{TITLE}"))
        print("Registrations now under HKLM\\...\\CurrentVersion\\Fonts:")
        for name, data in wine.strings().items():
            if name.startswith(TITLE):
                print(f"  {name} = {data}")
        print()
        show(f'Typeloader.exe /uninstall "/title:{TITLE}"', wine.run("/uninstall", f"/title:{TITLE}"))
        left = [name for name in wine.strings() if name.startswith(TITLE)]
        print(f"Registrations left with that title: {len(left)}")
        copies = [os.path.basename(f) for f in fonts if (wine.fonts_folder / os.path.basename(f)).exists()]
        print(f"Copies still in C:\\windows\\Fonts: {len(copies)} (uninstall leaves the files)\n")

        deploy_story(wine, fonts)
    except WrongStory as error:
        sys.exit(f"demo: {error}")
    finally:
        wine.close()


if __name__ == "__main__":
    main()
