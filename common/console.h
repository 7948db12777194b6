#pragma once

#include <string>

#include "common/strings.h"

// Writes one console line: the message, then "\r\n", through the C runtime's
// wide formatted output on standard output in its default text mode.
void write_console_line(StringView message);

// Writes the text as the format of one wide formatted write, with no line end
// added. Used only for the start-up failure message.
void write_console_text(StringView text);

// The bytes that the runtime's text-mode output in the "C" locale makes of a
// wide text: a unit up to U+00FF is that one byte, any other unit is '?', and
// a line feed becomes CR LF.
std::string console_bytes(StringView text);

// The units a wide write may carry safely: every unit above U+00FF replaced by
// '?'. Wine's msvcrt drops the whole rest of a write at the first such unit,
// so the line is mapped before it is written.
String console_safe_text(StringView text);
