#include "platform/console_memory.h"

#include "common/console.h"
#include "platform/console.h"

std::string& captured_console_output() {
    static std::string output;
    return output;
}

void write_console_line(StringView message) {
    captured_console_output() += console_bytes(message) + console_bytes(u"\r\n");
}

void write_console_text(StringView text) {
    captured_console_output() += console_bytes(text);
}
