#include "platform/files_memory.h"
#include "platform/programs.h"

PlatformStatus run_program(const String& program, const String& command_line, std::string& output,
                           uint32_t& exit_code) {
    MemoryFiles& files = memory_files();
    files.calls.push_back(u"run " + command_line);
    output.clear();
    exit_code = 0;
    if (files.program_start_status != status_success) return files.program_start_status;
    const MemoryEntry* entry = find_memory_entry(program);
    if (!entry || entry->is_folder || !files.program_runner) return status_file_not_found;
    exit_code = files.program_runner(program, command_line, output);
    return status_success;
}

PlatformStatus file_version(const String& path, String& version) {
    auto found = memory_files().file_versions.find(path);
    if (found == memory_files().file_versions.end()) return 1813;  // ERROR_RESOURCE_TYPE_NOT_FOUND
    version = found->second;
    return status_success;
}
