#include "platform/files_memory.h"
#include "platform/process.h"

bool has_own_module_handle() { return memory_files().module_handle; }

PlatformStatus restrict_dll_search_to_system32() {
    memory_files().calls.push_back(u"restrict dll search");
    return memory_files().dll_search_restriction_status;
}

void quiet_error_mode() { memory_files().error_mode |= quiet_error_mode_flags; }

String full_command_line() { return memory_files().command_line; }

PlatformStatus split_command_line(const String&, std::vector<String>& arguments) {
    arguments.clear();
    if (!memory_files().arguments) return status_module_not_found;
    arguments = *memory_files().arguments;
    return status_success;
}

String executable_file() { return memory_files().executable_path; }

String executable_folder() {
    const String path = executable_file();
    size_t slash = path.rfind(u'\\');
    return slash == String::npos ? String() : path.substr(0, slash);
}
