#pragma once

#include <cstdint>
#include <vector>

#include "common/strings.h"
#include "platform/status.h"

// The file-system operations only Typeloader-Deploy.exe asks for, beside
// platform/files.h. Paths use backslash separators.

// What an entry is, without following a link.
enum class EntryKind { missing, file, folder, reparse_point };

PlatformStatus entry_kind(const String& path, EntryKind& kind);

// Copies a file over any file of that name; a link at the source is copied as
// a link, never followed.
PlatformStatus copy_file_replacing(const String& from, const String& to);

PlatformStatus delete_file(const String& path);

// What every path that reaches one file shares, whatever its spelling (case,
// a short name, an expanded variable): its volume and its file ID.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t id_high = 0;
    uint64_t id_low = 0;
    auto operator<=>(const FileIdentity&) const = default;
};

// The identity of the entry itself (a link's own, never its target's), the
// path read as Windows reads it; status_file_not_found or
// status_path_not_found when nothing is there.
PlatformStatus file_identity(const String& path, FileIdentity& identity);

// The value of an environment variable of this process; false when unset.
bool environment_variable(StringView name, String& value);

// The names of a folder's entries, each long name and any short name ("."
// and ".." left out), from one look at the whole folder.
PlatformStatus folder_entry_names(const String& folder, std::vector<String>& names);

// Removes an empty folder; a link is removed as the link.
PlatformStatus remove_folder(const String& path);

// Renames a file within its volume, replacing a file of the new name, the
// rename written through before it returns; a link is renamed as the link.
PlatformStatus replace_file(const String& from, const String& to);

// Replacing or deleting a file in use, at the next restart.
PlatformStatus replace_at_restart(const String& staged, const String& target);
PlatformStatus delete_at_restart(const String& path);

// The 64-bit Program Files folder (FOLDERID_ProgramFiles), without a
// trailing backslash.
PlatformStatus program_files_folder(String& path);

// The system Windows folder (the one for every session), without a trailing
// backslash.
PlatformStatus system_windows_folder(String& path);
