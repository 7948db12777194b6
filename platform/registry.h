#pragma once

#include <cstdint>

#include "common/strings.h"

// Registry operations under HKEY_LOCAL_MACHINE. A status is the registry's own
// result code: 0 is success, anything else is failure.
using RegistryStatus = int32_t;
using RegistryKey = void*;

inline constexpr StringView font_registration_key_path =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

inline constexpr uint32_t registry_string_type = 1;  // REG_SZ

// The registry's limit for a value name, in code units, terminator excluded.
inline constexpr uint32_t value_name_capacity = 16383;

// Opens the font registration key for scanning and deleting (KEY_READ,
// KEY_CREATE_SUB_KEY and KEY_SET_VALUE).
RegistryStatus open_font_registration_key(RegistryKey& key);

RegistryStatus count_values(RegistryKey key, uint32_t& count);

// Reads the whole name (null units included) and type of value `index`,
// through a name buffer of value_name_capacity units.
RegistryStatus enumerate_value(RegistryKey key, uint32_t index, String& name, uint32_t& type);

RegistryStatus delete_value(RegistryKey key, const String& name);

void close_key(RegistryKey key);

// Creates or opens the key, sets one REG_SZ value and closes the key again.
// True only when the value was written.
bool write_string_value(StringView key_path, const String& name, const String& data);
