#pragma once

#include "common/strings.h"
#include "platform/deploy/security.h"

// Who may change a file or folder, judged from its owner and access list as
// read by read_object_security.

enum class AccessTarget {
    object_itself,        // the file or folder
    file_created_inside,  // a file created in the folder later: the deploy's log, a font or a program added
};

enum class Trust {
    local_only,         // SYSTEM, Administrators, TrustedInstaller
    domain_admins_too,  // a network share: a domain's Domain Admins and Enterprise Admins as well
};

// Empty when only trusted accounts may change the target; else one sentence
// naming the owner or the first trustee that may change it, and how.
String access_refusal(const ObjectSecurity& security, AccessTarget target, Trust trust);

// Whether the owner is one of the trusted accounts: an owner may always
// change the permissions, whatever the access list says.
bool owner_is_trusted(const ObjectSecurity& security, Trust trust);
