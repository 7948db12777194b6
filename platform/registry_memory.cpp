#include "platform/registry_memory.h"

#include <algorithm>
#include <string>

namespace {

constexpr RegistryStatus file_not_found = 2;
constexpr RegistryStatus more_data = 234;
constexpr RegistryStatus no_more_items = 259;

// What a handle points at: the path of the key it opened.
struct MemoryKey {
    String path;
};

String decimal(uint32_t number) {
    std::string digits = std::to_string(number);
    return String(digits.begin(), digits.end());
}

// Logs the call and returns the status it was told to fail with, or 0.
RegistryStatus record(const String& call) {
    MemoryRegistry& registry = memory_registry();
    registry.calls.push_back(call);
    auto failure = registry.failures.find(call);
    return failure == registry.failures.end() ? 0 : failure->second;
}

// Value names are matched without regard to case, as the registry does.
bool same_name(const String& left, const String& right) {
    return equals_ignoring_ascii_case(left, right);
}

std::vector<MemoryValue>* values_of(RegistryKey key) {
    auto& keys = memory_registry().keys;
    auto found = keys.find(static_cast<MemoryKey*>(key)->path);
    return found == keys.end() ? nullptr : &found->second;
}

}  // namespace

MemoryRegistry& memory_registry() {
    static MemoryRegistry registry;
    return registry;
}

void reset_memory_registry() {
    memory_registry() = MemoryRegistry{};
    memory_registry().keys[String(font_registration_key_path)];
}

std::vector<MemoryValue>& memory_font_values() {
    return memory_registry().keys[String(font_registration_key_path)];
}

RegistryStatus open_font_registration_key(RegistryKey& key) {
    key = nullptr;
    if (RegistryStatus status = record(u"open")) return status;
    String path(font_registration_key_path);
    if (!memory_registry().keys.count(path)) return file_not_found;
    key = new MemoryKey{path};
    ++memory_registry().opened_keys;
    return 0;
}

RegistryStatus count_values(RegistryKey key, uint32_t& count) {
    count = 0;
    if (RegistryStatus status = record(u"count")) return status;
    std::vector<MemoryValue>* values = values_of(key);
    count = values ? static_cast<uint32_t>(values->size()) : 0;
    return 0;
}

RegistryStatus enumerate_value(RegistryKey key, uint32_t index, String& name, uint32_t& type) {
    if (RegistryStatus status = record(u"enumerate " + decimal(index))) return status;
    std::vector<MemoryValue>* values = values_of(key);
    if (!values || index >= values->size()) return no_more_items;
    const MemoryValue& value = (*values)[index];
    if (value.name.size() > value_name_capacity) return more_data;
    name = value.name;
    type = value.type;
    return 0;
}

RegistryStatus delete_value(RegistryKey key, const String& name) {
    if (RegistryStatus status = record(u"delete " + name)) return status;
    std::vector<MemoryValue>* values = values_of(key);
    if (!values) return file_not_found;
    auto found = std::find_if(values->begin(), values->end(),
                              [&](const MemoryValue& value) { return same_name(value.name, name); });
    if (found == values->end()) return file_not_found;
    values->erase(found);
    return 0;
}

void close_key(RegistryKey key) {
    record(u"close");
    delete static_cast<MemoryKey*>(key);
    ++memory_registry().closed_keys;
}

bool write_string_value(StringView key_path, const String& name, const String& data) {
    const String path(key_path);
    if (record(u"create " + path) != 0) return false;
    ++memory_registry().opened_keys;
    std::vector<MemoryValue>& values = memory_registry().keys[path];
    bool written = record(u"set " + name) == 0;
    if (written) {
        auto found = std::find_if(values.begin(), values.end(),
                                  [&](const MemoryValue& value) { return same_name(value.name, name); });
        if (found == values.end()) {
            values.push_back({name, registry_string_type, data});
        } else {
            found->type = registry_string_type;
            found->data = data;
        }
    }
    record(u"close");
    ++memory_registry().closed_keys;
    return written;
}
