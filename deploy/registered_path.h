#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "common/strings.h"

// The file a registration's data names, resolved by its text alone before any
// file is opened. Every spelling that Windows would take to another file, or
// that two different texts could share, is refused here, so that the identity
// check afterwards compares one file per text.

struct ResolvedPath {
    String path;     // X:\folder\file or \\server\share\folder\file
    String refusal;  // empty when path is usable
};

// REG_EXPAND_SZ data has each %NAME% replaced by environment(NAME) (an unknown
// name is a refusal); REG_SZ data is taken literally; other types are refused.
// A bare file name lies in fonts_folder. Slashes become backslashes, a \\?\,
// \\.\ or \??\ prefix goes (UNC\server\share after it is \\server\share), runs
// of backslashes become one. Refused: anything not absolute, a path ending in
// a backslash, a . or .. component, a component ending in a dot or a space or
// holding a character Windows does not allow in a file name (a colon would
// name a stream), and a DOS device name (CON, NUL, COM1, ...).
ResolvedPath resolve_registered_path(StringView data, uint32_t type, StringView fonts_folder,
                                     const std::function<std::optional<String>(StringView name)>& environment);

// Whether a resolved path names a direct child of the folder, the folder part
// compared as the registry compares names (trailing backslashes of the folder
// ignored). Lexical only: the platform checks the identity of the folder.
bool is_inside_folder(StringView path, StringView folder);
