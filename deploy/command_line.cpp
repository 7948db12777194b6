#include "deploy/command_line.h"

#include "deploy/package_entry.h"

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

// One number of a version: decimal digits up to 65535. The value is checked
// after each digit, so a long run of digits cannot overflow.
bool is_version_number(StringView digits) {
    if (digits.empty()) return false;
    uint32_t value = 0;
    for (char16_t unit : digits) {
        if (unit < u'0' || unit > u'9') return false;
        value = value * 10 + (unit - u'0');
        if (value > 65535) return false;
    }
    return true;
}

// One to four numbers separated by dots, as a Windows file version has.
bool is_version(StringView text) {
    for (int parts = 1; parts <= 4; ++parts) {
        const size_t dot = text.find(u'.');
        if (!is_version_number(text.substr(0, dot))) return false;
        if (dot == StringView::npos) return true;
        text.remove_prefix(dot + 1);
    }
    return false;
}

DeployJob job_named(StringView word) {
    if (equals_ignoring_ascii_case(word, u"install")) return DeployJob::install;
    if (equals_ignoring_ascii_case(word, u"uninstall")) return DeployJob::uninstall;
    return DeployJob::none;
}

// Takes one option into the choice; false for one unknown, repeated or not
// the job's. A valid version is never empty, so an empty one is not yet given.
bool take_option(StringView argument, DeployChoice& choice) {
    constexpr StringView version_option = u"/version:";
    if (equals_ignoring_ascii_case(argument, u"/whatif")) {
        if (choice.whatif) return false;
        choice.whatif = true;
        return true;
    }
    if (!equals_ignoring_ascii_case(argument.substr(0, version_option.size()), version_option)) return false;
    const StringView version = argument.substr(version_option.size());
    if (choice.job != DeployJob::install || !choice.version.empty() || !is_version(version)) return false;
    choice.version = version;
    return true;
}

}  // namespace

DeployChoice parse_deploy_arguments(const std::vector<String>& arguments) {
    if (arguments.size() < 3) return {};
    const String& title = arguments[2];
    if (title.empty() || has_refused_character(title) || !title_fits_entry_key(title)) return {};
    DeployChoice choice{job_named(arguments[1]), title};
    if (choice.job == DeployJob::none) return {};
    for (size_t i = 3; i < arguments.size(); ++i) {
        if (!take_option(arguments[i], choice)) return {};
    }
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
