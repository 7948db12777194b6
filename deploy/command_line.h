#pragma once

#include <vector>

#include "common/strings.h"

enum class DeployJob { none, install, uninstall };

struct DeployChoice {
    DeployJob job = DeployJob::none;  // none: the usage line
    String title;
};

// Exactly a job word (ASCII case ignored) and one non-empty title after the
// program name; a title holding a control character (U+0000-U+001F,
// U+007F-U+009F), a line or paragraph separator (U+2028, U+2029) or a
// bidirectional control (U+061C, U+200E, U+200F, U+202A-U+202E,
// U+2066-U+2069) is refused.
DeployChoice parse_deploy_arguments(const std::vector<String>& arguments);

// One argument written for CreateProcessW so that CommandLineToArgvW gives it
// back unchanged: always in quotes; backslashes doubled only before a quote
// and before the closing quote, each quote escaped.
String quote_argument(StringView argument);

inline constexpr StringView deploy_usage_line = u"Usage : Typeloader-Deploy install|uninstall <title>";
