#pragma once

#include <cstdint>
#include <vector>

#include "common/strings.h"

// Who may change a file or folder, judged from its owner and access list as
// data: the Win32 layer fills them in from the security descriptor, each
// trustee as its string SID.

struct AccessEntry {
    bool allow = true;  // false: a deny entry
    String trustee;     // string SID, "S-1-5-32-544"
    uint32_t mask = 0;  // access rights, generic ones not yet mapped
    uint8_t flags = 0;  // OBJECT_INHERIT_ACE 0x1, CONTAINER_INHERIT_ACE 0x2, INHERIT_ONLY_ACE 0x8
};

struct ObjectSecurity {
    String owner;                   // string SID
    bool has_dacl = true;           // false: a NULL DACL, full access for everyone
    std::vector<AccessEntry> dacl;
};

enum class AccessTarget {
    object_itself,        // the file or folder
    file_created_inside,  // a file the deploy creates in the folder (its log)
};

enum class Trust {
    local_only,         // SYSTEM, Administrators, TrustedInstaller
    domain_admins_too,  // a network share: a domain's Domain Admins and Enterprise Admins as well
};

// Empty when only trusted accounts may change the target; else one sentence
// naming the owner or the first trustee that may change it, and how.
String access_refusal(const ObjectSecurity& security, AccessTarget target, Trust trust);
