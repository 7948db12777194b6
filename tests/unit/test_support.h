#pragma once

#include <string>

#include "common/console_memory.h"
#include "platform/files_memory.h"
#include "platform/registry_memory.h"

// A clean in-memory machine before every test.
inline void reset_machine() {
    reset_memory_registry();
    reset_memory_files();
    captured_console_output().clear();
}

// Expected console output: each line followed by CR CR LF.
inline std::string console_lines(std::initializer_list<std::string> lines) {
    std::string bytes;
    for (const std::string& line : lines) bytes += line + "\r\r\n";
    return bytes;
}

inline String ascii(const std::string& text) { return String(text.begin(), text.end()); }
