#pragma once

#include <cstdint>
#include <memory>

#include "common/strings.h"
#include "platform/status.h"

// Registry operations under HKEY_LOCAL_MACHINE.

inline constexpr StringView font_registration_key_path =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

// Windows' value types; registry_win32.cpp ties each to its Windows name.
inline constexpr uint32_t registry_string_type = 1;         // REG_SZ
inline constexpr uint32_t registry_expand_string_type = 2;  // REG_EXPAND_SZ
inline constexpr uint32_t registry_dword_type = 4;          // REG_DWORD

// The registry's limit for a value name, in code units, terminator excluded.
inline constexpr uint32_t value_name_capacity = 16383;

// An open key, closed when it goes out of scope.
struct RegistryKeyHandle;
struct CloseRegistryKey {
    void operator()(RegistryKeyHandle* key) const;
};
using RegistryKey = std::unique_ptr<RegistryKeyHandle, CloseRegistryKey>;

// Opens the font registration key for scanning and deleting (KEY_READ,
// KEY_CREATE_SUB_KEY and KEY_SET_VALUE).
PlatformStatus open_font_registration_key(RegistryKey& key);

PlatformStatus count_values(const RegistryKey& key, uint32_t& count);

// Reads the whole name (null units included) and type of value `index`,
// through a name buffer of value_name_capacity units.
PlatformStatus enumerate_value(const RegistryKey& key, uint32_t index, String& name, uint32_t& type);

PlatformStatus delete_value(const RegistryKey& key, const String& name);

// Creates or opens the key, sets one REG_SZ value (terminator included) and
// closes the key again.
PlatformStatus write_string_value(StringView key_path, const String& name, const String& data);
