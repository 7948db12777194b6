#pragma once

#include <string>

#include "platform/deploy/security.h"

// A security descriptor written as Windows prints it (SDDL), read into what
// read_object_security gives: for the tests only, so the rows can be the
// descriptors Windows ships, copied as listed.

// The domain whose groups DA, DU, DC, EA and PA stand for.
extern const std::string test_domain;

// The SID of an SDDL alias (TI stands for TrustedInstaller here); any other
// text is taken as a SID already.
std::string sid_of(const std::string& alias);

// "O:<owner>G:<group>D:<flags>(<entry>)...": the owner and the DACL;
// "D:NO_ACCESS_CONTROL" is a NULL DACL. Entries of a type other than A or D
// read as other_type.
ObjectSecurity from_sddl(const std::string& text);
