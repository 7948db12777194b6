#include "common/console_text.h"
#include "platform/console.h"
#include "platform/memory/memory_machine.h"

void write_console_line(StringView message) {
    memory_machine().output.console += console_bytes(message) + console_bytes(u"\r\n");
}

void write_console_text(StringView text) { memory_machine().output.console += console_bytes(text); }
