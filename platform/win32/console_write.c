/* Kept in C on purpose: once a C++ header is seen, mingw-w64 routes wprintf to
   its own ISO implementation, where %s in a wide format is a narrow string.
   Here wprintf is msvcrt's own, where %s in a wide format is a wide string. */
#define __USE_MINGW_ANSI_STDIO 0
#include <stdio.h>
#include <wchar.h>

void console_write_wide(const wchar_t* text, int as_format) {
    if (as_format) {
        wprintf(text);
    } else {
        wprintf(L"%s\r\n", text);
    }
    /* Into a pipe or a file, as under every fleet tool, msvcrt buffers fully:
       a run that ends abnormally would lose the lines of what it already
       changed. Each write reaches the output before the job goes on. */
    fflush(stdout);
}
