"""Stand-in for ansible.windows.win_copy of a controller folder (src ending
in /) into a host folder: copies what differs, never deletes, and writes over
a host file whose name differs only in case, keeping its name, as Windows does."""
import pathlib
import shutil

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ansible.windows.plugins.module_utils.standin import host_path


def on_host(folder, relative):
    """folder/relative, each part matched to an existing name in any case."""
    path = folder
    for part in relative.parts:
        same = [entry for entry in path.iterdir() if entry.name.lower() == part.lower()] if path.is_dir() else []
        path = same[0] if same else path / part
    return path


def main():
    module = AnsibleModule(argument_spec={"src": {"type": "str"}, "dest": {"type": "str"}}, supports_check_mode=True)
    source, dest = pathlib.Path(module.params["src"]), host_path(module.params["dest"])
    changed = False
    for item in sorted(source.rglob("*")):
        if not item.is_file():
            continue
        target = on_host(dest, item.relative_to(source))
        if target.is_file() and target.read_bytes() == item.read_bytes():
            continue
        changed = True
        if not module.check_mode:
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(item, target)
    module.exit_json(changed=changed)


main()
