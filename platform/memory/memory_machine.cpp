#include "platform/memory/memory_machine.h"

#include <algorithm>

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
    machine.registry.keys[String(font_registration_key_path)];
}

PlatformStatus memory_call(Operation operation, StringView subject) {
    MemoryMachine& machine = memory_machine();
    if (!machine.first_call) machine.first_call = operation;
    const uint32_t call = ++machine.calls[operation];
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
    if (!find_memory_entry(path)) memory_machine().files.entries.push_back({path, true, {}});
}

void add_memory_file(const String& path, const std::string& contents) {
    if (MemoryEntry* entry = find_memory_entry(path)) {
        entry->contents = contents;
    } else {
        memory_machine().files.entries.push_back({path, false, contents});
    }
}

MemoryEntry* find_memory_entry(StringView path) {
    auto& entries = memory_machine().files.entries;
    auto found = std::find_if(entries.begin(), entries.end(),
                              [&](const MemoryEntry& entry) { return equals_ignoring_ascii_case(entry.path, path); });
    return found == entries.end() ? nullptr : &*found;
}

void remove_memory_entry(const MemoryEntry* entry) {
    auto& entries = memory_machine().files.entries;
    entries.erase(entries.begin() + (entry - entries.data()));
}

std::vector<MemoryValue>& memory_font_values() {
    return memory_machine().registry.keys[String(font_registration_key_path)];
}
