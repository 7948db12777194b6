#include "platform/memory/memory_machine.h"
#include "platform/deploy/standard_output.h"

void write_output_line(StringView line) { memory_machine().output.lines.emplace_back(line); }
