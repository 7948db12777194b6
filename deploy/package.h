#pragma once

#include <vector>

#include "common/strings.h"
#include "platform/deploy/registry_values.h"
#include "platform/status.h"

// A title as a package: its Apps & features entry and the kept copy of both
// programs that the entry's uninstall runs, as plain data for the planner.

// What a path holds, measured against the bytes it should hold.
enum class FileState { missing, same_as_source, other, folder, link, unreadable };

// The kept copy's places: one folder a title under %ProgramFiles%\Typeloader.
struct KeptCopy {
    String root;            // %ProgramFiles%\Typeloader
    String folder;          // the title's folder in it
    String deploy_program;  // the folder, "\Typeloader-Deploy.exe"
    String typeloader;      // the folder, "\Typeloader.exe"
    bool operator==(const KeptCopy&) const = default;
};

// What a reading sees of the kept copy.
struct KeptCopyState {
    // Why nothing may be written there: the root or the folder is a link,
    // or others may change it. Empty when it is safe or missing.
    String refusal;
    FileState deploy_program = FileState::missing;  // against the running program's bytes
    FileState typeloader = FileState::missing;      // against the checked Typeloader.exe's bytes
    bool folder_exists = false;
};

// The title's entry and kept copy as read, and what an install would make of
// them.
struct PackageState {
    String entry_key;  // the entry's path under HKEY_LOCAL_MACHINE
    // Reading the entry: status_file_not_found when there is none; any
    // other failure leaves it unknown, and the run refuses.
    PlatformStatus entry_status = status_file_not_found;
    std::vector<RegistryValue> entry;  // its values
    KeptCopy kept;
    KeptCopyState kept_state;
    // The running Typeloader-Deploy.exe, which a kept copy is made from, and
    // the digests of it and of the checked Typeloader.exe.
    String deploy_source;
    uint64_t deploy_digest = 0;
    uint64_t typeloader_digest = 0;
};
