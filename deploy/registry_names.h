#pragma once

#include "common/strings.h"

// Registry value names are compared as the registry compares them: ordinal,
// each UTF-16 unit taken through Unicode's simple uppercase mapping (what
// CompareStringOrdinal with ignore-case does); surrogates stay as they are.

char16_t registry_upcase(char16_t unit);

bool same_registry_name(StringView left, StringView right);

// True when the name's first prefix.size() units are the prefix in that comparison.
bool registry_name_begins_with(StringView name, StringView prefix);
