"""The Ansible playbook packaging/deploy-fonts.yml: it passes
ansible-playbook --syntax-check and ansible-lint, uses only options that the
installed ansible.windows modules document, asks in requirements.yml for a
collection version that has them all, and runs its story on a local host whose
ansible.windows modules are stand-ins (ansible_standin/) acting on a Wine
prefix where the real Typeloader-Deploy.exe runs (the test bed's link, which
takes Wine's account for Administrators; see conftest.py): check mode runs nothing,
"changed" comes from the program's last output word, the restart handler
only from exit code 3010, each version gets a clean copy in its own folder
(names compared as Windows does, dot-files kept), and the previous title is
uninstalled first; the rollback is a roll-forward to a new title."""
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
    for task in play["tasks"] + play["handlers"]:
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

    def __init__(self, base, wine, deploy_exe):
        self.base, self.wine, self.deploy_exe = base, wine, deploy_exe
        self.disk = base / "host"
        shutil.rmtree(base, ignore_errors=True)
        self.disk.mkdir(parents=True)
        (self.disk / "C").symlink_to(wine.drive_c)
        (base / "inventory.ini").write_text(
            "[windows]\nstandin ansible_connection=local ansible_python_interpreter=/usr/bin/python3\n")

    def path(self, windows_path):
        drive, rest = windows_path.split(":\\", 1)
        return self.disk.joinpath(drive, *rest.split("\\"))

    def source(self, title, bundle_zip, fonts):
        """An unpacked bundle on the controller: {file name: bytes} in its Font."""
        folder = self.base / "files" / title
        with zipfile.ZipFile(bundle_zip) as opened:
            opened.extractall(folder)
        shutil.copy2(self.deploy_exe, folder / "Typeloader-Deploy.exe")
        for name, data in fonts.items():
            (folder / "Font" / name).write_bytes(data)
        return folder

    def play(self, title, source, previous="", check=False, hold=""):
        """Runs the playbook; returns (ansible's exit code, output, journal)."""
        journal = self.disk / "journal.jsonl"
        journal.unlink(missing_ok=True)
        args = ["ansible-playbook", "-i", str(self.base / "inventory.ini"), str(PLAYBOOK),
                "-e", f"typeloader_title={title}", "-e", f"typeloader_source={source}/",
                "-e", f"typeloader_previous_title={previous}", "-e", "typeloader_busy_delay=1"]
        env = {**os.environ, "ANSIBLE_COLLECTIONS_PATH": str(STANDINS), "TYPELOADER_STANDIN_ROOT": str(self.disk),
               "TYPELOADER_STANDIN_WINEPREFIX": str(self.wine.prefix), "TYPELOADER_STANDIN_HOLD": hold,
               "TYPELOADER_STANDIN_HARNESS": str(HERE.parent / "e2e"),
               "ANSIBLE_NOCOLOR": "1", "ANSIBLE_LOCAL_TEMP": str(self.base / "tmp"),
               "ANSIBLE_REMOTE_TEMP": str(self.base / "tmp")}
        done = subprocess.run(args + (["--check"] if check else []), capture_output=True, text=True, timeout=600,
                              env=env)
        ran = [json.loads(line) for line in journal.read_text().splitlines()] if journal.exists() else []
        return done.returncode, done.stdout + done.stderr, ran

    def folders(self):
        """The bundle folders the playbook made; the deploy program keeps its
        own copies beside them, in folders named by 16 hex digits."""
        top = self.path(ROOT)
        return sorted(entry.name for entry in top.iterdir() if not re.fullmatch("[0-9a-f]{16}", entry.name)) if top.is_dir() else []

    def registered(self):
        """{value name: file name} of the story's titles."""
        return {name: data.rsplit("\\", 1)[-1] for name, data in self.wine.strings().items()
                if name.startswith("ContosoBrand-")}

    def font(self, name):
        return (self.wine.fonts_folder / name).read_bytes()


def deploy(title, job, job_title, code):
    folder = f"{ROOT}\\{title}"
    return {"argv": [f"{folder}\\Typeloader-Deploy.exe", job, job_title], "chdir": folder, "rc": code}


def recap(output):
    line = next(line for line in output.splitlines() if line.startswith("standin "))
    return {key: int(value) for key, value in (item.split("=") for item in line.split()[2:])}


def reboots(ran):
    return [entry for entry in ran if "reboot" in entry]


@pytest.fixture(scope="module")
def playbook_wine(request):
    yield from private_machine(request, "release-playbook")


