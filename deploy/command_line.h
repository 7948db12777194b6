#pragma once

#include <vector>

#include "common/strings.h"

enum class DeployJob { none, install, uninstall };

struct DeployChoice {
    DeployJob job = DeployJob::none;  // none: the usage line
    String title;
    String version;       // install's /version:<v>, as given; empty: none
    bool whatif = false;  // /whatif: plan and tell, change nothing
};

// A job word (ASCII case ignored) and one non-empty title after the program
// name, then options: install takes /version:<v> and /whatif, uninstall
// /whatif, each at most once, their names in any ASCII case. <v> is one to
// four numbers 0-65535 in decimal digits, separated by dots (a Windows file
// version's form). Refused: a title holding a control character
// (U+0000-U+001F, U+007F-U+009F), a line or paragraph separator (U+2028,
// U+2029) or a bidirectional control (U+061C, U+200E, U+200F, U+202A-U+202E,
// U+2066-U+2069), or one the entry's key name cannot hold
// (title_fits_entry_key); an unknown or repeated option; a bad version.
DeployChoice parse_deploy_arguments(const std::vector<String>& arguments);

// One argument written for CreateProcessW so that CommandLineToArgvW gives it
// back unchanged: always in quotes; backslashes doubled only before a quote
// and before the closing quote, each quote escaped.
String quote_argument(StringView argument);

inline constexpr StringView deploy_usage_line =
    u"Usage : Typeloader-Deploy install <title> [/version:<v>] [/whatif] | uninstall <title> [/whatif]";
