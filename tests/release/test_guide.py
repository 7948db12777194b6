"""The administrator's guide (packaging/deploying.md) against what it shows:
its links resolve; its bundle table names every file of the zip; its story's
command lines give, under Wine, with the fonts it names held open, the exit
codes its table states (read Windows-side, in full), the last output word it
states and the usage line it quotes, its detection rule finds on the Apps &
features entry exactly the version each run installed, and the skipped
version is whole after the restart; its startup script reports the exit
code; the zip's published sum and the bundle's checksums pass as the guide
checks them;
its by-hand command blocks print what it shows; its playbook is the shipped
file and its YAML parses; its registry paths are the fonts keys; and the
notes on which Font entries are taken agree everywhere."""
import pathlib
import re
import shutil
import subprocess
import textwrap
import zipfile

import pytest
import yaml

from deploy_runs import restart
from make_font import make_font
from wine_prefix import FONTS_KEY

PACKAGING = pathlib.Path(__file__).resolve().parents[2] / "packaging"
GUIDE = PACKAGING / "deploying.md"
FENCE = re.compile(r"^ *```([\w-]*)\n(.*?)^ *```\n", re.S | re.M)
# bat: run under Wine, its output compared with the text block right after it;
# batch: a script file the guide gives whole, saved and run under Wine;
# cmd: Windows command lines shown but not run (Wine's tools answer otherwise).
LANGUAGES = {"bat", "batch", "cmd", "text", "sh", "powershell", "yaml"}
ROOT = "C:\\Program Files\\Typeloader"
DEPLOY = "Typeloader-Deploy.exe"
ENTRIES = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
KEPT = re.compile(r"C:\\Program Files\\Typeloader\\[0-9A-Fa-f]{16}")
# The three versions' fonts: {file name: (style, build)}; a new build has other bytes.
VERSIONS = {
    "1": {"ContosoSans-Regular.ttf": ("Regular", 1), "ContosoSans-Bold.ttf": ("Bold", 1)},
    "2": {"ContosoSans-Regular.ttf": ("Regular", 2), "ContosoSans-Light.ttf": ("Light", 1)},
    "3": {"ContosoSans-Regular.ttf": ("Regular", 2), "ContosoSans-Light.ttf": ("Light", 1),
          "ContosoSans-Bold.ttf": ("Bold", 3)},
}


def blocks():
    """[(language, text, text of the block right after it or None)] in order."""
    text = GUIDE.read_text(encoding="utf-8")
    found = [(m.group(1), m.group(2), m.start(), m.end()) for m in FENCE.finditer(text)]
    assert {language for language, *_ in found} <= LANGUAGES
    out = []
    for i, (language, body, _, end) in enumerate(found):
        following = None
        if i + 1 < len(found) and found[i + 1][0] == "text" and found[i + 1][2] == end:
            following = found[i + 1][1]
        out.append((language, body, following))
    return out


def anchor(heading):
    """The anchor GitHub and most Markdown viewers give a heading."""
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def test_every_link_of_the_guide_resolves():
    text = GUIDE.read_text(encoding="utf-8")
    anchors = {anchor(h) for h in re.findall(r"^#+ (.+)$", FENCE.sub("", text), re.M)}
    links = re.findall(r"\]\(([^)\s]+)\)", text)
    assert len(links) > 20
    for link in links:
        if link.startswith("#"):
            assert link[1:] in anchors, link
        else:
            assert not re.match(r"\w+:", link) and (PACKAGING / link).is_file(), link


def test_bundle_table_names_every_file_of_the_zip(bundle_zip, version):
    text = GUIDE.read_text(encoding="utf-8")
    section = text[text.index("## 1. The bundle"):text.index("## 2. ")]
    listed = {path.replace("\\", "/").replace("<version>", version)
              for path in re.findall(r"^\| `([^`]+)` \|", section, re.M)}
    with zipfile.ZipFile(bundle_zip) as opened:
        held = {name for name in opened.namelist() if not name.endswith("/")}
    assert listed == held


