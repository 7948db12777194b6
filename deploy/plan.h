#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/strings.h"
#include "deploy/actions.h"
#include "deploy/names.h"
#include "deploy/outcome.h"
#include "deploy/package.h"
#include "platform/deploy/file_entries.h"
#include "platform/deploy/registry_values.h"
#include "platform/registry.h"

// The deploy jobs' decisions, over one snapshot of what matters on the
// machine. Nothing here touches the machine: the jobs read the machine, ask
// for a plan (a list of actions), have it carried out, read again and ask for
// a verdict.


// A value of the fonts key as the registry holds it.
struct FontValue {
    String name;
    uint32_t type = registry_string_type;
    String data;  // up to the first null unit
    // The file Windows opens for the data; empty: registered_file(data), for
    // snapshots made by hand.
    String file_path;
    // Who that file is, where some copy's name made it worth reading; without
    // one, the path compares.
    std::optional<FileIdentity> file_identity;
    std::string raw;  // the data's bytes as the registry holds them, for putting them back
};

// One pending restart-time operation: a move (onto `to`, replacing it only
// when `replace_existing`) or, with an empty `to`, a deletion. Paths are
// plain Win32 paths (the "\??\" prefix and the "!" marker already read).
struct PendingOperation {
    String from;
    String to;
    bool replace_existing = false;
    bool second_list = false;  // from PendingFileRenameOperations2
};

// The operations of one list's data (strings separated by null units, in
// pairs), in the order the restart runs them.
std::vector<PendingOperation> parse_pending_operations(StringView units);

// A list of restart-time operations that could not be read.
struct UnreadPending {
    String value;  // its value's name
    PlatformStatus status = status_success;
};

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
    // Who the copy is, read when some value's file is compared by identity.
    std::optional<FileIdentity> copy_identity;
    uint64_t digest = 0;             // of the font's bytes as checked (deploy/digest.h)
    String source;                   // the entry read; empty for a copy no entry stands for
    bool copy_tried = false;         // this run copied it once already: only a staging is left
    bool held = false;               // another program held it open past the wait: refused for now
    bool copy_in_use = false;        // another program holds the copy: it is replaced or deleted at the restart only
    uint64_t bytes = 0;              // the font's size
};

struct DeploySnapshot {
    String title;
    String font_folder;   // the bundle's Font folder
    String fonts_folder;  // where a registration's bare file name lies
    std::vector<FontFacts> fonts;
    bool values_readable = true;
    std::vector<FontValue> values;
    // Those that touch a copy or a staged file: the first list's, then the
    // second's. Microsoft's documentation says a list runs in the order its
    // operations were issued, not which list runs first: the planner takes
    // the first first (where the deploy's own go, so none is assumed to undo
    // the second's) and refuses what the other order would leave otherwise.
    std::vector<PendingOperation> pending;
    std::vector<UnreadPending> pending_unread;  // any: the restart cannot be foreseen
    // The copies of the title's registrations whose font the bundle no
    // longer has (an install's), or none.
    std::vector<FontFacts> dropped;
    PackageState package;
};

// The operations that can change a copy or a staged file of the snapshot's
// fonts at the restart, in their order: those that name one, and those that
// name a path a later one of them uses. Windows may keep many others (its own
// updates), which would otherwise be walked once per font.
std::vector<PendingOperation> operations_touching(const std::vector<FontFacts>& fonts,
                                                  const std::vector<PendingOperation>& pending);

// The state of the font's copy after the restart.
FileState copy_after_restart(const FontFacts& font, const std::vector<PendingOperation>& pending);

// How to bring the copy's state after the restart to the font's bytes by a
// staged replacement alone: rewriting a staged file that a pending operation
// will move there last, or a fresh staged name and a new move (`schedule`).
Action staging_for(const FontFacts& font, const std::vector<PendingOperation>& pending);

// The measured copies' paths and file names, as compared.
struct CopyNames {
    std::set<String> paths;
    std::set<String> names;
};
CopyNames copy_names_of(const std::vector<FontFacts>& fonts);

// Whether the file a value names must be compared by identity: its text was
// refused (Windows still opens something), or its file name could be a
// copy's under another spelling (a copy's name, or a short name with "~").
// A value whose path is a measured copy's is that copy: no look needed.
bool needs_identity(StringView path, bool refused, const CopyNames& copies);

// Removing what no restart-time operation uses, then Typeloader.exe's run when
// a copy or registration is missing or different now; the stagings the run
// is expected to need after it.
// Then, once the bundle's fonts are verified: the title's registrations
// whose font the bundle no longer has removed; the kept copy and the Apps &
// features entry written when anything changes or they differ; last the
// dropped fonts' copies deleted, now or (in use) at the restart, which
// changes nothing a user sees and so never asks for one.
struct InstallPlan {
    std::vector<String> refusals;  // any: nothing is done
    bool busy = false;             // every refusal is a font another program holds: try again later
    std::vector<Action> actions;
    std::vector<Action> stagings;  // copies right now, but not after the restart
    std::vector<Action> drops;     // remove_registration
    std::vector<Action> package;   // keep_programs, write_entry
    std::vector<Action> housekeeping;  // void_staged, delete_copy, delete_at_restart
    // Per font of the snapshot: already registered as its copy, which holds
    // it now and after the restart. Typeloader.exe is given only the others.
    std::vector<bool> untouched;
    bool nothing_to_change() const {
        return refusals.empty() && actions.empty() && stagings.empty() && drops.empty() && package.empty() && housekeeping.empty();
    }
};

