#pragma once

#include <cstdint>
#include <string>

#include "common/strings.h"
#include "platform/status.h"

// Starting other programs and reading what they are.

// Starts the program at this full path (given as the application name, so no
// folder is searched), with no console window of its own, its standard output
// and error both into one pipe read to its end, the pipe the only handle it
// inherits; waits for it and gives its whole exit code. No file lies in
// between. A program still running after `time_limit_milliseconds` is ended:
// status_timeout, with what it printed so far. It runs in a job that ends it,
// and all it started, when the call returns or the calling process ends.
PlatformStatus run_program(const String& program, const String& command_line, uint32_t time_limit_milliseconds,
                           std::string& output, uint32_t& exit_code);

// The file version of an executable's version resource, as "a.b.c.d".
PlatformStatus file_version(const String& path, String& version);
