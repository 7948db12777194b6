#include "common/paths.h"
#include "platform/files.h"
#include "platform/memory/memory_machine.h"

namespace {

bool folder_exists(StringView path) {
    const MemoryEntry* entry = find_memory_entry(path);
    return entry && entry->is_folder;
}

bool wildcard_matches(StringView pattern, StringView name) {
    if (pattern.empty()) return name.empty();
    if (pattern[0] == u'*') {
        for (size_t skip = 0; skip <= name.size(); ++skip) {
            if (wildcard_matches(pattern.substr(1), name.substr(skip))) return true;
        }
        return false;
    }
    if (name.empty()) return false;
    if (pattern[0] != u'?' && fold_ascii_letter(pattern[0]) != fold_ascii_letter(name[0])) return false;
    return wildcard_matches(pattern.substr(1), name.substr(1));
}

// Windows also matches a wildcard against the 8.3 short name, whose extension
// is the first three units of the long one: "*.ttf" finds "Sans.ttfx" too.
bool platform_matches(StringView pattern, StringView name) {
    if (wildcard_matches(pattern, name)) return true;
    size_t dot = name.rfind(u'.');
    if (dot == StringView::npos || name.size() - dot - 1 <= 3) return false;
    String short_form = String(name.substr(0, dot + 4));
    return wildcard_matches(pattern, short_form);
}

}  // namespace

PlatformStatus system_fonts_folder(String& path) {
    if (PlatformStatus status = memory_call(Operation::system_fonts_folder)) return status;
    path = memory_machine().files.fonts_folder;
    return status_success;
}

String temporary_folder() {
    memory_call(Operation::temporary_folder);
    return memory_machine().files.temporary_folder;
}

void create_folder(const String& path) {
    PlatformStatus status = memory_call(Operation::create_folder, path);
    if (status || !folder_exists(parent_folder(path))) return;
    add_memory_folder(path);
}

void copy_file(const String& from, const String& to) {
    PlatformStatus status = memory_call(Operation::copy_file, to);
    if (status) return;
    const MemoryEntry* source = find_memory_entry(from);
    const MemoryEntry* target = find_memory_entry(to);
    if (!source || source->is_folder || (target && (target->is_folder || target->in_use))) return;
    if (!folder_exists(parent_folder(to))) return;
    std::string contents = source->contents;
    add_memory_file(to, contents);
}

void find_files(const String& pattern, const std::function<void(const FoundFile&)>& each) {
    memory_call(Operation::find_files, pattern);
    if (pattern.size() >= finder_pattern_limit) return;
    const String folder = parent_folder(pattern);
    if (!folder_exists(folder)) return;
    const String wildcard = pattern.substr(folder.size() + 1);
    // A copy of the listing: the caller may add files while it walks.
    std::vector<MemoryEntry> listing = memory_machine().files.entries;
    for (const MemoryEntry& entry : listing) {
        if (!equals_ignoring_ascii_case(parent_folder(entry.path), folder)) continue;
        String name = entry.path.substr(folder.size() + 1);
        if (!platform_matches(wildcard, name)) continue;
        each(FoundFile{name, folder + u"\\" + name});
    }
}