// What an install asks for besides the bundle's fonts.
struct InstallRequest {
    String version;                   // empty: none
    String install_date;              // yyyymmdd, today
    std::vector<String> own_folders;  // where a dropped font's copy may be deleted from
};

InstallPlan plan_install(const DeploySnapshot& snapshot, const InstallRequest& request);

// What a run of the plan answers when every action succeeds: a restart only
// when a font the bundle registers waits for it (a staging), never for a
// dropped font's copy deleted then; unchanged when nothing is to change,
// unless a run of this install ended before its verdict.
Outcome install_outcome(const InstallPlan& plan, const DeploySnapshot& before, bool after_unfinished);

// Every action of the plan, in the order a run carries them out.
std::vector<Action> planned_actions(const InstallPlan& plan);

// The entry as the install writes it.
std::vector<RegistryValue> expected_entry(const DeploySnapshot& snapshot, const InstallRequest& request);

// What a verified install leaves of its package: no registration of a
// dropped font, the entry as written, both kept programs whole.
std::vector<String> package_mismatches(const InstallPlan& plan, const std::vector<RegistryValue>& values, const PackageState& package);

// After Typeloader.exe's run: a copy not right after the restart is copied
// again once; one that is right now but not after the restart, or that was
// copied already (in use, or deleted or replaced at the restart), is staged.
struct Repair {
    std::vector<Action> copies;
    std::vector<Action> stagings;
};

Repair plan_repair(const DeploySnapshot& after);

// The snapshot as it will be once the stagings are made: judged before any
// is made, so that a failed install schedules nothing.
DeploySnapshot with_stagings(DeploySnapshot snapshot, const std::vector<Action>& stagings);

// What a verified install has on the machine: every font registered as its
// copy, every copy holding the font's bytes after the restart.
std::vector<String> install_mismatches(const DeploySnapshot& after);

// Values an install run added that its plan does not have: a name that
// begins with the title, as the registry compares, absent before the run.
std::vector<String> unplanned_registrations(const DeploySnapshot& before, const DeploySnapshot& after);

// Before Typeloader.exe may overwrite a copy that holds other bytes (this
// title's older font), its bytes are kept in `aside_folder`, so that a
// failed install can put them back.
std::vector<Action> plan_keep_aside(const DeploySnapshot& before, const String& aside_folder);

// After a failed install: every name the run may have written gets its value
// from before back (or goes, when it had none), as the key holds it `now`
// (none: the key cannot be opened, no value is touched); a copy kept aside
// that the run changed gets its bytes back; the staged files it `wrote` and
// the copies that were missing before go. Other names are left alone, since
// another program may change them meanwhile.
std::vector<Action> plan_put_back(const DeploySnapshot& before, const DeploySnapshot& after,
                                  const std::optional<std::vector<RegistryValue>>& now, const std::vector<String>& wrote,
                                  const String& aside_folder);

// After a failed install that wrote the entry: the entry as it was before
// (none: removed). The kept copy stays: it runs an uninstall of the title
// either way.
std::vector<Action> plan_entry_put_back(const DeploySnapshot& before);

// Why the restart cannot be foreseen: a list that could not be read, or a
// copy or staged file that the two lists would leave otherwise if the second
// ran first. Install and uninstall refuse, and a verdict fails, on any.
std::vector<String> unforeseen_restart(const DeploySnapshot& snapshot);

// Whether the restart will delete or move a copy or a staged file of the
// title: the only case that needs one. A move whose file is gone does nothing.
bool restart_pending(const DeploySnapshot& snapshot);

// Which registrations Typeloader.exe's uninstall would remove (string values
// whose names begin with the title, as it compares them), and what goes once
// they are gone: the staged replacements (so that their moves find nothing),
// then the copies.
struct UninstallPlan {
    std::vector<String> refusals;
    std::vector<String> removals;       // value names Typeloader.exe removes
    std::vector<Action> registrations;  // its run, when any is removed
    std::vector<Action> files;
    std::vector<Action> package;        // remove_entry, remove_kept_copy: last, once the fonts are gone
    bool nothing_to_change() const { return refusals.empty() && registrations.empty() && files.empty() && package.empty(); }
};

// `folders` are the folders a copy may be deleted from: the Fonts folder and
// Typeloader.exe's fallback folders.
UninstallPlan plan_uninstall(const DeploySnapshot& snapshot, const std::vector<String>& folders);

// Every action of the plan, in the order a run carries them out.
std::vector<Action> planned_actions(const UninstallPlan& plan);

// Why the title's entry or kept copy keeps a run from starting: an entry of
// its name that is another product's, or cannot be read; a kept copy's
// folder others may change.
std::vector<String> package_refusals(const PackageState& package);

// A copy that could not be deleted now because it is in use (or locked by
// its access, as a loaded font's may be) is deleted at the next restart.
std::optional<Action> deletion_at_restart(const Action& deletion, PlatformStatus refused_now);

// The removed names still there after the run.
std::vector<String> registrations_left(const std::vector<String>& removals, const DeploySnapshot& after);

// What a verified uninstall leaves: none of the removed names, no copy of the
// plan after the restart, no voided staged file.
std::vector<String> uninstall_mismatches(const UninstallPlan& plan, const DeploySnapshot& after);
