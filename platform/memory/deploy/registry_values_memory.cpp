#include <string>

#include "platform/deploy/registry_values.h"
#include "platform/memory/memory_machine.h"

namespace {

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

PlatformStatus read_all_values(const RegistryKey& key, std::vector<RegistryValue>& values) {
    values.clear();
    if (PlatformStatus status = memory_call(Operation::read_all_values)) return status;
    if (std::vector<MemoryValue>* stored = memory_key_values(key)) {
        for (const MemoryValue& value : *stored) values.push_back({value.name, value.type, stored_bytes(value)});
    }
    return status_success;
}

PlatformStatus put_value(const RegistryKey& key, const RegistryValue& value) {
    if (PlatformStatus status = memory_call(Operation::put_value, value.name)) return status;
    std::vector<MemoryValue>* values = memory_key_values(key);
    if (!values) return status_file_not_found;
    MemoryValue stored{value.name, value.type, units_of(value.data)};
    auto found = find_memory_value(*values, value.name);
    if (found == values->end()) {
        values->push_back(stored);
    } else {
        *found = stored;
    }
    return status_success;
}
