#pragma once

#include <string>
#include <vector>

#include "common/strings.h"
#include "deploy/plan.h"
#include "platform/registry.h"

// Which registrations of the fonts key belong to a title, and which values
// refer to a copy in the Fonts folder.

// The text of string data as the registry holds it (UTF-16 units), up to its
// first null unit.
String registry_text(const std::string& data);

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
