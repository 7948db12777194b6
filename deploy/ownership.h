#pragma once

#include <string>
#include <vector>

#include "common/paths.h"
#include "common/strings.h"
#include "platform/registry.h"

// Which registrations of the fonts key belong to a title, and which values
// refer to a copy in the Fonts folder.

// The text of string data as the registry holds it (UTF-16 units), up to its
// first null unit.
String registry_text(const std::string& data);

// REG_SZ and REG_EXPAND_SZ: the types whose data names a font file.
bool is_text_type(uint32_t type);

// A value is the title's own when its name is the title, a space and some x,
// and the file name of its data without its last extension is x: exactly what
// Typeloader.exe writes for a font file titled x.
bool is_own_registration(StringView title, StringView name, StringView data);

// A value that an uninstall of the title would remove, with its data, and
// whether it is the title's own.
struct Removal {
    String name;
    String data;
    bool own = false;
};

// What Typeloader.exe's uninstall would remove from the open fonts key for
// this title, found by the uninstall job's own scan; `values` is the key as
// read_all_values gave it.
std::vector<Removal> uninstall_removals(const RegistryKey& key, const std::vector<RegistryValue>& values,
                                        const String& title);

// Whether a registration's data names this copy: by its full path or by its
// bare file name (Windows' own entries), ASCII case ignored.
bool refers_to(StringView data, StringView copy_path);
