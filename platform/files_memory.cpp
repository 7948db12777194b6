#include "platform/files_memory.h"

#include <algorithm>

namespace {

bool same_path(StringView left, StringView right) { return equals_ignoring_ascii_case(left, right); }

String parent_of(const String& path) {
    size_t slash = path.rfind(u'\\');
    return slash == String::npos ? String() : path.substr(0, slash);
}

MemoryEntry* entry_at(const String& path) {
    auto& entries = memory_files().entries;
    auto found = std::find_if(entries.begin(), entries.end(),
                              [&](const MemoryEntry& entry) { return same_path(entry.path, path); });
    return found == entries.end() ? nullptr : &*found;
}

bool folder_exists(const String& path) {
    const MemoryEntry* entry = entry_at(path);
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

MemoryFiles& memory_files() {
    static MemoryFiles files;
    return files;
}

void reset_memory_files() {
    memory_files() = MemoryFiles{};
    add_memory_folder(u"C:\\Tools");
    add_memory_folder(u"C:\\Windows");
    add_memory_folder(u"C:\\Windows\\Fonts");
    add_memory_folder(u"C:\\Temp");
}

void add_memory_folder(const String& path) {
    if (!entry_at(path)) memory_files().entries.push_back({path, true, {}});
}

void add_memory_file(const String& path, const std::string& contents) {
    if (MemoryEntry* entry = entry_at(path)) {
        entry->contents = contents;
    } else {
        memory_files().entries.push_back({path, false, contents});
    }
}

const MemoryEntry* find_memory_entry(const String& path) { return entry_at(path); }
MemoryEntry* find_memory_entry_to_change(const String& path) { return entry_at(path); }

PlatformStatus system_fonts_folder(String& path) {
    memory_files().calls.push_back(u"fonts folder");
    if (memory_files().fonts_folder_status != status_success) return memory_files().fonts_folder_status;
    path = memory_files().fonts_folder;
    return status_success;
}

String temporary_folder() {
    memory_files().calls.push_back(u"temporary folder");
    return memory_files().temporary_folder;
}

void create_folder(const String& path) {
    String call = u"create folder " + path;
    memory_files().calls.push_back(call);
    if (memory_files().failures.count(call) || !folder_exists(parent_of(path))) return;
    add_memory_folder(path);
}

void copy_file(const String& from, const String& to) {
    String call = u"copy " + from + u" > " + to;
    memory_files().calls.push_back(call);
    if (memory_files().failures.count(call)) return;
    const MemoryEntry* source = entry_at(from);
    const MemoryEntry* target = entry_at(to);
    if (!source || source->is_folder || (target && (target->is_folder || target->in_use))) return;
    if (!folder_exists(parent_of(to))) return;
    std::string contents = source->contents;
    add_memory_file(to, contents);
}

void find_files(const String& pattern, const std::function<void(const FoundFile&)>& each) {
    memory_files().calls.push_back(u"find " + pattern);
    if (pattern.size() >= finder_pattern_limit) return;
    String folder = parent_of(pattern);
    if (!folder_exists(folder)) return;
    String wildcard = pattern.substr(folder.size() + 1);
    // A copy of the listing: the caller may add files while it walks.
    std::vector<MemoryEntry> listing = memory_files().entries;
    for (const MemoryEntry& entry : listing) {
        if (!same_path(parent_of(entry.path), folder)) continue;
        String name = entry.path.substr(folder.size() + 1);
        if (!platform_matches(wildcard, name)) continue;
        each(FoundFile{name, folder + u"\\" + name});
    }
}
