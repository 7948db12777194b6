#pragma once

#include "common/strings.h"

// One line of text to standard output: UTF-8 bytes ending in CR LF into a
// pipe or a file (what fleet tools read), or the text itself to a console.
void write_output_line(StringView line);
