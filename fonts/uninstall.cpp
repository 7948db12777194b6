#include <vector>

#include "fonts/jobs.h"
#include "fonts/typeloader_contract.h"
#include "platform/console.h"
#include "platform/registry.h"

std::vector<String> uninstall_scan(const RegistryKey& key, const String& title) {
    // Without a count there is nothing sound to scan.
    uint32_t count = 0;
    PlatformStatus counted = count_values(key, count);
    if (counted) count = 0;

    // Deleting while enumerating by index would shift the indexes, so the
    // names are gathered first.
    std::vector<String> doomed;
    String name;
    uint32_t type = 0;
    for (uint32_t index = 0; index < count; ++index) {
        PlatformStatus status = enumerate_value(key, index, name, type);
        if (status) continue;
        if (uninstall_takes(title, name, type)) doomed.push_back(name);
    }
    return doomed;
}

void uninstall_fonts(const String& title) {
    write_console_line(uninstall_header + title);

    RegistryKey key;
    PlatformStatus opened = open_font_registration_key(key);
    if (opened) return;

    for (const String& name : uninstall_scan(key, title)) {
        PlatformStatus status = delete_value(key, name);
        write_console_line((status ? uninstall_fail : uninstall_ok) + name);
    }
}
