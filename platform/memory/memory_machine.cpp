#include "platform/memory/memory_machine.h"

#include <algorithm>

#include "deploy/registry_names.h"

MemoryMachine& memory_machine() {
    static MemoryMachine machine;
    return machine;
}

void reset_memory_machine() {
    MemoryMachine& machine = memory_machine();
    machine = MemoryMachine{};
    add_memory_folder(u"C:\\Tools");
    add_memory_folder(u"C:\\Windows");
    add_memory_folder(u"C:\\Windows\\Fonts");
    add_memory_folder(u"C:\\Temp");
    add_memory_folder(machine.files.program_files_folder);
    machine.registry.keys[String(font_registration_key_path)];
}

bool RegistryPathLess::operator()(StringView left, StringView right) const {
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                        [](char16_t a, char16_t b) { return registry_upcase(a) < registry_upcase(b); });
}

PlatformStatus memory_call(Operation operation, StringView subject) {
    MemoryMachine& machine = memory_machine();
    if (!machine.first_call) machine.first_call = operation;
    const uint32_t call = ++machine.calls[operation];
    if (machine.before_call) machine.before_call(operation, subject);
    // The most particular point first: this subject on this call.
    const String named(subject);
    for (const FailurePoint& point : {FailurePoint{operation, named, call}, FailurePoint{operation, named, 0},
                                      FailurePoint{operation, std::nullopt, call}, FailurePoint{operation, std::nullopt, 0}}) {
        auto failure = machine.failures.find(point);
        if (failure != machine.failures.end()) return failure->second;
    }
    return status_success;
}

uint32_t memory_calls_of(Operation operation) {
    auto& calls = memory_machine().calls;
    auto found = calls.find(operation);
    return found == calls.end() ? 0 : found->second;
}

uint32_t memory_calls_in_total() {
    uint32_t total = 0;
    for (const auto& [operation, count] : memory_machine().calls) total += count;
    return total;
}

void add_memory_folder(const String& path) {
    MemoryFiles& files = memory_machine().files;
    if (!find_memory_entry(path)) files.entries.push_back({path, true, {}, false, false, {}, ++files.last_id});
}

void add_memory_file(const String& path, const std::string& contents) {
    if (MemoryEntry* entry = find_memory_entry(path)) {
        entry->contents = contents;
    } else {
        MemoryFiles& files = memory_machine().files;
        files.entries.push_back({path, false, contents, false, false, {}, ++files.last_id});
    }
}

MemoryEntry* find_memory_entry(StringView path) {
    // As Win32 reads a path: trailing dots and spaces of its last part go,
    // and case is ignored over all of Unicode, as NTFS does.
    while (!path.empty() && (path.back() == u'.' || path.back() == u' ')) path.remove_suffix(1);
    auto& entries = memory_machine().files.entries;
    auto found = std::find_if(entries.begin(), entries.end(), [&](const MemoryEntry& entry) {
        return same_registry_name(entry.path, path) || (!entry.short_name.empty() && same_registry_name(entry.short_name, path));
    });
    return found == entries.end() ? nullptr : &*found;
}

void remove_memory_entry(const MemoryEntry* entry) {
    auto& entries = memory_machine().files.entries;
    entries.erase(entries.begin() + (entry - entries.data()));
}

std::vector<MemoryValue>& memory_font_values() {
    return memory_machine().registry.keys[String(font_registration_key_path)];
}
