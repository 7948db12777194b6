"""The Ansible playbook packaging/deploy-fonts.yml: it passes
ansible-playbook --syntax-check and ansible-lint, uses only options that the
installed ansible.windows modules document, asks in requirements.yml for a
collection version that has them all, and runs its story on a local host whose
ansible.windows modules are stand-ins (ansible_standin/) acting on a Wine
prefix where the real Typeloader-Deploy.exe runs (the test bed's link, which
takes Wine's account for Administrators; see conftest.py): check mode reports
the change the install would make without making it, "changed" comes from the
program's last output word, the restart handler only from exit code 3010, one
title's folder holds the deployed version's bundle and nothing of an earlier
one (names compared as Windows does, dot-files kept), and any version is
reached from any other: skipped, rolled back."""
import hashlib
import json
import os
import pathlib
import re
import shutil
import subprocess
import zipfile

import pytest
import yaml

from make_font import make_font
from wine_prefix import private_machine

HERE = pathlib.Path(__file__).resolve().parent
PLAYBOOK = HERE.parents[1] / "packaging" / "deploy-fonts.yml"
REQUIREMENTS = HERE.parents[1] / "packaging" / "requirements.yml"
STANDINS = HERE / "ansible_standin"
ROOT = "C:\\Program Files\\Typeloader"
UNINSTALL = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
TITLE = "ContosoBrand"


