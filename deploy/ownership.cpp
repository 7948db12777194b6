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

bool is_text_type(uint32_t type) { return type == 1 || type == 2; }

bool is_own_registration(StringView title, StringView name, StringView data) {
    if (name.size() <= title.size() || !name.starts_with(title) || name[title.size()] != u' ') return false;
    return file_title(file_name_of(data)) == name.substr(title.size() + 1);
}

bool refers_to(StringView data, StringView copy_path) {
    if (equals_ignoring_ascii_case(data, copy_path)) return true;
    return data.find_first_of(u"\\/") == StringView::npos && equals_ignoring_ascii_case(data, file_name_of(copy_path));
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
