"""Stand-in for ansible.windows.win_command running Typeloader-Deploy.exe.
Like the real module it has no check mode."""
from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ansible.windows.plugins.module_utils.standin import exit_code, host_path, record


def main():
    module = AnsibleModule(argument_spec={"argv": {"type": "list", "elements": "str"}, "chdir": {"type": "str"}},
                           supports_check_mode=False)
    argv, chdir = module.params["argv"], module.params["chdir"]
    if not host_path(argv[0]).is_file():
        module.fail_json(msg=f"The system cannot find the file specified: {argv[0]}", rc=2)
    record({"argv": argv, "chdir": chdir})
    code = exit_code(argv[1], argv[2])
    module.exit_json(changed=True, rc=code, stdout="", stdout_lines=[], stderr="")


main()
