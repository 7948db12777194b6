#include <algorithm>
#include <string>

#include "platform/memory/memory_machine.h"
#include "platform/registry.h"

// What a handle points at: the path of the key it opened.
struct RegistryKeyHandle {
    String path;
};

namespace {

// Value names are matched without regard to case, as the registry does.
bool same_name(const String& left, const String& right) { return equals_ignoring_ascii_case(left, right); }

std::vector<MemoryValue>* values_of(const RegistryKey& key) {
    auto& keys = memory_machine().registry.keys;
    auto found = keys.find(key->path);
    return found == keys.end() ? nullptr : &found->second;
}

std::vector<MemoryValue>::iterator find_value(std::vector<MemoryValue>& values, const String& name) {
    return std::find_if(values.begin(), values.end(),
                        [&](const MemoryValue& value) { return same_name(value.name, name); });
}

// REG_SZ data as the registry keeps it: the units, then a null unit.
std::string stored_bytes(const MemoryValue& value) {
    std::string bytes;
    for (char16_t unit : value.data + u'\0') {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

String units_of(const std::string& bytes) {
    String units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                       static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    if (!units.empty() && units.back() == u'\0') units.pop_back();
    return units;
}

}  // namespace

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
    std::vector<MemoryValue>* values = values_of(key);
    count = values ? static_cast<uint32_t>(values->size()) : 0;
    return status_success;
}

PlatformStatus enumerate_value(const RegistryKey& key, uint32_t index, String& name, uint32_t& type) {
    if (PlatformStatus status = memory_call(Operation::enumerate_value)) return status;
    std::vector<MemoryValue>* values = values_of(key);
    if (!values || index >= values->size()) return status_no_more_items;
    const MemoryValue& value = (*values)[index];
    if (value.name.size() > value_name_capacity) return status_more_data;
    name = value.name;
    type = value.type;
    return status_success;
}

PlatformStatus delete_value(const RegistryKey& key, const String& name) {
    if (PlatformStatus status = memory_call(Operation::delete_value, name)) return status;
    std::vector<MemoryValue>* values = values_of(key);
    if (!values) return status_file_not_found;
    // The registry takes a name up to its first null unit.
    auto found = find_value(*values, name.substr(0, name.find(u'\0')));
    if (found == values->end()) return status_file_not_found;
    values->erase(found);
    return status_success;
}

PlatformStatus write_string_value(StringView key_path, const String& name, const String& data) {
    const String path(key_path);
    if (PlatformStatus status = memory_call(Operation::create_key, path)) return status;
    if (PlatformStatus status = memory_call(Operation::set_value, name)) return status;
    std::vector<MemoryValue>& values = memory_machine().registry.keys[path];
    auto found = find_value(values, name);
    if (found == values.end()) {
        values.push_back({name, registry_string_type, data});
    } else {
        found->type = registry_string_type;
        found->data = data;
    }
    return status_success;
}

PlatformStatus read_all_values(const RegistryKey& key, std::vector<RegistryValue>& values) {
    values.clear();
    if (PlatformStatus status = memory_call(Operation::read_all_values)) return status;
    if (std::vector<MemoryValue>* stored = values_of(key)) {
        for (const MemoryValue& value : *stored) values.push_back({value.name, value.type, stored_bytes(value)});
    }
    return status_success;
}

PlatformStatus put_value(const RegistryKey& key, const RegistryValue& value) {
    if (PlatformStatus status = memory_call(Operation::put_value, value.name)) return status;
    std::vector<MemoryValue>* values = values_of(key);
    if (!values) return status_file_not_found;
    MemoryValue stored{value.name, value.type, units_of(value.data)};
    auto found = find_value(*values, value.name);
    if (found == values->end()) {
        values->push_back(stored);
    } else {
        *found = stored;
    }
    return status_success;
}
