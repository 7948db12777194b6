#pragma once

// The in-memory machine behind every platform operation in host builds: one
// member per concept, reached through memory_machine() and made fresh by
// reset_memory_machine() before each test.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/strings.h"
#include "platform/deploy/clock.h"
#include "platform/deploy/security.h"
#include "platform/registry.h"
#include "platform/status.h"

// The operations a test can make fail, or count.
enum class Operation {
    // process
    restrict_dll_search,
    // files
    system_fonts_folder,
    temporary_folder,
    create_folder,
    copy_file,
    find_files,
    folder_entry_names,
    copy_file_replacing,
    delete_file,
    remove_folder,
    replace_at_restart,
    delete_at_restart,
    read_pending_file_renames,  // its subject: the value's name
    program_files_folder,
    replace_file,
    probe_in_use,
    // held files
    open_for_reading,
    open_log_file,
    append_to_open_file,
    // registry
    open_font_registration_key,
    count_values,
    enumerate_value,
    delete_value,
    create_key,  // the first half of write_string_value
    set_value,   // its second half
    read_all_values,
    put_value,
    open_machine_key,  // its subject: the key's path
    create_machine_key,
    delete_machine_key,
    // programs
    run_program,
    file_version,
    // security
    read_object_security,
    read_held_file_security,
    create_private_folder,
};

// Where a failure is injected: an operation, the path or value name it is
// called for (none: whichever), and the one call of that operation it hits
// (1 is the first; 0: every call). The subject of a copy, a rename or a
// replacement at the restart is its destination.
struct FailurePoint {
    Operation operation;
    std::optional<String> subject = std::nullopt;
    uint32_t call = 0;
    auto operator<=>(const FailurePoint&) const = default;
};

struct MemoryEntry {
    String path;  // full path, backslash separators
    bool is_folder = false;
    std::string contents;
    bool reparse_point = false;  // a link: never followed
    bool in_use = false;         // held open without sharing: no copy onto it, no delete, no rename
    String short_name;           // another full path that reaches it, as an 8.3 name does
    uint64_t id = 0;             // its file ID, given when it is made and kept through renames
};

// A replacement (or, with an empty target, a deletion) waiting for the restart.
struct RestartOperation {
    String from;
    String to;
};

struct MemoryFiles {
    String fonts_folder = u"C:\\Windows\\Fonts";
    String temporary_folder = u"C:\\Temp\\";
    String windows_folder = u"C:\\Windows";
    String program_files_folder = u"C:\\Program Files";
    // Files and folders in the order they were made; a folder lists its
    // entries in this order.
    std::vector<MemoryEntry> entries;
    std::vector<RestartOperation> restart_operations;         // the first list, which the deploy writes
    std::vector<RestartOperation> second_restart_operations;  // the second, which only others write
    uint64_t last_id = 0;
};

struct MemoryValue {
    String name;
    uint32_t type = registry_string_type;
    String data;  // the data's UTF-16 units, without the terminating null
};

// Key paths ordered as the registry compares names (case ignored), so that
// two spellings of one path find one key.
struct RegistryPathLess {
    using is_transparent = void;
    bool operator()(StringView left, StringView right) const;
};

struct MemoryRegistry {
    // Keys by path, each with its values in the order they were first written.
    std::map<String, std::vector<MemoryValue>, RegistryPathLess> keys;
};

// What a registry handle points at: the path of the key it opened.
struct RegistryKeyHandle {
    String path;
};

// The values of the key the handle opened; null when the key is gone.
std::vector<MemoryValue>* memory_key_values(const RegistryKey& key);
// The value of that name, matched without regard to case as the registry
// does; end() when there is none.
std::vector<MemoryValue>::iterator find_memory_value(std::vector<MemoryValue>& values, StringView name);

struct MemoryProcess {
    bool module_handle = true;
    uint32_t error_mode = 0;
    String command_line = u"Typeloader.exe";
    // What splitting gives; none makes the split fail.
    std::optional<std::vector<String>> arguments = std::vector<String>{u"Typeloader.exe"};
    String executable_path = u"C:\\Tools\\Typeloader.exe";
    std::map<String, String> environment{{u"SystemRoot", u"C:\\Windows"}};  // names as written; looked up ignoring ASCII case
};

struct MemoryPrograms {
    // Runs a program for run_program: its exit code, its output appended.
    std::function<uint32_t(const String& program, const String& command_line, std::string& output)> runner;
    std::map<String, String> file_versions;  // by path; a missing one fails
};

struct MemoryOutput {
    std::string console;        // the bytes console lines put on standard output
    std::vector<String> lines;  // written by write_output_line
};

struct MemoryClock {
    // A fixed instant, so that host tests can compare whole records.
    LocalTime now{2026, 3, 7, 9, 5, 4, 32, -60};
    uint32_t thread_id = 412;
    uint64_t slept_milliseconds = 0;  // waits add up here; no time passes
};

// Owned by Administrators, full control for SYSTEM and Administrators only,
// inherited by what is made inside: what a file or folder not listed in
// MemorySecurity has.
ObjectSecurity private_object_security();
// The entry's security as read_object_security gives it.
ObjectSecurity memory_object_security(const MemoryEntry& entry);

struct MemorySecurity {
    // An object's owner and access entries, by path (kind and link come from
    // its MemoryEntry); one not listed has private_object_security().
    std::map<String, ObjectSecurity> objects;
    // Paths that begin with one of these (ASCII case ignored) are on a network share.
    std::vector<String> network_roots;
};

struct MemoryMachine {
    MemoryFiles files;
    MemoryRegistry registry;
    MemoryProcess process;
    MemoryPrograms programs;
    MemoryOutput output;
    MemoryClock clock;
    MemorySecurity security;

    std::map<FailurePoint, PlatformStatus> failures;
    // How often each operation was called, and which came first: enough to
    // show what ran, and that the DLL search restriction comes before all.
    std::map<Operation, uint32_t> calls;
    std::optional<Operation> first_call;
    // Run at every counted call before its failure is looked up: how a test
    // changes the machine in the middle of a run, as another program would.
    std::function<void(Operation, StringView subject)> before_call;
};

MemoryMachine& memory_machine();

// A fresh machine: the executable in C:\Tools; folders C:\Tools, C:\Windows,
// C:\Windows\Fonts, C:\Temp and C:\Program Files; an empty font
// registration key.
void reset_memory_machine();

// Counts the call and gives the status a failure point injects, or success.
PlatformStatus memory_call(Operation operation, StringView subject = {});

uint32_t memory_calls_of(Operation operation);
uint32_t memory_calls_in_total();

void add_memory_folder(const String& path);
void add_memory_file(const String& path, const std::string& contents);
// The entry at the path or its short name (ASCII case ignored), or null.
MemoryEntry* find_memory_entry(StringView path);
void remove_memory_entry(const MemoryEntry* entry);

std::vector<MemoryValue>& memory_font_values();
