#pragma once

#include "common/strings.h"
#include "platform/status.h"

// The file operations Windows carries out at the next restart: the Session
// Manager's two lists of them. MoveFileExW writes the first.
inline constexpr StringView pending_renames_values[] = {u"PendingFileRenameOperations", u"PendingFileRenameOperations2"};

// The value's data as UTF-16 units, the nulls between its strings included:
// pairs of a source and a destination, an empty destination for a deletion.
// Empty when no operation waits (the value is not there).
PlatformStatus read_pending_file_renames(StringView value, String& units);
