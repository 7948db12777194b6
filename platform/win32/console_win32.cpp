#include "common/console_text.h"
#include "platform/console.h"

extern "C" void console_write_wide(const wchar_t* text, int as_format);

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the Win32 layer needs 16-bit wchar_t");

void write_console_line(StringView message) {
    String safe = console_safe_text(message);
    console_write_wide(reinterpret_cast<const wchar_t*>(safe.c_str()), 0);
}

void write_console_text(StringView text) {
    String safe = console_safe_text(text);
    console_write_wide(reinterpret_cast<const wchar_t*>(safe.c_str()), 1);
}
