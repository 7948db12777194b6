#pragma once

#include <cstdint>
#include <vector>

#include "common/strings.h"
#include "platform/status.h"

// Who may change a file or folder, as data: the Win32 layer fills it in from
// the security descriptor, each trustee as its string SID; the deploy's rule
// (deploy/access_rule.h) judges it.

struct AccessEntry {
    bool allow = true;  // false: a deny entry
    String trustee;     // string SID, "S-1-5-32-544"; empty for an entry of another type
    uint32_t mask = 0;  // access rights, generic ones not yet mapped
    uint8_t flags = 0;  // OBJECT_INHERIT_ACE 0x1, CONTAINER_INHERIT_ACE 0x2, INHERIT_ONLY_ACE 0x8
    // An entry neither allowed nor denied (an object, callback or conditional
    // entry): what it grants is not read here, so it is never trusted.
    bool other_type = false;
};

struct ObjectSecurity {
    String owner;                   // string SID
    bool has_dacl = true;           // false: a NULL DACL, full access for everyone
    std::vector<AccessEntry> dacl;
    bool reparse_point = false;     // a junction, a symbolic link or any other reparse point
    bool is_folder = false;
};

// The object at the path itself, never what a link points at: its kind, owner
// and access entries. A link reads as reparse_point; its own owner and DACL
// are then not read (the link is refused whatever they say).
// status_file_not_found or status_path_not_found: nothing is there.
PlatformStatus read_object_security(const String& path, ObjectSecurity& security);

// A \\server\share path, or one on a drive that is mapped to a network share.
bool is_network_path(const String& path);

// Creates the folder owned by Administrators, with full access for SYSTEM and
// Administrators only and no access inherited from its parent.
PlatformStatus create_private_folder(const String& path);
