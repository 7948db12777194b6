#include "common/paths.h"
#include "platform/memory/memory_machine.h"
#include "platform/security.h"

PlatformStatus check_private_folder(const String& path, FolderCheck& result) {
    result = FolderCheck::missing;
    if (PlatformStatus status = memory_call(Operation::check_private_folder, path)) return status;
    const MemoryEntry* entry = find_memory_entry(path);
    const auto& access = memory_machine().security.folder_access;
    auto listed = access.find(path);
    result = !entry                   ? FolderCheck::missing
             : entry->reparse_point   ? FolderCheck::reparse_point
             : !entry->is_folder      ? FolderCheck::not_a_folder
             : listed != access.end() ? listed->second
                                      : FolderCheck::safe;
    return status_success;
}

PlatformStatus create_private_folder(const String& path) {
    if (PlatformStatus status = memory_call(Operation::create_private_folder, path)) return status;
    if (find_memory_entry(path)) return status_already_exists;
    const MemoryEntry* parent = find_memory_entry(parent_folder(path));
    if (!parent || !parent->is_folder) return status_path_not_found;
    add_memory_folder(path);
    return status_success;
}
