#pragma once

#include "common/strings.h"
#include "platform/status.h"

// Folders that only SYSTEM and Administrators may change.

enum class FolderCheck {
    safe,
    missing,
    not_a_folder,
    reparse_point,      // a junction, a symbolic link or any other reparse point
    foreign_owner,      // owned by neither SYSTEM nor Administrators
    others_may_change,  // an entry lets someone else write, append, delete or change permissions
};

// Looks at the folder itself without following a link: its kind, its owner
// and every access entry that applies to it (inherit-only entries do not).
// The status is for a folder whose security cannot be read at all.
PlatformStatus check_private_folder(const String& path, FolderCheck& result);

// Creates the folder owned by Administrators, with full access for SYSTEM and
// Administrators only and no access inherited from its parent.
PlatformStatus create_private_folder(const String& path);
