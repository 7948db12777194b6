"""The administrator's guide (packaging/deploying.md) against what it shows:
its links resolve; its story's command lines give, under Wine, the exit codes
its table states (read Windows-side, in full), the last output word it states
and the usage line it quotes, and the roll-forward leaves version 1's fonts
under version 3's title alone; the zip's published sum and the bundle's
checksums pass as the guide checks them;
its by-hand command blocks print what it shows; its playbook is the shipped
file and its YAML parses; its registry paths are the fonts keys; and the
notes on which Font entries are taken agree everywhere."""
import pathlib
import re
import shutil
import subprocess
import zipfile

import pytest
import yaml

from make_font import make_font
from wine_prefix import FONTS_KEY

PACKAGING = pathlib.Path(__file__).resolve().parents[2] / "packaging"
GUIDE = PACKAGING / "deploying.md"
FENCE = re.compile(r"^ *```([\w-]*)\n(.*?)^ *```\n", re.S | re.M)
# bat: run under Wine, its output compared with the text block right after it;
# cmd: Windows command lines shown but not run (Wine's tools answer otherwise).
LANGUAGES = {"bat", "cmd", "text", "sh", "powershell", "yaml"}
ROOT = "C:\\Program Files\\Typeloader"
DEPLOY = "Typeloader-Deploy.exe"


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


def test_registry_paths_are_the_fonts_keys():
    text = GUIDE.read_text(encoding="utf-8")
    full = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}
    keys = set()
    for hive, rest in re.findall(r"\b(HKEY_LOCAL_MACHINE|HKEY_CURRENT_USER|HKLM|HKCU)\\([^`\"'|\n]+)", text):
        keys.add(full.get(hive, hive) + "\\" + rest.strip())
    fonts = FONTS_KEY.split("\\", 1)[1]
    assert keys == {f"HKEY_LOCAL_MACHINE\\{fonts}", f"HKEY_CURRENT_USER\\{fonts}"}
    # Configuration Manager takes hive and key apart.
    assert f"key `{fonts}`" in text


def story_rows():
    """The story table: [(folder, command line, exit code, last line or None for the usage line)]."""
    text = GUIDE.read_text(encoding="utf-8")
    rows = re.findall(r"^\| [^|]+ \| `([^`]+)` \| `(Typeloader-Deploy\.exe [^`]+)` \| (\d+) \| "
                      r"(`\w+`|\(usage\)) \|$", text, re.M)
    return [(folder, command, int(code), None if word == "(usage)" else word.strip("`"))
            for folder, command, code, word in rows]


def test_fleet_command_lines_are_the_story_s():
    """Every deploy command line of the guide (Intune, Configuration Manager,
    Group Policy) is one that the story runs."""
    text = GUIDE.read_text(encoding="utf-8")
    story = {command for _, command, *_ in story_rows()}
    assert len(story_rows()) >= 8
    used = set(re.findall(r"`(Typeloader-Deploy\.exe (?:un)?install [^`<]+)`", text))
    gpo = re.findall(r"\| Script Parameters \| `([^`]+)` \|", text)
    assert gpo == ["install ContosoBrand-v01"]
    used.add(f"{DEPLOY} {gpo[0]}")
    assert used <= story, used - story
    for title in ("ContosoBrand-v01", "ContosoBrand-v02"):
        assert {f"{DEPLOY} install {title}", f"{DEPLOY} uninstall {title}"} <= used


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
    """The bundle unpacked for the three versions, each with the guide's two
    fonts; version 2's are other builds of the same files, version 3's are
    version 1's. Its Typeloader-Deploy.exe is the test bed's link, which takes
    Wine's account for Administrators (conftest.py)."""
    folders = {}
    for version in ("v01", "v02", "v03"):
        windows_path = f"{ROOT}\\ContosoBrand-{version}"
        folder = host_folder(wine, windows_path)
        shutil.rmtree(folder, ignore_errors=True)
        with zipfile.ZipFile(bundle_zip) as opened:
            opened.extractall(folder)
        shutil.copy2(deploy_exe_for_wine, folder / DEPLOY)
        for style in ("Regular", "Bold"):
            font = folder / "Font" / f"ContosoSans-{style}.ttf"
            make_font(str(font), "ContosoSans", style)  # the same bytes for the same style
            if version == "v02":
                font.write_bytes(font.read_bytes() + b"\0" * 4)  # another build: other bytes, same name
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
    folder = f"{ROOT}\\ContosoBrand-v01"
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
    usage = [body.strip() for language, body, _ in blocks() if language == "text" and body.startswith("Usage : ")]
    assert usage[0] == "Usage : Typeloader-Deploy install <title> [/version:<v>] [/whatif] | uninstall <title> [/whatif]"
    rows = story_rows()
    assert [command.split()[1:] for _, command, *_ in rows][-4:-1] == [
        ["uninstall", "ContosoBrand-v02"], ["install", "ContosoBrand-v03"], ["install", "ContosoBrand-v03"]]
    seen = []
    for folder, command, expected, word in rows:
        assert folder in version_folders, folder
        code, out = wine.run_command_line(command, program=f"{folder}\\{DEPLOY}", folder=folder)
        printed = out.decode("utf-8", "replace").splitlines()
        seen.append((command, code, printed[-1:]))
        assert code == expected, (seen, printed)
        assert printed[-1:] == [usage[0] if word is None else word], (seen, printed)
        if word is None:
            assert printed == usage[:1]
    # The roll-forward left version 1's bytes registered under version 3 alone.
    fonts = {name: data for name, data in wine.strings().items() if name.startswith("ContosoBrand")}
    assert sorted(fonts) == ["ContosoBrand-v03 ContosoSans-Bold", "ContosoBrand-v03 ContosoSans-Regular"]
    v01 = version_folders[f"{ROOT}\\ContosoBrand-v01"] / "Font"
    for name, path in fonts.items():
        copy = host_folder(wine, path)
        assert copy.read_bytes() == (v01 / copy.name).read_bytes(), name
    # The log is where the guide says, one CMTrace record per line.
    log = host_folder(wine, "C:\\windows\\Logs\\Typeloader\\Typeloader-Deploy.log")
    lines = log.read_text(encoding="utf-8-sig").splitlines()  # a new log starts with a BOM
    assert lines and all(re.fullmatch(r'<!\[LOG\[.*\]LOG\]!><time="[^"]+" date="[^"]+" '
                                      r'component="Typeloader-Deploy" context="" type="[123]" thread="\d+" file="">',
                                      line) for line in lines)


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
