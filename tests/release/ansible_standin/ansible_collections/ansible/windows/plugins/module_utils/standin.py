"""The stand-in host: a Wine prefix whose drive C is <root>/C, the real
Typeloader-Deploy.exe run in it through the test harness's tltest.exe, and a
journal of what ran."""
import json
import os
import pathlib
import subprocess
import sys


def root():
    return pathlib.Path(os.environ["TYPELOADER_STANDIN_ROOT"])


def host_path(windows_path):
    """C:\\Program Files\\X as <root>/C/Program Files/X."""
    drive, _, rest = windows_path.rstrip("\\").partition(":")
    return root().joinpath(drive, *[part for part in rest.split("\\") if part])


def windows_path(local):
    parts = local.relative_to(root()).parts
    return parts[0] + ":\\" + "\\".join(parts[1:])


def record(entry):
    with open(root() / "journal.jsonl", "a", encoding="utf-8") as journal:
        journal.write(json.dumps(entry) + "\n")


def harness():
    """tests/e2e/wine_prefix.py, and the environment of the host's prefix."""
    sys.path.insert(0, os.environ["TYPELOADER_STANDIN_HARNESS"])
    import wine_prefix
    return wine_prefix, wine_prefix.base_environment(os.environ["TYPELOADER_STANDIN_WINEPREFIX"])


def run_on_host(argv, chdir):
    """Runs argv in the prefix as win_command would (one command line, each
    argument quoted for CommandLineToArgvW); with TYPELOADER_STANDIN_HOLD, that
    Windows path is held open without sharing meanwhile, as a font in use is.
    Returns (whole exit code read Windows-side, stdout text)."""
    wine_prefix, env = harness()
    command_line = " ".join(wine_prefix.quote(argument) for argument in argv)
    args = ["C:\\tltest.exe", "run", wine_prefix.hex16(argv[0]), wine_prefix.hex16(command_line)]
    if chdir:
        args.append(wine_prefix.hex16(chdir))
    hold = os.environ.get("TYPELOADER_STANDIN_HOLD")
    if hold:
        args = ["C:\\tltest.exe", "lock", wine_prefix.hex16(hold), *args[1:]]
    done = subprocess.run([*wine_prefix.LAUNCH, "wine", *args], env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=600)
    code, out = wine_prefix.program_result(done)
    return code, out.decode("utf-8", "replace")


def restart_host():
    """The restart: wineboot -r with the server stopped carries out the pending
    restart-time file operations."""
    wine_prefix, env = harness()
    wine_prefix.stop_server(env["WINEPREFIX"])
    subprocess.run([*wine_prefix.LAUNCH, "wineboot", "-r"], env=env, check=True, timeout=300,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env, timeout=120)
