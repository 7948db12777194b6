#pragma once

#include <string>
#include <vector>

#include "common/strings.h"
#include "deploy/log.h"

// The fleet deploy jobs around Typeloader.exe. Each returns the exit code of
// deploy/command_line.h and logs every check and its verdict.

int deploy_install(DeployLog& log, const String& title);
int deploy_uninstall(DeployLog& log, const String& title);

// What a run of Typeloader.exe from the program's own folder gave.
struct TypeloaderRun {
    bool started = false;
    uint32_t exit_code = 0;
    std::string output;          // its bytes as printed
    std::vector<String> lines;   // each line, its line end dropped
};

// Runs Typeloader.exe beside this program with the job's arguments (the title
// quoted), logging the command line, every line it printed and its exit code.
TypeloaderRun run_typeloader_job(DeployLog& log, bool uninstall, const String& title);

// The checks common to both jobs: started, exit code 0, the header line
// first, no FAIL line. Each is logged with its result.
bool verify_typeloader_run(DeployLog& log, const TypeloaderRun& run, StringView header, StringView fail_prefix);

// The text in double quotes, as records show names and titles.
String quoted(StringView text);

// Where the new file of a font in use waits for the restart: beside its copy.
inline String staged_replacement(StringView copy) { return String(copy) + u".Typeloader-Deploy"; }

// Logs the verdict and gives its exit code back.
int log_verdict(DeployLog& log, int exit_code, StringView verdict);
