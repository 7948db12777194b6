#include "platform/files_memory.h"
#include "platform/security.h"

PlatformStatus check_private_folder(const String& path, FolderCheck& result) {
    memory_files().calls.push_back(u"check folder " + path);
    const MemoryEntry* entry = find_memory_entry(path);
    result = !entry                     ? FolderCheck::missing
             : entry->reparse_point     ? FolderCheck::reparse_point
             : !entry->is_folder        ? FolderCheck::not_a_folder
             : entry->foreign_owner     ? FolderCheck::foreign_owner
             : entry->others_may_change ? FolderCheck::others_may_change
                                        : FolderCheck::safe;
    return status_success;
}

PlatformStatus create_private_folder(const String& path) {
    String call = u"create private folder " + path;
    memory_files().calls.push_back(call);
    auto failure = memory_files().failures.find(call);
    if (failure != memory_files().failures.end()) return failure->second;
    if (find_memory_entry(path)) return 183;  // ERROR_ALREADY_EXISTS
    size_t slash = path.rfind(u'\\');
    const MemoryEntry* parent = slash == String::npos ? nullptr : find_memory_entry(path.substr(0, slash));
    if (!parent || !parent->is_folder) return 3;  // ERROR_PATH_NOT_FOUND
    add_memory_folder(path);
    return status_success;
}
