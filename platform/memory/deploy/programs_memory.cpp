#include "platform/memory/memory_machine.h"
#include "platform/deploy/programs.h"

PlatformStatus run_program(const String& program, const String& command_line, uint32_t, std::string& output,
                           uint32_t& exit_code) {
    output.clear();
    exit_code = 0;
    if (PlatformStatus status = memory_call(Operation::run_program, program)) return status;
    const MemoryEntry* entry = find_memory_entry(program);
    const auto& runner = memory_machine().programs.runner;
    if (!entry || entry->is_folder || !runner) return status_file_not_found;
    exit_code = runner(program, command_line, output);
    return status_success;
}

PlatformStatus file_version(const String& path, String& version) {
    if (PlatformStatus status = memory_call(Operation::file_version, path)) return status;
    const auto& versions = memory_machine().programs.file_versions;
    auto found = versions.find(path);
    if (found == versions.end()) return status_resource_type_not_found;
    version = found->second;
    return status_success;
}
