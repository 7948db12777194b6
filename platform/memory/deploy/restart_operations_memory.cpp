#include "platform/memory/memory_machine.h"
#include "platform/deploy/restart_operations.h"

PlatformStatus read_pending_file_renames(StringView value, String& units) {
    units.clear();
    if (PlatformStatus status = memory_call(Operation::read_pending_file_renames, value)) return status;
    const MemoryFiles& files = memory_machine().files;
    const bool second = value == pending_renames_values[1];
    for (const RestartOperation& operation : second ? files.second_restart_operations : files.restart_operations) {
        units += u"\\??\\" + operation.from + u'\0';
        if (!operation.to.empty()) units += u"!\\??\\" + operation.to;
        units += u'\0';
    }
    if (!units.empty()) units += u'\0';
    return status_success;
}
