#include <vector>

#include "fonts/jobs.h"
#include "fonts/typeloader_contract.h"
#include "platform/console.h"
#include "platform/registry.h"

std::vector<String> uninstall_scan(const RegistryKey& key, const String& title) {
    // Without a count there is nothing sound to scan.
    uint32_t count = 0;
    if (count_values(key, count) != status_success) count = 0;

    // Deleting while enumerating by index would shift the indexes, so the
    // names are gathered first.
    std::vector<String> doomed;
    String name;
    uint32_t type = 0;
    for (uint32_t index = 0; index < count; ++index) {
        if (enumerate_value(key, index, name, type) != status_success) continue;
        if (uninstall_takes(title, name, type)) doomed.push_back(name);
    }
    return doomed;
}

void uninstall_fonts(const String& title) {
    write_console_line(uninstall_header + title);

    RegistryKey key;
    if (open_font_registration_key(key) != status_success) return;

    for (const String& name : uninstall_scan(key, title)) {
        bool deleted = delete_value(key, name) == status_success;
        write_console_line((deleted ? uninstall_ok : uninstall_fail) + name);
    }
}
