"""The stand-in host: a folder for its disk and a journal of what ran."""
import json
import os
import pathlib


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


def exit_code(job, title):
    codes = root() / "exit-codes.json"
    table = json.loads(codes.read_text(encoding="utf-8")) if codes.exists() else {}
    return table.get(f"{job} {title}", 0)
