#include "app/typeloader_command_line.h"
#include "fonts/jobs.h"
#include "platform/console.h"
#include "platform/process.h"

int run_typeloader() {
    // First of all: the process runs elevated from a folder that others may
    // be able to write, so no DLL may ever come from there.
    PlatformStatus restricted = restrict_dll_search_to_system32();
    if (restricted) {
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
