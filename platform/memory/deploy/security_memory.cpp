#include "common/paths.h"
#include "platform/memory/memory_machine.h"
#include "platform/deploy/security.h"

ObjectSecurity private_object_security() {
    return ObjectSecurity{u"S-1-5-32-544", true, {{true, u"S-1-5-18", 0x1F01FF, 0x3}, {true, u"S-1-5-32-544", 0x1F01FF, 0x3}}};
}

// The listed owner and access entries, or a private object's; the kind from the entry.
ObjectSecurity memory_object_security(const MemoryEntry& entry) {
    const auto& objects = memory_machine().security.objects;
    auto listed = objects.find(entry.path);
    ObjectSecurity security = listed != objects.end() ? listed->second : private_object_security();
    security.reparse_point = entry.reparse_point;
    security.is_folder = entry.is_folder;
    return security;
}

PlatformStatus read_object_security(const String& path, ObjectSecurity& security) {
    security = ObjectSecurity{};
    if (PlatformStatus status = memory_call(Operation::read_object_security, path)) return status;
    const MemoryEntry* entry = find_memory_entry(path);
    if (!entry) return find_memory_entry(parent_folder(path)) ? status_file_not_found : status_path_not_found;
    security = memory_object_security(*entry);
    return status_success;
}

bool is_network_path(const String& path) {
    for (const String& root : memory_machine().security.network_roots) {
        if (path.size() >= root.size() && equals_ignoring_ascii_case(StringView(path).substr(0, root.size()), root)) return true;
    }
    return false;
}

PlatformStatus create_private_folder(const String& path) {
    if (PlatformStatus status = memory_call(Operation::create_private_folder, path)) return status;
    if (find_memory_entry(path)) return status_already_exists;
    const MemoryEntry* parent = find_memory_entry(parent_folder(path));
    if (!parent || !parent->is_folder) return status_path_not_found;
    add_memory_folder(path);
    return status_success;
}