def test_registry_paths_are_the_fonts_keys_and_the_entry():
    text = GUIDE.read_text(encoding="utf-8")
    full = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}
    keys = set()
    for hive, rest in re.findall(r"\b(HKEY_LOCAL_MACHINE|HKEY_CURRENT_USER|HKLM|HKCU)\\([^`\"'|\n]+)", text):
        keys.add(full.get(hive, hive) + "\\" + rest.strip())
    fonts = FONTS_KEY.split("\\", 1)[1]
    entry = f"{ENTRIES}\\Typeloader ContosoBrand"
    assert keys == {f"HKEY_LOCAL_MACHINE\\{fonts}", f"HKEY_CURRENT_USER\\{fonts}", f"HKEY_LOCAL_MACHINE\\{entry}"}
    # Configuration Manager takes hive and key apart.
    assert f"key `{entry}`" in text


def story_rows():
    """The story table: [(folder, command line, font held or None, exit code,
    last line or None for the usage line)]."""
    text = GUIDE.read_text(encoding="utf-8")
    rows = re.findall(r"^\| [^|]+ \| `([^`]+)` \| `(Typeloader-Deploy\.exe [^`]+)` \| (?:`([^`]+)`)? ?\| (\d+) \| "
                      r"(`\w+`|\(usage\)) \|$", text, re.M)
    return [(folder, command, held or None, int(code), None if word == "(usage)" else word.strip("`"))
            for folder, command, held, code, word in rows]


def startup_script():
    scripts = [body for language, body, _ in blocks() if language == "batch"]
    assert len(scripts) == 1
    return textwrap.dedent(scripts[0])


def test_fleet_command_lines_are_the_story_s():
    """Every deploy command line of the guide (Intune, Configuration Manager,
    the startup script) is one that the story runs, and the tools' settings
    name the startup script and the story's commands for every version."""
    text = GUIDE.read_text(encoding="utf-8")
    story = {command for _, command, *_ in story_rows()}
    assert len(story_rows()) >= 10
    used = set(re.findall(r"`(Typeloader-Deploy\.exe (?:un)?install [^`<]+)`", text))
    script = re.findall(r'^"%~dp0Typeloader-Deploy\.exe" ([^>]+?) > nul$', startup_script(), re.M)
    assert len(script) == 1
    used.add(f"{DEPLOY} {script[0]}")
    assert used <= story, used - story
    assert re.findall(r"\| Script Name \| `([^`]+)`", text) == [f"{ROOT}\\ContosoBrand-3\\ContosoBrand-startup.cmd"]
    for version in ("1", "2", "3"):
        assert f"{DEPLOY} install ContosoBrand /version:{version}" in used
    # The tools install the package's title at a version, never a per-version title.
    installs = re.findall(r"^ *\| (?:Install command|Installation program) \| `([^`]+)` \|$", text, re.M)
    assert installs and all(re.fullmatch(rf"{DEPLOY} install ContosoBrand /version:\d+", c) for c in installs), installs
    assert f'{DEPLOY} uninstall "ContosoBrand"' in used


def detection_rule():
    """(key under HKLM, value name, expected version) of section 7's table."""
    text = GUIDE.read_text(encoding="utf-8")
    section = text[text.index("## 7. Detection rules"):text.index("## 8. ")]
    setting = dict(re.findall(r"^\| ([^|]+?) \| (.+?) \|$", section, re.M))
    assert (setting["Detection method"], setting["Operator"]) == ("Version comparison", "Equals")
    hive, key = setting["Key path"].strip("`").split("\\", 1)
    assert hive == "HKEY_LOCAL_MACHINE"
    return key, setting["Value name"].strip("`"), setting["Value"].strip("`")


def version_key(text):
    """A version as a version comparison orders it: number by number, missing ones 0."""
    return [int(number) for number in text.split(".")] + [0] * (4 - len(text.split(".")))


