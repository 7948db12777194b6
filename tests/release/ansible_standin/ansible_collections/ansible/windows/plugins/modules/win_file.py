"""Stand-in for ansible.windows.win_file with state: absent."""
import shutil

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ansible.windows.plugins.module_utils.standin import host_path


def main():
    module = AnsibleModule(argument_spec={"path": {"type": "str"}, "state": {"type": "str"}}, supports_check_mode=True)
    if module.params["state"] != "absent":
        module.fail_json(msg="the stand-in only removes")
    target = host_path(module.params["path"])
    existed = target.exists()
    if existed and not module.check_mode:
        shutil.rmtree(target) if target.is_dir() else target.unlink()
    module.exit_json(changed=existed)


main()
