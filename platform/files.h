#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "common/strings.h"
#include "platform/status.h"

// File-system and shell-folder operations. Paths use backslash separators.

// The system Fonts folder without a trailing backslash.
PlatformStatus system_fonts_folder(String& path);

// The temporary folder, ending in a backslash; empty when it cannot be had.
// For SYSTEM it is the system's own temporary folder, which other users
// cannot write, where the platform has one.
String temporary_folder();

// The result is not needed: an existing folder is fine and a failure shows
// up as failing copies.
void create_folder(const String& path);

// Replaces an existing destination. The result is not needed by the caller.
void copy_file(const String& from, const String& to);

struct FoundFile {
    String name;  // long file name, extension included
    String path;  // the pattern's resolved folder, a backslash and the name
};

// Patterns this long or longer are refused, as the platform's fixed path
// buffers (MAX_PATH) would.
inline constexpr size_t finder_pattern_limit = 260;

// Calls `each` for every entry that matches the wildcard pattern, in the order
// the file system lists them. Folders that match are yielded like files.
void find_files(const String& pattern, const std::function<void(const FoundFile&)>& each);
