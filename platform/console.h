#pragma once

#include "common/strings.h"

// Standard output, through the C runtime's wide formatted output in its
// default text mode and "C" locale. Each write reaches the output before the
// call returns, so a run that ends abnormally keeps every line it wrote.

// Writes one console line: the message, then "\r\n".
void write_console_line(StringView message);

// Writes the text as the format of one wide formatted write, with no line end
// added. Used only for the start-up failure messages.
void write_console_text(StringView text);
