"""Stand-in for ansible.windows.win_reboot: records the restart and restarts
the host's Wine prefix. Under check mode it reports changed and does nothing,
as the real action plugin does."""
from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ansible.windows.plugins.module_utils.standin import record, restart_host


def main():
    module = AnsibleModule(argument_spec={"msg": {"type": "str"}, "pre_reboot_delay": {"type": "int"}},
                           supports_check_mode=True)
    if not module.check_mode:
        record({"reboot": True, "msg": module.params["msg"], "pre_reboot_delay": module.params["pre_reboot_delay"]})
        restart_host()
    module.exit_json(changed=True, rebooted=not module.check_mode)


main()
