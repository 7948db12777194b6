#include "platform/deploy/standard_output.h"

#include "platform/win32/win32_handles.h"

#include <string>

void write_output_line(StringView line) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
    String text = String(line) + u"\r\n";
    DWORD written = 0;
    // A console shows the units whatever its code page; a pipe or a file (a
    // fleet tool's capture) gets UTF-8, as the log does. The handle stays one
    // for the whole run: asked once.
    static const bool console = [&] {
        DWORD mode = 0;
        return GetConsoleMode(output, &mode) != 0;
    }();
    if (console) {
        WriteConsoleW(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = utf8(text);
    WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
