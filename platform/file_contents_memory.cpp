#include <algorithm>

#include "platform/files_memory.h"

namespace {

String parent_of(const String& path) {
    size_t slash = path.rfind(u'\\');
    return slash == String::npos ? String() : path.substr(0, slash);
}

// Logs the call; the status it was told to fail with, or 0.
PlatformStatus record(const String& call) {
    MemoryFiles& files = memory_files();
    files.calls.push_back(call);
    auto failure = files.failures.find(call);
    return failure == files.failures.end() ? status_success : failure->second;
}


}  // namespace

PlatformStatus entry_kind(const String& path, EntryKind& kind) {
    const MemoryEntry* entry = find_memory_entry(path);
    kind = !entry                 ? EntryKind::missing
           : entry->reparse_point ? EntryKind::reparse_point
           : entry->is_folder     ? EntryKind::folder
                                  : EntryKind::file;
    return status_success;
}

PlatformStatus read_whole_file(const String& path, std::string& bytes) {
    bytes.clear();
    if (PlatformStatus status = record(u"read " + path)) return status;
    const MemoryEntry* entry = find_memory_entry(path);
    if (!entry) return status_file_not_found;
    if (entry->reparse_point) return status_stopped_on_link;
    if (entry->is_folder) return status_access_denied;
    if (entry->in_use) return status_sharing_violation;
    bytes = entry->contents;
    return status_success;
}

PlatformStatus file_size(const String& path, uint64_t& size) {
    size = 0;
    const MemoryEntry* entry = find_memory_entry(path);
    if (!entry || entry->is_folder) return status_file_not_found;
    size = entry->contents.size();
    return status_success;
}

PlatformStatus copy_file_replacing(const String& from, const String& to) {
    if (PlatformStatus status = record(u"copy replacing " + from + u" > " + to)) return status;
    const MemoryEntry* source = find_memory_entry(from);
    const MemoryEntry* target = find_memory_entry(to);
    if (!source || source->is_folder) return status_file_not_found;
    if (target && target->in_use) return status_sharing_violation;
    if (target && target->is_folder) return status_access_denied;
    const MemoryEntry* folder = find_memory_entry(parent_of(to));
    if (!folder || !folder->is_folder) return status_path_not_found;
    std::string contents = source->contents;
    add_memory_file(to, contents);
    return status_success;
}

PlatformStatus delete_file(const String& path) {
    if (PlatformStatus status = record(u"delete " + path)) return status;
    const MemoryEntry* entry = find_memory_entry(path);
    if (!entry) return status_file_not_found;
    if (entry->in_use) return status_sharing_violation;
    if (entry->is_folder) return status_access_denied;
    auto& entries = memory_files().entries;
    entries.erase(entries.begin() + (entry - entries.data()));
    return status_success;
}

PlatformStatus append_to_file(const String& path, const std::string& bytes) {
    if (PlatformStatus status = record(u"append " + path)) return status;
    MemoryEntry* entry = find_memory_entry_to_change(path);
    if (entry && (entry->reparse_point || entry->is_folder)) return status_access_denied;
    if (entry && entry->in_use) return status_sharing_violation;
    const MemoryEntry* folder = find_memory_entry(parent_of(path));
    if (!folder || !folder->is_folder) return status_path_not_found;
    if (entry) {
        entry->contents += bytes;
    } else {
        add_memory_file(path, bytes);
    }
    return status_success;
}

PlatformStatus rename_replacing(const String& from, const String& to) {
    if (PlatformStatus status = record(u"rename " + from + u" > " + to)) return status;
    MemoryEntry* source = find_memory_entry_to_change(from);
    if (!source) return status_file_not_found;
    const MemoryEntry* target = find_memory_entry(to);
    if (source->in_use || (target && target->in_use)) return status_sharing_violation;
    if (target && target->is_folder) return status_access_denied;
    source->path = to;
    if (target) {
        auto& entries = memory_files().entries;
        entries.erase(entries.begin() + (target - entries.data()));
    }
    return status_success;
}

PlatformStatus replace_at_restart(const String& staged, const String& target) {
    if (PlatformStatus status = record(u"replace at restart " + staged + u" > " + target)) return status;
    memory_files().restart_operations.push_back({staged, target});
    return status_success;
}

PlatformStatus delete_at_restart(const String& path) {
    if (PlatformStatus status = record(u"delete at restart " + path)) return status;
    memory_files().restart_operations.push_back({path, String()});
    return status_success;
}


PlatformStatus system_windows_folder(String& path) {
    path = memory_files().windows_folder;
    return status_success;
}
