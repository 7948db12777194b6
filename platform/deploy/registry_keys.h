#pragma once

#include "common/strings.h"
#include "platform/registry.h"
#include "platform/status.h"

// Keys under HKEY_LOCAL_MACHINE other than the fonts key, always in the
// 64-bit view (KEY_WOW64_64KEY): the Apps & features entry. Key names compare
// as the registry compares them (case ignored). Values are read and written
// through platform/deploy/registry_values.h and delete_value.

// Opens an existing key to read and set its values; status_file_not_found
// when there is none.
PlatformStatus open_machine_key(StringView path, RegistryKey& key);

// Opens the key to read and set its values, creating it (and its missing
// parents) when there is none.
PlatformStatus create_machine_key(StringView path, RegistryKey& key);

// Deletes the key with its values (it has no subkeys); status_file_not_found
// when there is none.
PlatformStatus delete_machine_key(StringView path);
