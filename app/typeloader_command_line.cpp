#include "app/typeloader_command_line.h"

CommandChoice parse_arguments(const std::vector<String>& arguments) {
    constexpr size_t title_option_length = 7;  // "/title:"
    CommandChoice choice;
    for (size_t i = 1; i < arguments.size(); ++i) {
        StringView argument = arguments[i];
        if (equals_ignoring_ascii_case(argument, u"-uninstall") ||
            equals_ignoring_ascii_case(argument, u"/uninstall")) {
            choice.uninstall = true;
            continue;
        }
        StringView word = argument.substr(0, title_option_length);
        if (equals_ignoring_ascii_case(word, u"-title:") || equals_ignoring_ascii_case(word, u"/title:")) {
            choice.title = String(argument.substr(word.size()));
        }
    }
    return choice;
}
