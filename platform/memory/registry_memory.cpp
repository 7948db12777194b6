#include <algorithm>
#include <string>

#include "platform/memory/memory_machine.h"
#include "platform/registry.h"

std::vector<MemoryValue>* memory_key_values(const RegistryKey& key) {
    auto& keys = memory_machine().registry.keys;
    auto found = keys.find(key->path);
    return found == keys.end() ? nullptr : &found->second;
}

std::vector<MemoryValue>::iterator find_memory_value(std::vector<MemoryValue>& values, StringView name) {
    return std::find_if(values.begin(), values.end(),
                        [&](const MemoryValue& value) { return equals_ignoring_ascii_case(value.name, name); });
}

void CloseRegistryKey::operator()(RegistryKeyHandle* key) const {
    delete key;
}

PlatformStatus open_font_registration_key(RegistryKey& key) {
    key.reset();
    if (PlatformStatus status = memory_call(Operation::open_font_registration_key)) return status;
    String path(font_registration_key_path);
    if (!memory_machine().registry.keys.count(path)) return status_file_not_found;
    key.reset(new RegistryKeyHandle{path});
    return status_success;
}

PlatformStatus count_values(const RegistryKey& key, uint32_t& count) {
    count = 0;
    if (PlatformStatus status = memory_call(Operation::count_values)) return status;
    std::vector<MemoryValue>* values = memory_key_values(key);
    count = values ? static_cast<uint32_t>(values->size()) : 0;
    return status_success;
}

PlatformStatus enumerate_value(const RegistryKey& key, uint32_t index, String& name, uint32_t& type) {
    if (PlatformStatus status = memory_call(Operation::enumerate_value)) return status;
    std::vector<MemoryValue>* values = memory_key_values(key);
    if (!values || index >= values->size()) return status_no_more_items;
    const MemoryValue& value = (*values)[index];
    if (value.name.size() > value_name_capacity) return status_more_data;
    name = value.name;
    type = value.type;
    return status_success;
}

PlatformStatus delete_value(const RegistryKey& key, const String& name) {
    if (PlatformStatus status = memory_call(Operation::delete_value, name)) return status;
    std::vector<MemoryValue>* values = memory_key_values(key);
    if (!values) return status_file_not_found;
    // The registry takes a name up to its first null unit.
    auto found = find_memory_value(*values, name.substr(0, name.find(u'\0')));
    if (found == values->end()) return status_file_not_found;
    values->erase(found);
    return status_success;
}

PlatformStatus write_string_value(StringView key_path, const String& name, const String& data) {
    const String path(key_path);
    if (PlatformStatus status = memory_call(Operation::create_key, path)) return status;
    if (PlatformStatus status = memory_call(Operation::set_value, name)) return status;
    std::vector<MemoryValue>& values = memory_machine().registry.keys[path];
    auto found = find_memory_value(values, name);
    if (found == values.end()) {
        values.push_back({name, registry_string_type, data});
    } else {
        found->type = registry_string_type;
        found->data = data;
    }
    return status_success;
}
