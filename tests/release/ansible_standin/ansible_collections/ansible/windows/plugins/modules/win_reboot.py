"""Stand-in for ansible.windows.win_reboot: records the restart. Under check
mode it reports changed and does nothing, as the real action plugin does."""
from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ansible.windows.plugins.module_utils.standin import record


def main():
    module = AnsibleModule(argument_spec={}, supports_check_mode=True)
    if not module.check_mode:
        record({"reboot": True})
    module.exit_json(changed=True, rebooted=not module.check_mode)


main()
