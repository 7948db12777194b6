#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "common/strings.h"

// Process, shell and file-system operations. Paths use backslash separators.

// Limits every later DLL load of the process, and those that system DLLs make
// on its behalf, to System32, so that nothing planted beside the executable
// is ever loaded. False when the platform refuses.
bool restrict_dll_search_to_system32();

bool has_own_module_handle();

// Adds "fail critical errors" and "no open-file error box" to the error mode.
void quiet_error_mode();

String full_command_line();

// Splits by the platform's own quoting rules, the program name first. False,
// and no arguments, when the platform cannot split it.
bool split_command_line(const String& command_line, std::vector<String>& arguments);

// The folder that holds the executable, without a trailing backslash; empty
// when the path holds no backslash.
String executable_folder();

// The system Fonts folder without a trailing backslash. Status 0 is success.
int32_t system_fonts_folder(String& path);

// The temporary folder, ending in a backslash; empty when it cannot be had.
String temporary_folder();

// The result is not needed: an existing folder is fine and a failure shows
// up as failing copies.
void create_folder(const String& path);

// Replaces an existing destination. The result is not needed by the caller.
void copy_file(const String& from, const String& to);

struct FoundFile {
    String name;   // long file name, extension included
    String path;   // the pattern's resolved folder, a backslash and the name
    String title;  // the name without its last extension
};

// Patterns this long or longer are refused, as the platform's fixed path
// buffers would.
inline constexpr size_t finder_pattern_limit = 260;

// Calls `each` for every entry that matches the wildcard pattern, in the order
// the file system lists them. Folders that match are yielded like files.
void find_files(const String& pattern, const std::function<void(const FoundFile&)>& each);

// The name without the part from its last "." on.
String file_title(StringView name);
