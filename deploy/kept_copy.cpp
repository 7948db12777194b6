#include "deploy/kept_copy.h"

#include <string>

#include "deploy/digest.h"
#include "deploy/log.h"
#include "deploy/names.h"
#include "deploy/snapshot.h"
#include "platform/deploy/file_entries.h"
#include "platform/deploy/open_files.h"
#include "platform/deploy/security.h"

namespace {

bool is_missing(PlatformStatus status) { return status == status_file_not_found || status == status_path_not_found; }

// 16 lowercase hex digits.
String hex_text(uint64_t number) {
    String text;
    for (int shift = 60; shift >= 0; shift -= 4) text += u"0123456789abcdef"[(number >> shift) & 0xF];
    return text;
}

// Judges a folder of the kept copy by the log folder's rule, making it
// private first where `make` and it is missing. The refusal, or empty;
// `exists` tells whether a folder was found (or made).
String checked_folder(const String& folder, bool make, bool& exists) {
    exists = false;
    ObjectSecurity security;
    PlatformStatus status = read_object_security(folder, security);
    if (is_missing(status)) {
        if (!make) return String();
        if (PlatformStatus made = create_private_folder(folder)) return with_error(u"Kept copy " + folder + u" could not be made", made);
        status = read_object_security(folder, security);
    }
    const String refused = u"the kept copy's folder " + folder + u" may not hold it: ";
    if (status) return with_error(refused + u"its security cannot be read", status);
    exists = true;
    const String reason = private_folder_reason(security);
    return reason.empty() ? String() : refused + reason;
}

// Writes the program as `target` through "<target>.new", which goes again
// whatever fails, so that the old program stays whole until the rename.
String keep_program(const String& source, const String& target, uint64_t digest) {
    const String staged = target + u".new";
    PlatformStatus status = copy_file_replacing(source, staged);
    Measure measure;
    if (!status) status = measure_against_digest(digest, staged, measure);
    const bool same = measure.kind == EntryKind::file && measure.same;
    if (!status && same) status = replace_file(staged, target);
    if (!status && same) return String();
    delete_file(staged);
    return status ? with_error(u"Kept copy " + target + u" could not be made", status)
                  : u"Kept copy " + target + u" could not be made: its bytes are not those checked";
}

// A name in the folder that no kept copy gives a program: the program's own
// name, a digest of the file's identity (unique on its volume while the
// file exists) and ".removed".
PlatformStatus removed_name(const String& program, String& name) {
    FileIdentity identity;
    if (PlatformStatus status = file_identity(program, identity)) return status;
    const uint64_t parts[] = {identity.volume, identity.id_high, identity.id_low};
    name = program + u"." + hex_text(digest_of(reinterpret_cast<const char*>(parts), sizeof(parts))) + u".removed";
    return status_success;
}

}  // namespace

KeptCopy kept_copy_of(StringView program_files, StringView title) {
    // The title's units as the registry compares them, as little-endian bytes.
    std::string key;
    for (char16_t unit : comparison_key(title)) {
        key += static_cast<char>(unit & 0xFF);
        key += static_cast<char>(unit >> 8);
    }
    return kept_copy_in(String(program_files) + u"\\" + String(kept_root_name) + u"\\" + hex_text(digest_of(key.data(), key.size())));
}

KeptCopy kept_copy_in(StringView folder) {
    KeptCopy kept;
    kept.folder = String(folder);
    kept.root = parent_folder(kept.folder);
    kept.deploy_program = kept.folder + u"\\" + String(deploy_program_name);
    kept.typeloader = kept.folder + u"\\" + String(typeloader_program_name);
    return kept;
}

KeptCopyState read_kept_copy(const KeptCopy& kept, uint64_t deploy_digest, uint64_t typeloader_digest) {
    KeptCopyState state;
    bool root_exists = false;
    state.refusal = checked_folder(kept.root, false, root_exists);
    if (!state.refusal.empty() || !root_exists) return state;
    state.refusal = checked_folder(kept.folder, false, state.folder_exists);
    if (!state.refusal.empty() || !state.folder_exists) return state;
    state.deploy_program = state_against(deploy_digest, kept.deploy_program);
    state.typeloader = state_against(typeloader_digest, kept.typeloader);
    return state;
}

String make_kept_copy(const KeptCopy& kept, const String& deploy_source, uint64_t deploy_digest,
                      const String& typeloader_source, uint64_t typeloader_digest) {
    bool exists = false;
    String failure = checked_folder(kept.root, true, exists);
    if (failure.empty()) failure = checked_folder(kept.folder, true, exists);
    if (failure.empty()) failure = keep_program(deploy_source, kept.deploy_program, deploy_digest);
    if (failure.empty()) failure = keep_program(typeloader_source, kept.typeloader, typeloader_digest);
    return failure;
}

String remove_kept_copy(const KeptCopy& kept, bool& deferred) {
    deferred = false;
    for (const String& program : {kept.deploy_program, kept.typeloader}) {
        PlatformStatus status = delete_file(program);
        if (!status || is_missing(status)) continue;
        // A running program cannot be deleted, but it can be renamed.
        if (is_in_use_status(status) || status == status_access_denied) {
            String removed;
            status = removed_name(program, removed);
            if (!status) status = replace_file(program, removed);
            if (!status) status = delete_at_restart(removed);
            deferred = deferred || !status;
        }
        if (status) return with_error(u"Kept copy " + program + u" could not be removed", status);
    }
    PlatformStatus status = deferred ? delete_at_restart(kept.folder) : remove_folder(kept.folder);
    if (status && !is_missing(status)) return with_error(u"Kept copy " + kept.folder + u" could not be removed", status);
    return String();
}
