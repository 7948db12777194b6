#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/strings.h"
#include "deploy/log.h"

// A run of Typeloader.exe: its command line, its output read through a pipe,
// and the checks of what it printed.

struct TypeloaderRun {
    bool started = false;
    uint32_t exit_code = 0;
    std::string output;          // its bytes as printed
    std::vector<String> lines;   // each line, its line end dropped
};

// How long Typeloader.exe may take: ten thousand fonts on a slow disk take
// minutes; one that hangs is ended, and the run fails and is put back.
inline constexpr uint32_t typeloader_time_limit_milliseconds = 30 * 60 * 1000;

// Runs this Typeloader.exe with the job's arguments (the title quoted),
// logging the command line, every line it printed and its exit code.
TypeloaderRun run_typeloader_job(DeployLog& log, const String& program, bool uninstall, const String& title);

// The checks common to both jobs: started, exit code 0, the header line
// first, no FAIL line. Each is logged with its result.
bool verify_typeloader_run(DeployLog& log, const TypeloaderRun& run, StringView header, StringView fail_prefix);
