#pragma once

#include <string>
#include <vector>

#include "common/strings.h"
#include "deploy/command_line.h"
#include "deploy/log.h"

// The fleet deploy jobs around Typeloader.exe. Each takes a snapshot of the
// machine, asks the planner, refuses or acts, takes the snapshot again and
// checks it against the plan; it logs every check and its verdict and returns
// how the run ended.

Outcome deploy_install(DeployLog& log, const String& title);
Outcome deploy_uninstall(DeployLog& log, const String& title);

// What a run of Typeloader.exe gave.
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

// The text in double quotes, as records show names and titles.
String quoted(StringView text);

// How a job ended, and the sentence that says so.
struct Verdict {
    Outcome outcome;
    String sentence;
};

// Logs the verdict, writes the outcome's word as the last line of standard
// output and gives the outcome back.
Outcome log_verdict(DeployLog& log, Outcome outcome, StringView verdict);
