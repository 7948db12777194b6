"""The Ansible playbook packaging/deploy-fonts.yml: it passes
ansible-playbook --syntax-check and ansible-lint, uses only options that the
installed ansible.windows modules document, and it runs its update
story (install v01, update to v02, roll back to v01) on a local host whose
ansible.windows modules are stand-ins (ansible_standin/): check mode runs
nothing, "changed" and the restart come only from exit code 3010, each
version gets a clean copy in its own folder, the deploy program is started
by full path in that folder, and the previous title is uninstalled first."""
import json
import os
import pathlib
import shutil
import subprocess

import yaml

HERE = pathlib.Path(__file__).resolve().parent
PLAYBOOK = HERE.parents[1] / "packaging" / "deploy-fonts.yml"
STANDINS = HERE / "ansible_standin"
ROOT = "C:\\Program Files\\Typeloader"


def test_playbook_passes_syntax_check_and_lint(work_dir):
    done = subprocess.run(["ansible-playbook", "--syntax-check", "-i", "localhost,", str(PLAYBOOK)],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    assert shutil.which("ansible-lint"), "ansible-lint not installed (scripts/install-deps.sh)"
    lint = work_dir / "lint"
    shutil.rmtree(lint, ignore_errors=True)
    lint.mkdir(parents=True)
    shutil.copy(PLAYBOOK, lint)
    done = subprocess.run(["ansible-lint", "--offline", "deploy-fonts.yml"], cwd=lint, capture_output=True,
                          text=True, timeout=300, env={**os.environ, "HOME": str(lint)})
    assert done.returncode == 0, done.stdout + done.stderr


def test_playbook_uses_only_options_of_the_real_modules():
    """The stand-ins accept what they are written to accept; the installed
    ansible.windows collection says what the real modules take."""
    play = yaml.safe_load(PLAYBOOK.read_text(encoding="utf-8"))[0]
    used = {}
    for task in play["tasks"] + play["handlers"]:
        module = next(key for key in task if key.startswith("ansible.windows."))
        used.setdefault(module, set()).update(task[module] or {})
    done = subprocess.run(["ansible-doc", "-j", *used], capture_output=True, text=True, timeout=300,
                          env={**os.environ, "ANSIBLE_COLLECTIONS_PATH": ""})
    assert done.returncode == 0, done.stderr
    documented = json.loads(done.stdout)
    for module, options in used.items():
        assert options <= set(documented[module]["doc"]["options"]), (module, options)


class Host:
    """The stand-in host: its disk, the exit codes its deploy program gives,
    and the journal of what ran on it."""

    def __init__(self, base):
        self.base = base
        self.disk = base / "host"
        shutil.rmtree(base, ignore_errors=True)
        self.disk.mkdir(parents=True)
        (base / "inventory.ini").write_text(
            "[windows]\nstandin ansible_connection=local ansible_python_interpreter=/usr/bin/python3\n")

    def path(self, windows_path):
        drive, rest = windows_path.split(":\\", 1)
        return self.disk.joinpath(drive, *rest.split("\\"))

    def source(self, version, fonts):
        """An unpacked bundle of one version on the controller."""
        folder = self.base / "files" / f"ContosoBrand-{version}"
        (folder / "Font").mkdir(parents=True)
        (folder / "Typeloader-Deploy.exe").write_bytes(b"MZ stand-in")
        for name in fonts:
            (folder / "Font" / name).write_bytes(f"{version} {name}".encode())
        return folder

    def play(self, title, source, previous="", codes=None, check=False):
        """Runs the playbook; returns (ansible's exit code, output, journal)."""
        (self.disk / "exit-codes.json").write_text(json.dumps(codes or {}))
        journal = self.disk / "journal.jsonl"
        journal.unlink(missing_ok=True)
        args = ["ansible-playbook", "-i", str(self.base / "inventory.ini"), str(PLAYBOOK),
                "-e", f"typeloader_title={title}", "-e", f"typeloader_source={source}/",
                "-e", f"typeloader_previous_title={previous}"] + (["--check"] if check else [])
        env = {**os.environ, "ANSIBLE_COLLECTIONS_PATH": str(STANDINS), "TYPELOADER_STANDIN_ROOT": str(self.disk),
               "ANSIBLE_NOCOLOR": "1", "ANSIBLE_LOCAL_TEMP": str(self.base / "tmp"),
               "ANSIBLE_REMOTE_TEMP": str(self.base / "tmp")}
        done = subprocess.run(args, capture_output=True, text=True, timeout=300, env=env)
        ran = [json.loads(line) for line in journal.read_text().splitlines()] if journal.exists() else []
        return done.returncode, done.stdout + done.stderr, ran

    def tree(self):
        return sorted(str(p.relative_to(self.disk)) for p in self.disk.rglob("*") if p.is_file()
                      and p.name not in ("exit-codes.json", "journal.jsonl"))


def deploy(version, job, title):
    folder = f"{ROOT}\\ContosoBrand-{version}"
    return {"argv": [f"{folder}\\Typeloader-Deploy.exe", job, title], "chdir": folder}


REBOOT = {"reboot": True}


def recap(output):
    line = next(line for line in output.splitlines() if line.startswith("standin "))
    return {key: int(value) for key, value in (item.split("=") for item in line.split()[2:])}


def test_playbook_story_on_a_stand_in_host(work_dir):
    host = Host(work_dir / "playbook-standin")
    fonts = ["ContosoSans-Bold.ttf", "ContosoSans-Regular.ttf"]
    v01, v02 = host.source("v01", fonts), host.source("v02", fonts)
    v01_folder = "C/Program Files/Typeloader/ContosoBrand-v01"

    # Check mode on a fresh host: nothing copied, run or restarted.
    code, output, ran = host.play("ContosoBrand-v01", v01, codes={"install ContosoBrand-v01": 3010}, check=True)
    assert code == 0 and recap(output)["failed"] == 0, output
    assert ran == [] and host.tree() == []

    # Version 1: copied into its own folder, installed by full path there, restarted on 3010.
    code, output, ran = host.play("ContosoBrand-v01", v01, codes={"install ContosoBrand-v01": 3010})
    assert code == 0, output
    assert ran == [deploy("v01", "install", "ContosoBrand-v01"), REBOOT]
    assert host.tree() == [f"{v01_folder}/Font/{name}" for name in fonts] + [f"{v01_folder}/Typeloader-Deploy.exe"]

    # The same again: exit code 0, nothing changed anywhere, no restart.
    code, output, ran = host.play("ContosoBrand-v01", v01)
    assert code == 0 and recap(output)["changed"] == 0, output
    assert ran == [deploy("v01", "install", "ContosoBrand-v01")]

    # Check mode of the update: nothing run, removed or restarted.
    stale = host.path(f"{ROOT}\\ContosoBrand-v02\\Font\\ContosoSans-Italic.ttf")
    stale.parent.mkdir(parents=True)
    stale.write_bytes(b"left from an earlier copy")
    before = host.tree()
    code, output, ran = host.play("ContosoBrand-v02", v02, "ContosoBrand-v01", check=True)
    assert code == 0 and ran == [] and host.tree() == before, output

    # Update: a clean copy of v02, v01 uninstalled before v02 is installed, v01's folder gone, one restart.
    codes = {"uninstall ContosoBrand-v01": 3010, "install ContosoBrand-v02": 3010}
    code, output, ran = host.play("ContosoBrand-v02", v02, "ContosoBrand-v01", codes)
    assert code == 0, output
    assert ran == [deploy("v02", "uninstall", "ContosoBrand-v01"), deploy("v02", "install", "ContosoBrand-v02"),
                   REBOOT]
    v02_folder = "C/Program Files/Typeloader/ContosoBrand-v02"
    assert host.tree() == [f"{v02_folder}/Font/{name}" for name in fonts] + [f"{v02_folder}/Typeloader-Deploy.exe"]
    assert host.path(f"{ROOT}\\ContosoBrand-v02\\Font\\{fonts[0]}").read_bytes() == (v02 / "Font" / fonts[0]).read_bytes()

    # A refused install (exit code 1) fails the host and restarts nothing.
    code, output, ran = host.play("ContosoBrand-v01", v01, "ContosoBrand-v02", {"install ContosoBrand-v01": 1})
    assert code != 0 and recap(output)["failed"] == 1, output
    assert ran == [deploy("v01", "uninstall", "ContosoBrand-v02"), deploy("v01", "install", "ContosoBrand-v01")]

    # Roll back to v01 once the install succeeds: nothing left of v02.
    codes = {"uninstall ContosoBrand-v02": 0, "install ContosoBrand-v01": 3010}
    code, output, ran = host.play("ContosoBrand-v01", v01, "ContosoBrand-v02", codes)
    assert code == 0, output
    assert ran == [deploy("v01", "uninstall", "ContosoBrand-v02"), deploy("v01", "install", "ContosoBrand-v01"),
                   REBOOT]
    assert host.tree() == [f"{v01_folder}/Font/{name}" for name in fonts] + [f"{v01_folder}/Typeloader-Deploy.exe"]
