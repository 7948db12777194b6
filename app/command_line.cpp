#include "app/command_line.h"

#include "common/console.h"
#include "fonts/jobs.h"
#include "platform/files.h"

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

int run_typeloader() {
    // First of all: the process runs elevated from a folder that others may
    // be able to write, so no DLL may ever come from there.
    if (!restrict_dll_search_to_system32()) {
        write_console_text(u"Fatal Error: SetDefaultDllDirectories failed\n");
        return 1;
    }
    if (!has_own_module_handle()) {
        write_console_text(u"Fatal Error: GetModuleHandle failed\n");
        return 1;
    }
    quiet_error_mode();

    CommandChoice choice;
    {
        std::vector<String> arguments;
        split_command_line(full_command_line(), arguments);  // empty when it cannot be split
        choice = parse_arguments(arguments);
    }

    if (choice.title.empty()) {
        write_console_line(usage_line);
        return 1;
    }
    if (choice.uninstall) {
        uninstall_fonts(choice.title);
    } else {
        install_fonts(choice.title);
    }
    return 0;
}
