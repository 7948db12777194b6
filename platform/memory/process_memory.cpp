#include "platform/memory/memory_machine.h"
#include "platform/process.h"

bool has_own_module_handle() { return memory_machine().process.module_handle; }

PlatformStatus restrict_dll_search_to_system32() { return memory_call(Operation::restrict_dll_search); }

void quiet_error_mode() { memory_machine().process.error_mode |= quiet_error_mode_flags; }

String full_command_line() { return memory_machine().process.command_line; }

PlatformStatus split_command_line(const String&, std::vector<String>& arguments) {
    arguments.clear();
    const auto& split = memory_machine().process.arguments;
    if (!split) return status_module_not_found;
    arguments = *split;
    return status_success;
}

String executable_file() { return memory_machine().process.executable_path; }
