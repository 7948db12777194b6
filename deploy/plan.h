#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/strings.h"

// The deploy jobs' decisions, over one snapshot of what matters on the
// machine. Nothing here touches the machine: the jobs take the snapshot, ask
// for a plan, carry it out, take the snapshot again and ask for a verdict.

// What a path holds, measured against the bytes of the font it belongs to.
enum class FileState { missing, same_as_source, other, folder, link, unreadable };

// A value of the fonts key as the registry holds it.
struct FontValue {
    String name;
    uint32_t type = 1;  // REG_SZ
    String data;        // up to the first null unit
    // The file its data names, resolved by its text; empty when that text is
    // refused (such a value's file is never deleted through it).
    String file;
    // Who that file is, as Windows opens the data: a file identity, or the
    // comparison key of the path when nothing is there. Empty: the key of
    // registered_file(data), for snapshots made by hand.
    String file_key;
    std::string raw;  // the data's bytes as the registry holds them, for putting them back
};

// One pending restart-time operation: a move (onto `to`, replacing it only
// when `replace_existing`) or, with an empty `to`, a deletion. Paths are
// plain Win32 paths (the "\??\" prefix and the "!" marker already read).
struct PendingOperation {
    String from;
    String to;
    bool replace_existing = false;
};

// The operations of PendingFileRenameOperations' data (strings separated by
// null units, in pairs), in the order the restart runs them.
std::vector<PendingOperation> parse_pending_operations(StringView units);

// A file beside a copy, as a staged replacement is.
struct NearbyFile {
    String path;
    FileState state = FileState::missing;
};

// One entry of the Font folder and its copy in the destination folder.
struct FontFacts {
    String name;      // the entry's file name
    String refusal;   // why it cannot be installed; empty when it is a whole font
    String copy;      // where Typeloader.exe copies it
    FileState copy_state = FileState::missing;
    std::vector<NearbyFile> staged;  // the staged replacements beside the copy that exist
    std::vector<String> warnings;    // what is wrong with the font but harmless
    String copy_key;                 // who the copy is (see FontValue::file_key); empty: the copy's comparison key
    uint64_t digest = 0;             // of the font's bytes as checked (common/digest.h)
};

struct DeploySnapshot {
    String title;
    String font_folder;   // the bundle's Font folder
    String fonts_folder;  // where a registration's bare file name lies
    std::vector<FontFacts> fonts;
    bool values_readable = true;
    std::vector<FontValue> values;
    std::vector<PendingOperation> pending;  // those that touch a copy or a staged file
};

// The staged replacement names of a copy: the first is the copy's name with
// this suffix, the later ones add ".2", ".3", ... when an earlier name is
// already taken by a pending operation.
inline constexpr StringView staged_suffix = u".Typeloader-Deploy";
bool is_staged_name_of(StringView path, StringView copy);

// The operations that can change a copy or a staged file of the snapshot's
// fonts at the restart, in their order: those that name one, and those that
// name a path a later one of them uses. Windows may keep many others (its own
// updates), which would otherwise be walked once per font.
std::vector<PendingOperation> operations_touching(const std::vector<FontFacts>& fonts,
                                                  const std::vector<PendingOperation>& pending);

// The state of each path after the pending operations have run at the restart,
// from the states they have now. A path absent from `now` holds another file
// when an operation moves it somewhere (its bytes are unknown) and is missing
// otherwise.
std::vector<NearbyFile> after_restart(const std::vector<NearbyFile>& now, const std::vector<PendingOperation>& pending);

// The state of the font's copy after the restart.
FileState copy_after_restart(const FontFacts& font, const std::vector<PendingOperation>& pending);

// A staged replacement for a copy: write the font to `staged`, and, when
// `schedule`, add the move of `staged` onto the copy after every pending
// operation; otherwise an operation already pending moves it there.
struct Staging {
    String copy;
    String staged;
    bool schedule = true;
};

// How to bring the copy's state after the restart to the font's bytes by a
// staged replacement alone: rewriting a staged file that a pending operation
// will move there last, or a fresh staged name and a new move.
Staging staging_for(const FontFacts& font, const std::vector<PendingOperation>& pending);

// REG_SZ and REG_EXPAND_SZ: the types whose data names a font file.
bool is_text_type(uint32_t type);

// A value is the title's own when its name is the title, a space and some x,
// and the file name of its data without its last extension is x: exactly what
// Typeloader.exe writes for a font file titled x.
bool is_own_registration(StringView title, StringView name, StringView data);

// The file a registration's data names: a bare file name lies in the Fonts
// folder.
String registered_file(StringView fonts_folder, StringView data);

// A file identity as a key: it never equals a path's comparison key.
String identity_key(uint64_t volume, uint64_t id_high, uint64_t id_low);

// Paths and value names compared as Windows compares them: case ignored
// over all of Unicode, unit by unit. Texts with the same key are the same name.
String comparison_key(StringView text);
bool same_path(StringView left, StringView right);
bool same_value_name(StringView left, StringView right);

struct InstallPlan {
    std::vector<String> refusals;       // any: nothing is done
    bool run_typeloader = false;        // a copy or registration is missing or different now
    std::vector<Staging> stagings;      // copies right now, but not after the restart
    std::vector<String> leftovers;      // staged files no pending operation uses: deleted
    bool nothing_to_change() const { return refusals.empty() && !run_typeloader && stagings.empty() && leftovers.empty(); }
};

InstallPlan plan_install(const DeploySnapshot& snapshot);

// What a verified install has on the machine: every font registered as its
// copy, every copy holding the font's bytes after the restart.
std::vector<String> install_mismatches(const DeploySnapshot& after);

// Values an install run added that its plan does not have: a name that
// begins with the title, as the registry compares, absent before the run.
std::vector<String> unplanned_registrations(const DeploySnapshot& before, const DeploySnapshot& after);

// Whether the restart will delete or move a copy or a staged file of the
// title: the only case that needs one. A move whose file is gone does nothing.
bool restart_pending(const DeploySnapshot& snapshot);

// Which registrations Typeloader.exe's uninstall would remove (string values
// whose names begin with the title, as it compares them), and which copies go.
struct UninstallPlan {
    std::vector<String> refusals;
    std::vector<String> removals;      // value names Typeloader.exe removes
    std::vector<String> copies;        // copies to delete (now, or at the restart when in use)
    std::vector<String> voided;        // staged replacements to delete, so that their moves find nothing
    bool run_typeloader() const { return !removals.empty(); }
    bool nothing_to_change() const { return refusals.empty() && removals.empty() && copies.empty() && voided.empty(); }
};

// `folders` are the folders a copy may be deleted from: the Fonts folder and
// Typeloader.exe's fallback folders.
UninstallPlan plan_uninstall(const DeploySnapshot& snapshot, const std::vector<String>& folders);

// What a verified uninstall leaves: none of the removed names, no copy of the
// plan after the restart.
std::vector<String> uninstall_mismatches(const UninstallPlan& plan, const DeploySnapshot& after);
