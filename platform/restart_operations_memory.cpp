#include "platform/files_memory.h"
#include "platform/restart_operations.h"

PlatformStatus read_pending_file_renames(String& units) {
    units.clear();
    for (const RestartOperation& operation : memory_files().restart_operations) {
        units += u"\\??\\" + operation.from + u'\0';
        if (!operation.to.empty()) units += u"!\\??\\" + operation.to;
        units += u'\0';
    }
    if (!units.empty()) units += u'\0';
    return status_success;
}
