"""Stand-in for ansible.windows.win_command: runs the real program in the
host's Wine prefix. Like the real module it has no check mode."""
from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ansible.windows.plugins.module_utils.standin import host_path, record, run_on_host


def main():
    module = AnsibleModule(argument_spec={"argv": {"type": "list", "elements": "str"}, "chdir": {"type": "str"}},
                           supports_check_mode=False)
    argv, chdir = module.params["argv"], module.params["chdir"]
    if not host_path(argv[0]).is_file():
        module.fail_json(msg=f"The system cannot find the file specified: {argv[0]}", rc=2)
    code, out = run_on_host(argv, chdir)
    record({"argv": argv, "chdir": chdir, "rc": code})
    module.exit_json(changed=True, rc=code, stdout=out, stdout_lines=out.splitlines(), stderr="")


main()
