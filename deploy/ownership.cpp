#include "deploy/ownership.h"

#include <cstdint>

#include "fonts/file_title.h"
#include "fonts/jobs.h"

String registry_text(const std::string& data) {
    String units;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                              static_cast<unsigned char>(data[i + 1]) << 8);
        if (unit == u'\0') break;
        units += unit;
    }
    return units;
}

std::vector<Removal> uninstall_removals(const RegistryKey& key, const std::vector<RegistryValue>& values,
                                        const String& title) {
    std::vector<Removal> removals;
    for (const String& name : uninstall_scan(key, title)) {
        Removal removal{name, String()};
        for (const RegistryValue& value : values) {
            if (value.name == name) removal.data = registry_text(value.data);
        }
        removal.own = is_own_registration(title, name, removal.data);
        removals.push_back(removal);
    }
    return removals;
}
