#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/strings.h"
#include "platform/deploy/file_entries.h"
#include "platform/status.h"

// Files held open while the deploy jobs work on them: read in bounded pieces,
// compared without holding either whole, and the log, which is held for the
// whole run without write or delete sharing and so is the machine's lock too.

struct HeldFileHandle;
struct CloseHeldFile {
    void operator()(HeldFileHandle* file) const;
};
using HeldFile = std::unique_ptr<HeldFileHandle, CloseHeldFile>;

// The largest piece read at once.
inline constexpr size_t read_piece_size = 64 * 1024;

// Opens a plain file for reading, never through a link (status_stopped_on_link)
// and never a folder (status_access_denied). Others may read it meanwhile, but
// not write, rename or delete it.
PlatformStatus open_for_reading(const String& path, HeldFile& file);

PlatformStatus open_file_size(const HeldFile& file, uint64_t& size);

// Up to `length` bytes from `offset`; fewer only at the end of the file.
PlatformStatus read_at(const HeldFile& file, uint64_t offset, size_t length, std::string& bytes);

// What a path holds, measured in one look against the bytes whose digest
// (deploy/digest.h) is given: its kind (never through a link), and whether it
// is a plain file with those bytes. A file another program holds open
// without sharing has its kind only. Missing is no failure. Identities are
// read apart (file_identity), only where a value needs them.
struct Measure {
    EntryKind kind = EntryKind::missing;
    bool same = false;
};
PlatformStatus measure_against_digest(uint64_t digest, const String& path, Measure& measure);

// Whether another program holds the file so that it cannot be deleted or
// overwritten now: opens it for deletion with every sharing allowed, never
// through a link, and closes it at once, changing nothing. An in-use status
// (is_in_use_status) when it is held; status_file_not_found when missing.
PlatformStatus probe_in_use(const String& path);

// Writes the held file's bytes to a new file at `to`, replacing one there,
// and gives the digest (deploy/digest.h) of the bytes written.
PlatformStatus copy_held_file(const HeldFile& source, const String& to, uint64_t& digest);

// Opens the log for appending, creating it when missing, never through a link;
// others may read it but not write, rename or delete it while it is held.
// status_sharing_violation: another run holds it.
PlatformStatus open_log_file(const String& path, HeldFile& file);

PlatformStatus append_to_open_file(const HeldFile& file, const std::string& bytes);

// Renames the held file, replacing a file of the new name; it stays held.
PlatformStatus rename_open_file(const HeldFile& file, const String& new_path);

// Whether the held file is a plain file (no link, no folder) whose full path,
// as the file system resolves it, is `path`.
PlatformStatus is_plain_file_at(const HeldFile& file, const String& path, bool& plain);

struct ObjectSecurity;  // platform/deploy/security.h

// The held file's own kind, owner and access entries,
// read through the handle: what is checked is the file that is then written.
PlatformStatus read_held_file_security(const HeldFile& file, ObjectSecurity& security);
