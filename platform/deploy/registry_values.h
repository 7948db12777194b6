#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/strings.h"
#include "platform/registry.h"
#include "platform/status.h"

// Whole values of any type, which only Typeloader-Deploy.exe reads and puts
// back.

// A value as the registry stores it: any type, the data as raw bytes (a REG_SZ
// written by write_string_value ends in a null unit).
struct RegistryValue {
    String name;
    uint32_t type = registry_string_type;
    std::string data;
    bool operator==(const RegistryValue&) const = default;
};

// Every value of the open key with its data, in enumeration order.
PlatformStatus read_all_values(const RegistryKey& key, std::vector<RegistryValue>& values);

// Writes the value's type and raw data under its name, replacing a value of
// that name.
PlatformStatus put_value(const RegistryKey& key, const RegistryValue& value);
