"""Stand-in for ansible.windows.win_find: one folder, no recursion."""
from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ansible.windows.plugins.module_utils.standin import host_path, windows_path


def main():
    module = AnsibleModule(argument_spec={"paths": {"type": "list", "elements": "str"}, "file_type": {"type": "str"},
                                          "hidden": {"type": "bool"}, "get_checksum": {"type": "bool"}},
                           supports_check_mode=True)
    files = []
    for path in module.params["paths"]:
        folder = host_path(path)
        if not folder.is_dir():
            module.warn(f"Argument path '{path}' does not exist or is not accessible, skipping")
            continue
        want_dir = module.params["file_type"] == "directory"
        files += [{"path": windows_path(entry), "filename": entry.name} for entry in sorted(folder.iterdir())
                  if entry.is_dir() == want_dir]
    module.exit_json(changed=False, files=files, matched=len(files))


main()
