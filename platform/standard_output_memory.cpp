#include "platform/files_memory.h"
#include "platform/standard_output.h"

void write_output_line(StringView line) { memory_files().output_lines.emplace_back(line); }
