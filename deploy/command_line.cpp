#include "deploy/command_line.h"

namespace {

// Characters that break or reorder a log line on screen: a line break would
// split Typeloader.exe's output lines, and so forge them; a bidirectional
// control reorders what follows it.
struct RefusedCharacters {
    const char* name;
    char16_t first;
    char16_t last;
};

constexpr RefusedCharacters refused_in_titles[] = {
    {"C0 controls", 0x0000, 0x001F},
    {"DEL and the C1 controls", 0x007F, 0x009F},
    {"Arabic letter mark", 0x061C, 0x061C},
    {"left-to-right and right-to-left marks", 0x200E, 0x200F},
    {"line and paragraph separators", 0x2028, 0x2029},
    {"embeddings, overrides and their pop", 0x202A, 0x202E},
    {"isolates and their pop", 0x2066, 0x2069},
};

// All of them lie below U+D800, so a surrogate unit never matches.
bool has_refused_character(StringView text) {
    for (char16_t unit : text) {
        for (const RefusedCharacters& row : refused_in_titles) {
            if (unit >= row.first && unit <= row.last) return true;
        }
    }
    return false;
}

}  // namespace

DeployChoice parse_deploy_arguments(const std::vector<String>& arguments) {
    DeployChoice choice;
    if (arguments.size() != 3 || arguments[2].empty() || has_refused_character(arguments[2])) return choice;
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
