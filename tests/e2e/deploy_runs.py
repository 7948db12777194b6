"""What the Typeloader-Deploy.exe stories share: the program in the bundle
folder, a clean Font folder and log folder for each test, runs whose exit
code is read Windows-side, the restart, and the machine as a run sees it."""
import os
import shutil
import subprocess

import pytest

from make_font import make_font
from wine_prefix import LAUNCH, quote, stop_server

DEPLOY = r"C:\Typeloader\Typeloader-Deploy.exe"
FONTS = r"C:\windows\Fonts"
USAGE = b"Usage : Typeloader-Deploy install <title> [/version:<v>] [/whatif] | uninstall <title> [/whatif]\r\n"


@pytest.fixture(scope="module", autouse=True)
def deploy_exe(wine):
    shutil.copy2(os.environ["TYPELOADER_DEPLOY_EXE"], wine.program_dir / "Typeloader-Deploy.exe")


@pytest.fixture(autouse=True)
def clean(wine):
    """Each test starts with an empty Font folder and no log folder."""
    shutil.rmtree(wine.font_dir, ignore_errors=True)
    wine.font_dir.mkdir()
    log_folder(wine).parent.mkdir(exist_ok=True)
    remove(log_folder(wine))
    yield


def remove(path):
    if path.is_symlink() or path.is_file():
        path.unlink()
    elif path.exists():
        shutil.rmtree(path)


def log_folder(wine):
    return wine.drive_c / "windows" / "logs" / "Typeloader"


def deploy(wine, command_line, folder=None, lock=None, shared=False, program=DEPLOY):
    """(whole exit code, stdout bytes) of Typeloader-Deploy.exe run with exactly
    this command line."""
    return wine.run_command_line(command_line, program=program, folder=folder, lock=lock, shared=shared)


def job(wine, word, title, *options):
    return deploy(wine, " ".join([f"Typeloader-Deploy.exe {word} {quote(title)}", *options]))


def held(wine, word, title, name, *options):
    """The job while the copy `name` is held as a loaded font is: readable, not replaceable."""
    return deploy(wine, " ".join([f"d {word} {quote(title)}", *options]), lock=f"{FONTS}\\{name}", shared=True)


def fonts_folder(wine):
    return {entry.name: entry.read_bytes() for entry in wine.fonts_folder.iterdir() if entry.is_file()}


def machine(wine):
    return wine.values(), fonts_folder(wine)


def lines(output):
    return output.decode("utf-8").split("\r\n")[:-1]


def record_lines(output):
    """The lines that are log records: all but the outcome's word."""
    return lines(output)[:-1]


def add_fonts(wine, *names):
    for name in names:
        make_font(str(wine.font_dir / name), "E2e " + name.split(".")[0])


def restart(wine):
    """wineboot -r with the server stopped carries out PendingFileRenameOperations
    in order, as a restart of Windows does."""
    stop_server(wine.prefix)
    subprocess.run([*LAUNCH, "wineboot", "-r"], env=wine.env, check=True, timeout=300,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=wine.env, timeout=120)


def assert_after_restart(wine, title, bundle):
    """Every font of the bundle registered, its copy holding the bundle's bytes,
    nothing staged left behind."""
    strings = wine.strings()
    for name, data in bundle.items():
        assert strings.get(f"{title} {name[:-4]}") == f"{FONTS}\\{name}"
        assert (wine.fonts_folder / name).read_bytes() == data, name
    assert not [entry.name for entry in wine.fonts_folder.iterdir() if ".Typeloader-Deploy" in entry.name]
