#include "app/typeloader_command_line.h"

// The command line is read from the process itself, so wmain's own arguments
// go unused.
int wmain() { return run_typeloader(); }
