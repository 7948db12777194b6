#pragma once

#include "common/strings.h"
#include "deploy/log.h"

// How a run ended. Fleet tools read the exit code; tools that cannot tell
// one success code from another read the last line of standard output,
// which is the outcome's word alone.
enum class Outcome {
    changed,    // 0
    unchanged,  // 0: the machine after the restart already was as asked
    restart,    // 3010 (ERROR_SUCCESS_REBOOT_REQUIRED): a replacement or deletion of this title waits for the restart
    refused,    // 1: nothing was changed
    failed,     // 1: what was changed is put back as far as it can be
    busy,       // 1618 (ERROR_INSTALL_ALREADY_RUNNING): another run holds the machine's lock
};

int exit_code_of(Outcome outcome);
StringView outcome_word(Outcome outcome);

inline constexpr int exit_usage = 2;

// How a job ended, and the sentence that says so.
struct Verdict {
    Outcome outcome;
    String sentence;
};

// Logs the verdict, writes the outcome's word as the last line of standard
// output and gives the outcome back.
Outcome log_verdict(DeployLog& log, const Verdict& verdict);
