#pragma once

#include <cstdint>

#include "common/strings.h"
#include "deploy/package.h"

// The kept copy: both programs under %ProgramFiles%\Typeloader, one folder a
// title, which the Apps & features entry's uninstall runs from once the
// bundle is gone. The root and the folders in it may be changed by SYSTEM and
// Administrators only, checked as the log folder is.

inline constexpr StringView kept_root_name = u"Typeloader";
inline constexpr StringView deploy_program_name = u"Typeloader-Deploy.exe";
inline constexpr StringView typeloader_program_name = u"Typeloader.exe";

// The folder's name comes from the title as the registry compares it (titles
// that differ in case only share an entry, and so a folder), never from its
// text: a title may hold any of |<>*?:/ and be longer than a path allows.
KeptCopy kept_copy_of(StringView program_files, StringView title);

// The kept copy in a title's folder.
KeptCopy kept_copy_in(StringView folder);

// Reads the kept copy against the digests of the two programs' bytes.
KeptCopyState read_kept_copy(const KeptCopy& kept, uint64_t deploy_digest, uint64_t typeloader_digest);

// Makes the root and the folder where missing (private, as the log folder),
// checks both, and writes each program through a new name in the folder,
// measured against its digest, then renamed over the old one, so that a
// failure never leaves a kept program half written. Empty on success, else
// the one line that says what failed, with the platform's code.
String make_kept_copy(const KeptCopy& kept, const String& deploy_source, uint64_t deploy_digest,
                      const String& typeloader_source, uint64_t typeloader_digest);

// Deletes both programs and the folder (the root stays for other titles). A
// program that cannot be deleted now (the running one, when the uninstall
// runs from the kept copy) is renamed to a name no later kept copy uses and
// deleted at the next restart, as the folder then is (`deferred`). Empty on
// success, else the one line that says what failed.
String remove_kept_copy(const KeptCopy& kept, bool& deferred);
