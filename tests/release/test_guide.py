"""The administrator's guide (packaging/deploying.md) against what it shows:
its command blocks run under Wine in the unpacked bundle and print what the
guide says, its playbook and detection script are the shipped files, its
YAML parses, the playbook passes ansible-playbook --syntax-check, and the
notes on which Font entries are taken agree everywhere."""
import pathlib
import re
import shutil
import subprocess
import tempfile
import zipfile

import pytest
import yaml

from make_font import make_font

PACKAGING = pathlib.Path(__file__).resolve().parents[2] / "packaging"
GUIDE = PACKAGING / "deploying.md"
FENCE = re.compile(r"^```(\w*)\n(.*?)^```\n", re.S | re.M)


def blocks():
    """[(language, text, text of the block right after it or None)] in order."""
    text = GUIDE.read_text(encoding="utf-8")
    found = [(m.group(1), m.group(2), m.start(), m.end()) for m in FENCE.finditer(text)]
    out = []
    for i, (language, body, _, end) in enumerate(found):
        following = None
        if i + 1 < len(found) and found[i + 1][0] == "text" and found[i + 1][2] == end:
            following = found[i + 1][1]
        out.append((language, body, following))
    return out


def normalised(output):
    text = output.decode("latin-1").replace("\r\r\n", "\n").replace("\r\n", "\n")
    return text.replace("C:\\windows\\", "C:\\Windows\\").strip("\n")


@pytest.fixture(scope="module")
def deploy_folder(wine, bundle_zip):
    """The bundle unpacked to C:\\Deploy\\Typeloader with the guide's two fonts."""
    folder = wine.drive_c / "Deploy" / "Typeloader"
    shutil.rmtree(folder, ignore_errors=True)
    with zipfile.ZipFile(bundle_zip) as opened:
        opened.extractall(folder)
    for style in ("Regular", "Bold"):
        make_font(str(folder / "Font" / f"ContosoSans-{style}.ttf"), "ContosoSans", style)
    return folder


def run_line(wine, line, folder):
    """Runs one command line as cmd.exe would from a prompt in `folder`. It goes
    through a batch file: Wine would re-quote it as an argument of cmd /c."""
    (wine.drive_c / "guide-line.cmd").write_bytes(
        b"@echo off\r\ncd /d " + folder.encode() + b"\r\n" + line.encode("ascii") + b"\r\n")
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        subprocess.run([wine.wine, "cmd", "/c", r"C:\guide-line.cmd"], env=wine.env, stdin=subprocess.DEVNULL,
                       stdout=out, stderr=err, timeout=300)
        out.seek(0)
        err.seek(0)
        return out.read(), err.read()


def test_command_blocks_print_what_the_guide_shows(wine, deploy_folder):
    ran = []
    bat_blocks = [(body, following) for language, body, following in blocks() if language == "bat"]
    assert len(bat_blocks) >= 6
    for body, expected in bat_blocks:
        output = b""
        for line in body.splitlines():
            if line.startswith("cd /d "):
                assert line == r"cd /d C:\Deploy\Typeloader"
                continue
            out, err = run_line(wine, line, "C:\\Deploy\\Typeloader")
            output += out
            ran.append(line)
        assert expected is not None, f"no output block after: {body!r}"
        assert normalised(output) == expected.strip("\n"), body
    # The fleet tools' command lines in the tables are the ones run above.
    text = GUIDE.read_text(encoding="utf-8")
    table_commands = set(re.findall(r"\| `(Typeloader-Deploy\.cmd (?:un)?install \w+)`", text))
    assert table_commands == {"Typeloader-Deploy.cmd install ContosoBrand",
                              "Typeloader-Deploy.cmd uninstall ContosoBrand"}
    assert table_commands <= set(ran)


@pytest.mark.skipif(shutil.which("sha256sum") is None, reason="sha256sum not installed")
def test_checksum_command_passes_on_the_unpacked_bundle(bundle_zip, work_dir):
    target = work_dir / "guide-unpacked"
    shutil.rmtree(target, ignore_errors=True)
    with zipfile.ZipFile(bundle_zip) as opened:
        opened.extractall(target)
    commands = [body.strip() for language, body, _ in blocks() if language == "sh"]
    assert commands == ["sha256sum -c SHA256SUMS"]
    done = subprocess.run(commands[0], shell=True, cwd=target, capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr


def test_playbook_and_detection_script_are_the_shipped_files():
    by_start = {body.splitlines()[0]: body for language, body, _ in blocks() if language in ("yaml", "powershell")}
    for name in ("deploy-fonts.yml", "Detect-Fonts.ps1"):
        shipped = (PACKAGING / name).read_text(encoding="utf-8")
        assert by_start.get(shipped.splitlines()[0]) == shipped, name


def test_yaml_and_json_blocks_parse():
    parsed = 0
    for language, body, _ in blocks():
        if language == "yaml":
            yaml.safe_load(body)
            parsed += 1
        elif language == "json":
            import json
            json.loads(body)
            parsed += 1
    assert parsed >= 1


def test_playbook_runs_the_wrapper_with_argv_and_reads_its_exit_code():
    play = yaml.safe_load((PACKAGING / "deploy-fonts.yml").read_text(encoding="utf-8"))[0]
    command = next(task for task in play["tasks"] if "ansible.windows.win_command" in task)
    assert command["ansible.windows.win_command"]["argv"] == [
        "{{ typeloader_dir }}\\Typeloader-Deploy.cmd", "{{ typeloader_job }}", "{{ typeloader_title }}"]
    assert command["changed_when"] == "typeloader.rc == 3010"
    assert command["failed_when"] == "typeloader.rc not in [0, 3010]"


@pytest.mark.skipif(shutil.which("ansible-playbook") is None, reason="ansible not installed")
def test_playbook_passes_ansible_syntax_check(bundle_zip, work_dir):
    target = work_dir / "playbook"
    shutil.rmtree(target, ignore_errors=True)
    target.mkdir()
    with zipfile.ZipFile(bundle_zip) as opened:
        (target / "deploy-fonts.yml").write_bytes(opened.read("deploy-fonts.yml"))
    done = subprocess.run(["ansible-playbook", "--syntax-check", "-i", "localhost,", "deploy-fonts.yml"],
                          cwd=target, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    # The collection that the playbook's modules come from.
    listed = subprocess.run(["ansible-doc", "-t", "module", "ansible.windows.win_command"],
                            capture_output=True, text=True, timeout=300)
    assert listed.returncode == 0 and "argv" in listed.stdout, listed.stderr


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
    assert "sub-folders are not searched" not in text and "Only files whose names end in .ttf" not in text
