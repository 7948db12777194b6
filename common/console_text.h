#pragma once

#include <string>

#include "common/strings.h"

// The bytes that the runtime's text-mode output in the "C" locale makes of a
// wide text: a unit up to U+00FF is that one byte, any other unit is '?', and
// a line feed becomes CR LF. A console line "m" is console_bytes(m + "\r\n"):
// m, then CR CR LF.
std::string console_bytes(StringView text);

// The units a wide write may carry: every unit above U+00FF replaced by '?'.
// msvcrt in the "C" locale stops a wide write at the first such unit (on
// Windows as under Wine), dropping the rest of the line, so the line is mapped
// before it is written.
String console_safe_text(StringView text);
