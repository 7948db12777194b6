#pragma once

// The in-memory registry behind the registry operations in host builds.

#include <map>
#include <vector>

#include "platform/registry.h"

struct MemoryValue {
    String name;
    uint32_t type = registry_string_type;
    String data;  // the data's UTF-16 units, without the terminating null
};

struct MemoryRegistry {
    // Keys by path, each with its values in the order they were first written.
    std::map<String, std::vector<MemoryValue>> keys;
    // Every call in order, e.g. u"open", u"enumerate 3", u"delete Acme Sans",
    // u"create <path>", u"set <name>", u"put <name>".
    std::vector<String> calls;
    // A call whose text is listed here fails with the given status.
    std::map<String, PlatformStatus> failures;
};

MemoryRegistry& memory_registry();

// A fresh registry holding an empty font registration key.
void reset_memory_registry();

std::vector<MemoryValue>& memory_font_values();
