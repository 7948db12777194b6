#include "common/paths.h"
#include "platform/deploy/file_entries.h"
#include "platform/memory/memory_machine.h"

PlatformStatus entry_kind(const String& path, EntryKind& kind) {
    const MemoryEntry* entry = find_memory_entry(path);
    kind = !entry                 ? EntryKind::missing
           : entry->reparse_point ? EntryKind::reparse_point
           : entry->is_folder     ? EntryKind::folder
                                  : EntryKind::file;
    return status_success;
}

PlatformStatus copy_file_replacing(const String& from, const String& to) {
    if (PlatformStatus status = memory_call(Operation::copy_file_replacing, to)) return status;
    const MemoryEntry* source = find_memory_entry(from);
    const MemoryEntry* target = find_memory_entry(to);
    if (!source || source->is_folder) return status_file_not_found;
    if (target && target->in_use) return status_sharing_violation;
    if (target && target->is_folder) return status_access_denied;
    const MemoryEntry* folder = find_memory_entry(parent_folder(to));
    if (!folder || !folder->is_folder) return status_path_not_found;
    std::string contents = source->contents;
    add_memory_file(to, contents);
    return status_success;
}

PlatformStatus delete_file(const String& path) {
    if (PlatformStatus status = memory_call(Operation::delete_file, path)) return status;
    const MemoryEntry* entry = find_memory_entry(path);
    if (!entry) return status_file_not_found;
    if (entry->in_use) return status_sharing_violation;
    if (entry->is_folder) return status_access_denied;
    remove_memory_entry(entry);
    return status_success;
}

PlatformStatus file_identity(const String& path, FileIdentity& identity) {
    identity = {};
    const MemoryEntry* entry = find_memory_entry(path);
    if (!entry) return find_memory_entry(parent_folder(path)) ? status_file_not_found : status_path_not_found;
    identity = {1, 0, entry->id};
    return status_success;
}

bool environment_variable(StringView name, String& value) {
    for (const auto& [variable, text] : memory_machine().process.environment) {
        if (!equals_ignoring_ascii_case(variable, name)) continue;
        value = text;
        return true;
    }
    return false;
}

PlatformStatus folder_entry_names(const String& folder, std::vector<String>& names) {
    names.clear();
    if (PlatformStatus status = memory_call(Operation::folder_entry_names, folder)) return status;
    const MemoryEntry* found = find_memory_entry(folder);
    if (!found) return status_path_not_found;
    if (!found->is_folder) return status_directory_name_invalid;
    for (const MemoryEntry& entry : memory_machine().files.entries) {
        if (!equals_ignoring_ascii_case(parent_folder(entry.path), found->path)) continue;
        names.emplace_back(file_name_of(entry.path));
        if (!entry.short_name.empty()) names.emplace_back(file_name_of(entry.short_name));
    }
    return status_success;
}

PlatformStatus remove_folder(const String& path) {
    if (PlatformStatus status = memory_call(Operation::remove_folder, path)) return status;
    const MemoryEntry* folder = find_memory_entry(path);
    if (!folder) return status_file_not_found;
    if (!folder->is_folder) return status_directory_name_invalid;
    for (const MemoryEntry& entry : memory_machine().files.entries) {
        if (equals_ignoring_ascii_case(parent_folder(entry.path), path)) return status_directory_not_empty;
    }
    remove_memory_entry(folder);
    return status_success;
}

PlatformStatus replace_at_restart(const String& staged, const String& target) {
    if (PlatformStatus status = memory_call(Operation::replace_at_restart, target)) return status;
    memory_machine().files.restart_operations.push_back({staged, target});
    return status_success;
}

PlatformStatus delete_at_restart(const String& path) {
    if (PlatformStatus status = memory_call(Operation::delete_at_restart, path)) return status;
    memory_machine().files.restart_operations.push_back({path, String()});
    return status_success;
}

PlatformStatus replace_file(const String& from, const String& to) {
    if (PlatformStatus status = memory_call(Operation::replace_file, to)) return status;
    const MemoryEntry* source = find_memory_entry(from);
    if (!source) return find_memory_entry(parent_folder(from)) ? status_file_not_found : status_path_not_found;
    if (source->in_use) return status_sharing_violation;
    const MemoryEntry* folder = find_memory_entry(parent_folder(to));
    if (!folder || !folder->is_folder) return status_path_not_found;
    if (const MemoryEntry* target = find_memory_entry(to); target && target != source) {
        if (target->in_use) return status_sharing_violation;
        if (target->is_folder) return status_access_denied;
        remove_memory_entry(target);
    }
    MemoryEntry* moved = find_memory_entry(from);  // removing the target may have moved it
    moved->path = to;
    moved->short_name.clear();
    return status_success;
}

PlatformStatus program_files_folder(String& path) {
    if (PlatformStatus status = memory_call(Operation::program_files_folder)) return status;
    path = memory_machine().files.program_files_folder;
    return status_success;
}

PlatformStatus system_windows_folder(String& path) {
    path = memory_machine().files.windows_folder;
    return status_success;
}
