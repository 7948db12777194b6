#include "platform/deploy/registry_keys.h"
#include "platform/memory/memory_machine.h"

PlatformStatus open_machine_key(StringView path, RegistryKey& key) {
    key.reset();
    if (PlatformStatus status = memory_call(Operation::open_machine_key, path)) return status;
    auto& keys = memory_machine().registry.keys;
    auto found = keys.find(path);
    if (found == keys.end()) return status_file_not_found;
    key.reset(new RegistryKeyHandle{found->first});
    return status_success;
}

PlatformStatus create_machine_key(StringView path, RegistryKey& key) {
    key.reset();
    if (PlatformStatus status = memory_call(Operation::create_machine_key, path)) return status;
    auto& keys = memory_machine().registry.keys;
    auto found = keys.try_emplace(String(path)).first;
    key.reset(new RegistryKeyHandle{found->first});
    return status_success;
}

PlatformStatus delete_machine_key(StringView path) {
    if (PlatformStatus status = memory_call(Operation::delete_machine_key, path)) return status;
    auto& keys = memory_machine().registry.keys;
    auto found = keys.find(path);
    if (found == keys.end()) return status_file_not_found;
    keys.erase(found);
    return status_success;
}