def test_playbook_passes_syntax_check_and_lint(work_dir):
    done = subprocess.run(["ansible-playbook", "--syntax-check", "-i", "localhost,", str(PLAYBOOK)],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    assert shutil.which("ansible-lint"), "ansible-lint not installed (scripts/install-deps.sh)"
    lint = work_dir / "lint"
    shutil.rmtree(lint, ignore_errors=True)
    (lint / "collections").mkdir(parents=True)
    shutil.copy(PLAYBOOK, lint)
    shutil.copy(REQUIREMENTS, lint / "collections")
    done = subprocess.run(["ansible-lint", "--offline", "deploy-fonts.yml", "collections/requirements.yml"],
                          cwd=lint, capture_output=True, text=True, timeout=300, env={**os.environ, "HOME": str(lint)})
    assert done.returncode == 0, done.stdout + done.stderr


def version(text):
    return tuple(int(part) for part in text.split("."))


def test_playbook_uses_only_options_of_the_real_modules_from_the_version_it_requires():
    """The stand-ins accept what they are written to accept; the installed
    ansible.windows collection says what the real modules take, and since
    which version: requirements.yml asks for at least the latest of those."""
    play = yaml.safe_load(PLAYBOOK.read_text(encoding="utf-8"))[0]
    used = {}
    tasks = play["tasks"] + play["handlers"]
    tasks += [inner for task in tasks for part in ("block", "rescue", "always") for inner in task.get(part, [])]
    for task in tasks:
        module = next((key for key in task if key.startswith("ansible.windows.")), None)
        if module:
            used.setdefault(module, set()).update(task[module] or {})
    done = subprocess.run(["ansible-doc", "-j", *used], capture_output=True, text=True, timeout=300,
                          env={**os.environ, "ANSIBLE_COLLECTIONS_PATH": ""})
    assert done.returncode == 0, done.stderr
    documented = json.loads(done.stdout)
    needed = (0,)
    for module, options in used.items():
        known = documented[module]["doc"]["options"]
        assert options <= set(known), (module, options)
        needed = max([needed] + [version(known[option]["version_added"]) for option in options
                                 if known[option].get("version_added")])
    wanted = yaml.safe_load(REQUIREMENTS.read_text(encoding="utf-8"))["collections"]
    assert [entry["name"] for entry in wanted] == ["ansible.windows"]
    assert wanted[0]["version"] == ">=" + ".".join(map(str, needed)), needed


class Host:
    """The stand-in host: a Wine prefix whose drive C is <base>/host/C, and the
    journal of what ran on it."""

    def __init__(self, base, wine, deploy_exe, bundle_zip):
        self.base, self.wine, self.deploy_exe, self.bundle_zip = base, wine, deploy_exe, bundle_zip
        self.disk = base / "host"
        shutil.rmtree(base, ignore_errors=True)
        self.disk.mkdir(parents=True)
        (self.disk / "C").symlink_to(wine.drive_c)
        (base / "inventory.ini").write_text(
            "[windows]\nstandin ansible_connection=local ansible_python_interpreter=/usr/bin/python3\n")

    def path(self, windows_path):
        drive, rest = windows_path.split(":\\", 1)
        return self.disk.joinpath(drive, *rest.split("\\"))

    def source(self, version, fonts):
        """An unpacked bundle of a version on the controller: {file name: bytes} in its Font."""
        folder = self.base / "files" / f"{TITLE}-{version}"
        with zipfile.ZipFile(self.bundle_zip) as opened:
            opened.extractall(folder)
        shutil.copy2(self.deploy_exe, folder / "Typeloader-Deploy.exe")
        for name, data in fonts.items():
            (folder / "Font" / name).write_bytes(data)
        return folder

    def play(self, version, source, title=TITLE, check=False, hold=""):
        """Runs the playbook; returns (ansible's exit code, output, journal)."""
        journal = self.disk / "journal.jsonl"
        journal.unlink(missing_ok=True)
        args = ["ansible-playbook", "-i", str(self.base / "inventory.ini"), str(PLAYBOOK),
                "-e", f"typeloader_title={title}", "-e", f"typeloader_version={version}",
                "-e", f"typeloader_source={source}/", "-e", "typeloader_busy_delay=1"]
        env = {**os.environ, "ANSIBLE_COLLECTIONS_PATH": str(STANDINS), "TYPELOADER_STANDIN_ROOT": str(self.disk),
               "TYPELOADER_STANDIN_WINEPREFIX": str(self.wine.prefix), "TYPELOADER_STANDIN_HOLD": hold,
               "TYPELOADER_STANDIN_HARNESS": str(HERE.parent / "e2e"),
               "ANSIBLE_NOCOLOR": "1", "ANSIBLE_LOCAL_TEMP": str(self.base / "tmp"),
               "ANSIBLE_REMOTE_TEMP": str(self.base / "tmp")}
        done = subprocess.run(args + (["--check"] if check else []), capture_output=True, text=True, timeout=600,
                              env=env)
        ran = [json.loads(line) for line in journal.read_text().splitlines()] if journal.exists() else []
        return done.returncode, done.stdout + done.stderr, ran

    def state(self):
        """What a dry run must leave as it was: the fonts key, the Fonts
        folder, the entries under the Uninstall key and every file and folder
        under C:\\Program Files\\Typeloader (files by their digest)."""
        top = self.path(ROOT)
        entries = [entry for entry in sorted(top.rglob("*"))] if top.is_dir() else []
        return {"fonts key": self.wine.values(),
                "Fonts": {entry.name: digest(entry) for entry in sorted(self.wine.fonts_folder.iterdir())},
                "Uninstall": {name: self.wine.key(f"{UNINSTALL}\\{name}") for name in self.wine.subkeys(UNINSTALL)
                              if name.startswith("Typeloader ")},
                "Program Files": {str(entry.relative_to(top)): digest(entry) if entry.is_file() else "folder"
                                  for entry in entries}}

    def folders(self):
        """The bundle folders the playbook made; the deploy program keeps its
        own copies beside them, in folders named by 16 hex digits."""
        top = self.path(ROOT)
        return sorted(entry.name for entry in top.iterdir() if not re.fullmatch("[0-9a-f]{16}", entry.name)) if top.is_dir() else []

    def registered(self):
        """{value name: file name} of the story's title."""
        return {name: data.rsplit("\\", 1)[-1] for name, data in self.wine.strings().items()
                if name.startswith(TITLE + " ")}

    def font(self, name):
        return (self.wine.fonts_folder / name).read_bytes()


def digest(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()[:16]


def install(version, code, folder=TITLE, whatif=False):
    """The journal's record of one run of the deploy program."""
    folder = f"{ROOT}\\{folder}"
    argv = [f"{folder}\\Typeloader-Deploy.exe", "install", TITLE, f"/version:{version}"] + (["/whatif"] if whatif else [])
    return {"argv": argv, "chdir": folder, "rc": code}


def recap(output):
    line = next(line for line in output.splitlines() if line.startswith("standin "))
    return {key: int(value) for key, value in (item.split("=") for item in line.split()[2:])}


def task_result(output, name):
    """The word ansible-playbook printed for a task's result (ok, changed,
    skipping, fatal)."""
    section = output.split(f"TASK [{name}]", 1)[1].split("\n\n", 1)[0]
    return re.search(r"^(ok|changed|skipping|fatal|failed): \[standin\]", section, re.M).group(1)


def reboots(ran):
    return [entry for entry in ran if "reboot" in entry]


@pytest.fixture(scope="module")
def playbook_wine(request):
    yield from private_machine(request, "release-playbook")


def test_playbook_story_against_the_deploy_program(work_dir, playbook_wine, bundle_zip, deploy_exe_for_wine):
    host = Host(work_dir / "playbook-standin", playbook_wine, deploy_exe_for_wine, bundle_zip)
    regular, bold, light, extra = ("ContosoSans-Regular.ttf", "ContosoSans-Bold.ttf", ".ContosoSans-Light.ttf",
                                   "ContosoSans-Extra.ttf")
    fonts = {}
    for name, style in ((regular, "Regular"), (bold, "Bold"), (light, "Light"), (extra, "Extra")):
        make_font(str(work_dir / name), "ContosoSans", style)
        fonts[name] = (work_dir / name).read_bytes()
    # Version 3 replaces Regular (another build, same name), keeps Bold,
    # drops the dot-file Light and adds Extra; version 2 is never deployed.
    v1 = {regular: fonts[regular], bold: fonts[bold], light: fonts[light]}
    v3 = {regular: fonts[regular] + b"\0" * 4, bold: fonts[bold], extra: fonts[extra]}
    source = {"1.0": host.source("1.0", v1), "3.0": host.source("3.0", v3)}

    # Version 1 on a fresh host, whose Font folder already holds Bold under
    # another case (left from an earlier copy): Windows takes it for the
    # same file, so it is written over and stays.
    stale = host.path(f"{ROOT}\\{TITLE}\\Font\\CONTOSOSANS-BOLD.TTF")
    stale.parent.mkdir(parents=True)
    stale.write_bytes(b"left from an earlier copy")
    code, output, ran = host.play("1.0", source["1.0"])
    assert code == 0 and task_result(output, "Install this version") == "changed", output
    assert ran == [install("1.0", 0)], output
    assert host.registered() == {f"{TITLE} ContosoSans-Regular": regular, f"{TITLE} CONTOSOSANS-BOLD": "CONTOSOSANS-BOLD.TTF",
                                 f"{TITLE} .ContosoSans-Light": light}
    assert host.font("CONTOSOSANS-BOLD.TTF") == fonts[bold]

    # The dry run of the update to version 3 (skipping 2): the install's
    # /whatif on version 3's bundle, staged and removed again, reports the
    # change; nothing changes on the host, the install does not run. A
    # staging folder left by an interrupted dry run adds nothing and goes.
    before = host.state()
    leftover = host.path(f"{ROOT}\\{TITLE}.whatif\\Font\\{light}")
    leftover.parent.mkdir(parents=True)
    leftover.write_bytes(fonts[light])
    code, output, ran = host.play("3.0", source["3.0"], check=True)
    assert code == 0 and task_result(output, "Run the install with /whatif") == "changed", output
    assert ran == [install("3.0", 0, folder=f"{TITLE}.whatif", whatif=True)], output
    assert re.search(r"What if: Remove the registration \W+ContosoBrand \.ContosoSans-Light", output), output
    assert "RUNNING HANDLER" not in output
    assert host.state() == before

    # The update while Regular, which version 3 replaces, is in use: 3010,
    # one restart through the handler, with the message and the delay; after
    # it only version 3's fonts are there.
    code, output, ran = host.play("3.0", source["3.0"], hold=f"C:\\windows\\Fonts\\{regular}")
    assert code == 0 and ran[:1] == [install("3.0", 3010)], output
    assert [(r["pre_reboot_delay"], "restarts in 300 seconds" in r["msg"]) for r in reboots(ran)] == [(300, True)]
    assert host.folders() == [TITLE]
    assert host.registered() == {f"{TITLE} ContosoSans-Regular": regular, f"{TITLE} CONTOSOSANS-BOLD": "CONTOSOSANS-BOLD.TTF",
                                 f"{TITLE} ContosoSans-Extra": extra}
    assert (host.font(regular), host.font(extra)) == (v3[regular], v3[extra])

    # Rollback to version 1 while Extra, which version 1 drops, is in use: 0
    # (its copy goes at whichever restart comes next), no restart asked for.
    code, output, ran = host.play("1.0", source["1.0"], hold=f"C:\\windows\\Fonts\\{extra}")
    assert code == 0 and ran == [install("1.0", 0)] and "RUNNING HANDLER" not in output, output
    assert host.registered() == {f"{TITLE} ContosoSans-Regular": regular, f"{TITLE} CONTOSOSANS-BOLD": "CONTOSOSANS-BOLD.TTF",
                                 f"{TITLE} .ContosoSans-Light": light}
    assert (host.font(regular), host.font(light)) == (v1[regular], v1[light])

    # Its rerun: nothing copied, removed or installed again, no restart.
    code, output, ran = host.play("1.0", source["1.0"])
    assert code == 0 and recap(output)["changed"] == 0, output
    assert ran == [install("1.0", 0)] and "RUNNING HANDLER" not in output

    # A refused install (1, "refused") fails the host, in its dry run too,
    # changes no font and restarts nothing.
    source["4.0"] = host.source("4.0", {"Broken.ttf": b"not a font"})
    before = host.state()
    code, output, ran = host.play("4.0", source["4.0"], check=True)
    assert code != 0 and recap(output)["failed"] == 1 and host.state() == before, output
    before = host.registered()
    code, output, ran = host.play("4.0", source["4.0"])
    assert code != 0 and recap(output)["failed"] == 1, output
    assert ran == [install("4.0", 1)] and "refused" in output
    assert host.registered() == before

    # A title that would name one of the deploy program's own folders is
    # refused before anything runs.
    code, output, ran = host.play("1.0", source["1.0"], title="0123456789ABCDEF")
    assert code != 0 and ran == [] and host.folders() == [TITLE], output
