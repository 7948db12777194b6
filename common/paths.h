#pragma once

#include "common/strings.h"

// Cutting Windows paths (backslash separators), the same way for the product
// and the in-memory machine.

// The folder part of a path: everything before its last backslash; empty
// when the path holds none.
inline String parent_folder(StringView path) {
    const size_t slash = path.rfind(u'\\');
    return String(slash == StringView::npos ? StringView() : path.substr(0, slash));
}

// The part of a path after its last backslash or slash.
inline StringView file_name_of(StringView path) {
    const size_t separator = path.find_last_of(u"\\/");
    return separator == StringView::npos ? path : path.substr(separator + 1);
}
