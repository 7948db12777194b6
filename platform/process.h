#pragma once

#include <cstdint>
#include <vector>

#include "common/paths.h"
#include "common/strings.h"
#include "platform/status.h"

// Operations on the running process.

// The flags quiet_error_mode adds: SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX.
inline constexpr uint32_t quiet_error_mode_flags = 0x8001;

// Makes System32 the only folder that LoadLibrary and the loader search for
// the rest of the process, so that nothing planted beside the executable is
// ever loaded by name. A call that passes its own LOAD_LIBRARY_SEARCH_* flags
// overrides this for that call, and a load by full path searches nothing.
PlatformStatus restrict_dll_search_to_system32();

bool has_own_module_handle();

// Adds quiet_error_mode_flags to the error mode in force.
void quiet_error_mode();

String full_command_line();

// Splits by the platform's own quoting rules, the program name first. On
// failure the status, and no arguments.
PlatformStatus split_command_line(const String& command_line, std::vector<String>& arguments);

// The running executable's own full path; empty when it cannot be had.
String executable_file();

// The folder that holds the executable, without a trailing backslash; empty
// when the path holds no backslash.
inline String executable_folder() { return parent_folder(executable_file()); }