def test_playbook_story_against_the_deploy_program(work_dir, playbook_wine, bundle_zip, deploy_exe_for_wine):
    host = Host(work_dir / "playbook-standin", playbook_wine, deploy_exe_for_wine)
    regular, bold, light = "ContosoSans-Regular.ttf", "ContosoSans-Bold.ttf", ".ContosoSans-Light.ttf"
    v01 = {}
    for name, style in ((regular, "Regular"), (bold, "Bold")):
        make_font(str(work_dir / name), "ContosoSans", style)
        v01[name] = (work_dir / name).read_bytes()
    v02 = {name: data + b"\0" * 4 for name, data in v01.items()}  # other builds, same names
    source = {"ContosoBrand-v01": host.source("ContosoBrand-v01", bundle_zip, v01),
              "ContosoBrand-v02": host.source("ContosoBrand-v02", bundle_zip, v02)}

    # Check mode on a fresh host: nothing copied, run or restarted.
    code, output, ran = host.play("ContosoBrand-v01", source["ContosoBrand-v01"], check=True)
    assert code == 0 and recap(output)["failed"] == 0, output
    assert ran == [] and host.folders() == [] and host.registered() == {}

    # Version 1 on a machine where nothing is in use: 0, changed, no restart.
    code, output, ran = host.play("ContosoBrand-v01", source["ContosoBrand-v01"])
    assert code == 0 and recap(output)["changed"] >= 1, output
    assert ran == [deploy("ContosoBrand-v01", "install", "ContosoBrand-v01", 0)], output
    assert host.registered() == {"ContosoBrand-v01 ContosoSans-Regular": regular,
                                 "ContosoBrand-v01 ContosoSans-Bold": bold}

    # The same again: 0, unchanged, nothing changed anywhere, the handler never notified.
    code, output, ran = host.play("ContosoBrand-v01", source["ContosoBrand-v01"])
    assert code == 0 and recap(output)["changed"] == 0, output
    assert "RUNNING HANDLER" not in output
    assert ran == [deploy("ContosoBrand-v01", "install", "ContosoBrand-v01", 0)]

    # Check mode of the update: nothing run, removed or restarted.
    code, output, ran = host.play("ContosoBrand-v02", source["ContosoBrand-v02"], "ContosoBrand-v01", check=True)
    assert code == 0 and ran == [] and host.folders() == ["ContosoBrand-v01"], output

    # Update while the Regular font is in use: the old title's deletion waits
    # for the restart without asking for one (0), the new title's replacement
    # of it needs it (3010); one restart through the handler, with the message
    # and the delay; after it only version 2 is there.
    code, output, ran = host.play("ContosoBrand-v02", source["ContosoBrand-v02"], "ContosoBrand-v01",
                                  hold=f"C:\\windows\\Fonts\\{regular}")
    assert code == 0, output
    assert ran[:2] == [deploy("ContosoBrand-v02", "uninstall", "ContosoBrand-v01", 0),
                       deploy("ContosoBrand-v02", "install", "ContosoBrand-v02", 3010)], output
    assert [(r["pre_reboot_delay"], "restarts in 300 seconds" in r["msg"]) for r in reboots(ran)] == [(300, True)]
    assert host.folders() == ["ContosoBrand-v02"]
    assert host.registered() == {"ContosoBrand-v02 ContosoSans-Regular": regular,
                                 "ContosoBrand-v02 ContosoSans-Bold": bold}
    assert (host.font(regular), host.font(bold)) == (v02[regular], v02[bold])

    # Roll back by rolling forward: version 1's fonts under a new title, plus a
    # dot-file font; the host's Font folder already holds Bold under another
    # case, which Windows takes for the same file and which must stay.
    v03 = {**v01, light: v01[regular] + b"\0" * 8}
    source["ContosoBrand-v03"] = host.source("ContosoBrand-v03", bundle_zip, v03)
    stale = host.path(f"{ROOT}\\ContosoBrand-v03\\Font\\CONTOSOSANS-BOLD.TTF")
    stale.parent.mkdir(parents=True)
    stale.write_bytes(b"left from an earlier copy")
    (source["ContosoBrand-v03"] / "Font" / bold).write_bytes(v01[bold])
    code, output, ran = host.play("ContosoBrand-v03", source["ContosoBrand-v03"], "ContosoBrand-v02")
    assert code == 0 and recap(output)["changed"] >= 1, output
    assert ran == [deploy("ContosoBrand-v03", "uninstall", "ContosoBrand-v02", 0),
                   deploy("ContosoBrand-v03", "install", "ContosoBrand-v03", 0)], output
    assert host.folders() == ["ContosoBrand-v03"]
    assert host.registered() == {"ContosoBrand-v03 ContosoSans-Regular": regular,
                                 "ContosoBrand-v03 CONTOSOSANS-BOLD": "CONTOSOSANS-BOLD.TTF",
                                 "ContosoBrand-v03 .ContosoSans-Light": light}
    assert host.font("CONTOSOSANS-BOLD.TTF") == v01[bold] and host.font(regular) == v01[regular]

    # Its rerun: nothing copied, removed or installed again, no restart.
    code, output, ran = host.play("ContosoBrand-v03", source["ContosoBrand-v03"], "ContosoBrand-v02")
    assert code == 0 and recap(output)["changed"] == 0, output
    assert "RUNNING HANDLER" not in output and reboots(ran) == []

    # A refused install (1, "refused") fails the host, changes nothing and restarts nothing.
    before = host.registered()
    source["ContosoBrand-v04"] = host.source("ContosoBrand-v04", bundle_zip, {"Broken.ttf": b"not a font"})
    code, output, ran = host.play("ContosoBrand-v04", source["ContosoBrand-v04"])
    assert code != 0 and recap(output)["failed"] == 1, output
    assert ran == [deploy("ContosoBrand-v04", "install", "ContosoBrand-v04", 1)] and "refused" in output
    assert host.registered() == before
