#pragma once

#include <vector>

#include "common/strings.h"

enum class DeployJob { none, install, uninstall };

struct DeployChoice {
    DeployJob job = DeployJob::none;  // none: the usage line
    String title;
};

// Exactly a job word (ASCII case ignored) and one non-empty title without a
// control character (U+0000-U+001F, U+007F) after the program name.
DeployChoice parse_deploy_arguments(const std::vector<String>& arguments);

// One argument written for CreateProcessW so that CommandLineToArgvW gives it
// back unchanged: always in quotes; backslashes doubled only before a quote
// and before the closing quote, each quote escaped.
String quote_argument(StringView argument);

inline constexpr StringView deploy_usage_line = u"Usage : Typeloader-Deploy install|uninstall <title>";

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
