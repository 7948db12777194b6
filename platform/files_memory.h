#pragma once

// The in-memory process and file system behind the process and file
// operations in host builds.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"

struct MemoryEntry {
    String path;  // full path, backslash separators
    bool is_folder = false;
    std::string contents;
    bool reparse_point = false;     // a link: never followed
    bool in_use = false;            // held open without sharing: no copy onto it, no delete, no rename
    bool foreign_owner = false;     // a folder owned by someone other than SYSTEM or Administrators
    bool others_may_change = false; // a folder whose access entries let others write
};

// A replacement (or, with an empty target, a deletion) waiting for the restart.
struct RestartOperation {
    String from;
    String to;
};

struct MemoryFiles {
    PlatformStatus dll_search_restriction_status = status_success;
    bool module_handle = true;
    uint32_t error_mode = 0;
    String command_line = u"Typeloader.exe";
    // What splitting gives; none makes the split fail.
    std::optional<std::vector<String>> arguments = std::vector<String>{u"Typeloader.exe"};
    String executable_path = u"C:\\Tools\\Typeloader.exe";
    PlatformStatus fonts_folder_status = status_success;
    String fonts_folder = u"C:\\Windows\\Fonts";
    String temporary_folder = u"C:\\Temp\\";
    // Files and folders in the order they were made; a folder lists its
    // entries in this order.
    std::vector<MemoryEntry> entries;
    // Every call in order, e.g. u"find <pattern>", u"copy <from> > <to>",
    // u"create folder <path>".
    std::vector<String> calls;
    // A call whose text is listed here fails with the given status.
    std::map<String, PlatformStatus> failures;
    // What the deploy jobs need beyond Typeloader.exe's own operations.
    String windows_folder = u"C:\\Windows";
    std::vector<RestartOperation> restart_operations;
    // Runs a program for run_program: its exit code, its output appended.
    std::function<uint32_t(const String& program, const String& command_line, std::string& output)> program_runner;
    PlatformStatus program_start_status = status_success;
    std::map<String, String> file_versions;  // by path; a missing one fails
    std::vector<String> output_lines;         // written by write_output_line
};

MemoryFiles& memory_files();

// A fresh process whose executable lies in C:\Tools, with folders C:\Tools,
// C:\Windows\Fonts and C:\Temp.
void reset_memory_files();

void add_memory_folder(const String& path);
void add_memory_file(const String& path, const std::string& contents);
const MemoryEntry* find_memory_entry(const String& path);
MemoryEntry* find_memory_entry_to_change(const String& path);
