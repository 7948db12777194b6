#include "deploy/command_line.h"

namespace {

// A line break would split Typeloader.exe's output lines, and so forge them.
bool has_control_character(StringView text) {
    for (char16_t unit : text) {
        if (unit < 0x20 || unit == 0x7F) return true;
    }
    return false;
}

}  // namespace

DeployChoice parse_deploy_arguments(const std::vector<String>& arguments) {
    DeployChoice choice;
    if (arguments.size() != 3 || arguments[2].empty() || has_control_character(arguments[2])) return choice;
    if (equals_ignoring_ascii_case(arguments[1], u"install")) {
        choice.job = DeployJob::install;
    } else if (equals_ignoring_ascii_case(arguments[1], u"uninstall")) {
        choice.job = DeployJob::uninstall;
    } else {
        return choice;
    }
    choice.title = arguments[2];
    return choice;
}

String quote_argument(StringView argument) {
    String quoted = u"\"";
    size_t backslashes = 0;
    for (char16_t unit : argument) {
        if (unit == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        quoted.append(unit == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        quoted += unit;
        backslashes = 0;
    }
    // Before the closing quote they are doubled too.
    quoted.append(backslashes * 2, u'\\');
    return quoted + u"\"";
}