def detected(wine, version):
    """Section 7's rule, as the fleet tools evaluate it, for `version`."""
    key, name, _ = detection_rule()
    values = wine.key(key) or {}
    if name not in values:
        return False
    found = values[name][1].decode("utf-16-le").rstrip("\0")
    return version_key(found) == version_key(version)


def test_playbook_block_is_the_shipped_file():
    shipped = (PACKAGING / "deploy-fonts.yml").read_text(encoding="utf-8")
    assert [body for language, body, _ in blocks() if language == "yaml"] == [shipped]


def test_yaml_blocks_parse():
    parsed = [yaml.safe_load(body) for language, body, _ in blocks() if language == "yaml"]
    assert parsed and all(parsed)


def test_checksum_commands_pass_on_the_published_zip_and_the_unpacked_bundle(bundle_zip, work_dir, version):
    """The zip's sum is published beside it under the name the guide checks,
    and both checks pass; a changed byte fails the first."""
    commands = [body.strip() for language, body, _ in blocks() if language == "sh" and "sha256sum" in body]
    assert commands == [f"sha256sum -c Typeloader-{version}-win64.zip.sha256", "sha256sum -c SHA256SUMS"]
    published = work_dir / "guide-published"
    shutil.rmtree(published, ignore_errors=True)
    published.mkdir()
    shutil.copy(bundle_zip, published)
    shutil.copy(bundle_zip.parent / f"{bundle_zip.name}.sha256", published)
    done = subprocess.run(commands[0], shell=True, cwd=published, capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    with open(published / bundle_zip.name, "r+b") as zip_file:
        zip_file.seek(-1, 2)
        last = zip_file.read(1)
        zip_file.seek(-1, 2)
        zip_file.write(bytes([last[0] ^ 1]))
    assert subprocess.run(commands[0], shell=True, cwd=published, capture_output=True).returncode != 0
    target = work_dir / "guide-unpacked"
    shutil.rmtree(target, ignore_errors=True)
    with zipfile.ZipFile(bundle_zip) as opened:
        opened.extractall(target)
    done = subprocess.run(commands[1], shell=True, cwd=target, capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr


def host_folder(wine, windows_path):
    """The prefix's path for a Windows path, matching existing names in any case
    as Windows does."""
    path = wine.drive_c
    for part in windows_path.split("\\")[1:]:
        same = [p for p in path.iterdir() if p.name.lower() == part.lower()] if path.is_dir() else []
        path = same[0] if same else path / part
    return path


@pytest.fixture(scope="module")
def version_folders(wine, bundle_zip, deploy_exe_for_wine):
    """The bundle unpacked for the three versions with the fonts of VERSIONS.
    Its Typeloader-Deploy.exe is the test bed's link, which takes Wine's
    account for Administrators (conftest.py)."""
    folders = {}
    for version, fonts in VERSIONS.items():
        windows_path = f"{ROOT}\\ContosoBrand-{version}"
        folder = host_folder(wine, windows_path)
        shutil.rmtree(folder, ignore_errors=True)
        with zipfile.ZipFile(bundle_zip) as opened:
            opened.extractall(folder)
        shutil.copy2(deploy_exe_for_wine, folder / DEPLOY)
        for name, (style, build) in fonts.items():
            font = folder / "Font" / name
            make_font(str(font), "ContosoSans", style)  # the same bytes for the same style
            font.write_bytes(font.read_bytes() + b"\0" * 4 * (build - 1))  # another build: other bytes
        folders[windows_path] = folder
    return folders


def normalised(output):
    text = output.decode("latin-1").replace("\r\r\n", "\n").replace("\r\n", "\n")
    return text.replace("C:\\windows\\", "C:\\Windows\\").strip("\n")


def run_line(wine, line, folder):
    """Runs one command line as cmd.exe would from a prompt in `folder`. It goes
    through a batch file: Wine would re-quote it as an argument of cmd /c."""
    (wine.drive_c / "guide-line.cmd").write_bytes(
        b"@echo off\r\ncd /d \"" + folder.encode() + b"\"\r\n" + line.encode("ascii") + b"\r\n")
    return wine.wine("cmd", "/c", r"C:\guide-line.cmd", timeout=300).stdout


def test_by_hand_command_blocks_print_what_the_guide_shows(wine, version_folders):
    bat_blocks = [(body, following) for language, body, following in blocks() if language == "bat"]
    assert len(bat_blocks) == 4
    folder = f"{ROOT}\\ContosoBrand-1"
    for body, expected in bat_blocks:
        output = b""
        for line in body.splitlines():
            if line.startswith("cd /d "):
                assert line == f'cd /d "{folder}"'
                continue
            output += run_line(wine, line, folder)
        assert expected is not None, f"no output block after: {body!r}"
        assert normalised(output) == expected.strip("\n"), body


def test_story_gives_the_exit_codes_and_outcomes_of_the_guide(wine, version_folders):
    """Each line as the guide runs it, the font it names held as a loaded font
    is; section 7's rule detects, before the run, the version it asks for
    exactly when it answers unchanged, and after it exactly the version it
    installed; the machine restarts after 3010, as the guide says."""
    usage = [body.strip() for language, body, _ in blocks() if language == "text" and body.startswith("Usage : ")]
    assert usage[0] == "Usage : Typeloader-Deploy install <title> [/version:<v>] [/whatif] | uninstall <title> [/whatif]"
    rows = story_rows()
    seen = []
    for folder, command, held, expected, word in rows:
        version = re.search(r" /version:(\S+)", command)
        version = version and version.group(1)
        if "<16 hex digits>" in folder:  # the entry's own uninstall command, as Apps & features runs it
            quiet = wine.key(f"{ENTRIES}\\Typeloader ContosoBrand")["QuietUninstallString"][1]
            quiet = quiet.decode("utf-16-le").rstrip("\0")
            program = quiet.split('"')[1]
            folder = program.rsplit("\\", 1)[0]
            assert KEPT.fullmatch(folder) and quiet == f'"{program}" ' + command.split(" ", 1)[1], quiet
            command = quiet
        else:
            assert folder in version_folders, folder
            program = f"{folder}\\{DEPLOY}"
        if version:
            assert detected(wine, version) == (word == "unchanged"), (seen, command)
        code, out = wine.run_command_line(command, program=program, folder=folder,
                                          lock=held and f"C:\\windows\\Fonts\\{held}", shared=True)
        printed = out.decode("utf-8", "replace").splitlines()
        seen.append((command, held, code, printed[-1:]))
        assert code == expected, (seen, printed)
        assert printed[-1:] == [usage[0] if word is None else word], (seen, printed)
        if word is None:
            assert printed == usage[:1]
        if version and word in ("changed", "unchanged", "restart"):
            assert detected(wine, version) != command.endswith(" /whatif"), (seen, command)
        if word == "restart":
            restart(wine)
            # The version is whole: its fonts, its bytes, nothing else under the title.
            fonts = {name: path for name, path in wine.strings().items() if name.startswith("ContosoBrand")}
            bundle = version_folders[f"{ROOT}\\ContosoBrand-{version}"] / "Font"
            assert sorted(fonts) == sorted(f"ContosoBrand {name[:-4]}" for name in VERSIONS[version])
            for name, path in fonts.items():
                copy = host_folder(wine, path)
                assert copy.read_bytes() == (bundle / copy.name).read_bytes(), name
    assert "restart" in [word for *_, word in rows]
    # The uninstall took every registration and the entry; nothing is detected.
    assert not [name for name in wine.strings() if name.startswith("ContosoBrand")]
    assert not any(detected(wine, version) for version in VERSIONS)
    # The log is where the guide says, one CMTrace record per line.
    log = host_folder(wine, "C:\\windows\\Logs\\Typeloader\\Typeloader-Deploy.log")
    lines = log.read_text(encoding="utf-8-sig").splitlines()  # a new log starts with a BOM
    assert lines and all(re.fullmatch(r'<!\[LOG\[.*\]LOG\]!><time="[^"]+" date="[^"]+" '
                                      r'component="Typeloader-Deploy" context="" type="[123]" thread="\d+" file="">',
                                      line) for line in lines)


def test_startup_script_reports_the_exit_code(wine, version_folders):
    """The guide's startup script, saved beside version 3's program, answers
    the deploy program's exit code and appends it to its file: 0 on the first
    start and the next, 1 while an earlier edition's title refuses it."""
    folder = f"{ROOT}\\ContosoBrand-3"
    script = version_folders[folder] / "ContosoBrand-startup.cmd"
    script.write_bytes(startup_script().replace("\n", "\r\n").encode("ascii"))
    report = host_folder(wine, "C:\\windows\\Logs\\ContosoBrand-startup.txt")
    report.unlink(missing_ok=True)
    restart(wine)  # the story's uninstall left a copy to delete at the restart

    def start():
        code, _ = wine.run_command_line(f'cmd /c "{folder}\\ContosoBrand-startup.cmd"',
                                        program="C:\\windows\\system32\\cmd.exe", folder="C:\\")
        return code, report.read_text(encoding="latin-1").splitlines()[-1]

    old = f"{DEPLOY} install ContosoBrand-v01"
    for expected in (0, 0, 1):
        if expected == 1:
            assert wine.run_command_line(old, program=f"{folder}\\{DEPLOY}", folder=folder)[0] == 0
        code, line = start()
        assert code == expected and line.endswith(f"install ContosoBrand /version:3: exit code {expected}"), line
    assert len(report.read_text(encoding="latin-1").splitlines()) == 3
    for title in ("ContosoBrand-v01", "ContosoBrand"):
        assert wine.run_command_line(f"{DEPLOY} uninstall {title}", program=f"{folder}\\{DEPLOY}", folder=folder)[0] == 0


def test_shipped_deploy_program_refuses_what_wine_s_account_owns(wine, bundle_zip):
    """The bundle's own Typeloader-Deploy.exe takes the account running Wine,
    which owns every file there, for no administrator: the first story line
    is refused at the log folder, and nothing is registered."""
    windows_path = f"{ROOT}\\ContosoBrand-shipped"
    folder = host_folder(wine, windows_path)
    shutil.rmtree(folder, ignore_errors=True)
    with zipfile.ZipFile(bundle_zip) as opened:
        opened.extractall(folder)
    make_font(str(folder / "Font" / "ContosoSans-Regular.ttf"), "ContosoSans", "Regular")
    before = wine.values()
    code, out = wine.run_command_line(f"{DEPLOY} install ContosoBrand-shipped", program=f"{windows_path}\\{DEPLOY}",
                                      folder=windows_path)
    printed = out.decode("utf-8", "replace").splitlines()
    assert (code, printed[-1:]) == (1, ["refused"]), printed
    assert "is refused: its owner is neither SYSTEM nor Administrators" in printed[0], printed
    assert wine.values() == before
    shutil.rmtree(folder)


# Rows: (file, its text): every place that says which Font entries are taken.
MATCHING_NOTES = [
    ("packaging/Font/README.txt", PACKAGING / "Font" / "README.txt"),
    ("packaging/README.md", PACKAGING / "README.md"),
    ("packaging/deploying.md", GUIDE),
    ("README.md", PACKAGING.parent / "README.md"),
]


@pytest.mark.parametrize("name, path", MATCHING_NOTES, ids=[row[0] for row in MATCHING_NOTES])
def test_notes_on_matching_agree(name, path):
    text = " ".join(path.read_text(encoding="utf-8").split())
    assert "x.ttfx" in text and "short name" in text, name
    assert "named like a font" in text, name
    assert "Typeloader-Deploy.cmd" not in text and "Detect-Fonts" not in text, name
    assert "C:\\Deploy\\Typeloader" not in text.replace("`C:\\Deploy`", ""), name
