#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/memory/memory_machine.h"

// A clean in-memory machine before every test.
inline void reset_machine() {
    reset_memory_machine();
}

// Expected console output: each line followed by CR CR LF.
inline std::string console_lines(std::initializer_list<std::string> lines) {
    std::string bytes;
    for (const std::string& line : lines) bytes += line + "\r\r\n";
    return bytes;
}

inline String ascii(const std::string& text) { return String(text.begin(), text.end()); }

// A text as printable ASCII for failure messages: other units as \uXXXX.
inline std::string readable(const String& text) {
    std::string out = "u\"";
    for (char16_t unit : text) {
        if (unit >= 0x20 && unit < 0x7F && unit != u'"' && unit != u'\\') {
            out += static_cast<char>(unit);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04X", static_cast<unsigned>(unit));
            out += escaped;
        }
    }
    return out + "\"";
}

inline std::string readable(const std::vector<String>& texts) {
    std::string out = "{";
    for (const String& text : texts) out += (out.size() > 1 ? ", " : "") + readable(text);
    return out + "}";
}
