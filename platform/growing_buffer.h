#pragma once

#include <algorithm>
#include <cstddef>

#include "common/strings.h"

// Fetches a text of unknown length from a call that fills a fixed buffer:
// `fill(buffer, size)` returns the length written, 0 on failure, or a value
// of at least `size` when the text did not fit. Calls differ in that value:
// GetTempPathW gives the size it needs, GetModuleFileNameW only the size it
// was given, so the buffer at least doubles each time and a path of 32,767
// units takes a handful of calls, not one per unit.
template <typename Fill>
String fetch_growing(size_t first_size, Fill fill) {
    String buffer(first_size, u'\0');
    for (;;) {
        const size_t length = fill(buffer.data(), buffer.size());
        if (length == 0) return String();
        if (length < buffer.size()) return buffer.substr(0, length);
        buffer.assign(std::max(buffer.size() * 2, length + 1), u'\0');
    }
}
