#include "platform/memory/memory_machine.h"
#include "platform/deploy/restart_operations.h"

PlatformStatus read_pending_file_renames(String& units) {
    units.clear();
    if (PlatformStatus status = memory_call(Operation::read_pending_file_renames)) return status;
    for (const RestartOperation& operation : memory_machine().files.restart_operations) {
        units += u"\\??\\" + operation.from + u'\0';
        if (!operation.to.empty()) units += u"!\\??\\" + operation.to;
        units += u'\0';
    }
    if (!units.empty()) units += u'\0';
    return status_success;
}
