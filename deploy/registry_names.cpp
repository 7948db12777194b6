#include "deploy/registry_names.h"

#include <algorithm>

#include "deploy/registry_upcase_table.h"

char16_t registry_upcase(char16_t unit) {
    // The last run that starts at or before the unit is the only one that can hold it.
    const UpcaseRun* after = std::upper_bound(std::begin(upcase_runs), std::end(upcase_runs), unit,
                                              [](char16_t wanted, const UpcaseRun& run) { return wanted < run.first; });
    if (after == std::begin(upcase_runs)) return unit;
    const UpcaseRun& run = *(after - 1);
    if (unit > run.last || (unit - run.first) % run.stride != 0) return unit;
    return static_cast<char16_t>(unit + run.delta);
}

bool same_registry_name(StringView left, StringView right) {
    if (left.size() != right.size()) return false;
    for (size_t i = 0; i < left.size(); ++i) {
        if (registry_upcase(left[i]) != registry_upcase(right[i])) return false;
    }
    return true;
}

bool registry_name_begins_with(StringView name, StringView prefix) {
    return name.size() >= prefix.size() && same_registry_name(name.substr(0, prefix.size()), prefix);
}
