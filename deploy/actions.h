#pragma once

#include <string>
#include <vector>

#include "common/strings.h"
#include "deploy/log.h"
#include "platform/deploy/registry_values.h"
#include "platform/registry.h"
#include "platform/status.h"

// What the deploy jobs do to the machine, as plain data: the planner returns
// lists of these, one executor carries a list out and records each action.

enum class ActionKind {
    run_typeloader,       // Typeloader.exe's install or uninstall of `title`
    keep_aside,           // the copy at `path` copied to `target` before the run may overwrite it
    remove_leftover,      // a staged file no restart-time operation uses; a failure is harmless
    copy_again,           // `source` over the copy at `path`, which Typeloader.exe left different
    stage,                // `source` written to the staged file `path`; when `schedule`, its move onto `target` at the restart
    void_staged,          // a staged replacement deleted, so that its move at the restart finds nothing
    delete_copy,          // a copy deleted now, or at the next restart when in use (deletion_at_restart)
    delete_at_restart,    // a copy deleted at the next restart, since it is in use (`refused_now`)
    restore_value,        // `value` written back as it was before the run
    remove_value,         // the value `value.name` a failed run added, removed
    remove_file,          // a file a failed run made, removed; one already gone is no failure
    restore_file,         // the bytes kept aside at `source` copied back over `path`
    remove_registration,  // the title's value `value.name`, whose font the bundle no longer has
    keep_programs,        // this program (`source`) and the Typeloader.exe run copied into the kept copy's folder `path`
    write_entry,          // the Apps & features entry at `path` made to hold exactly `values`
    remove_entry,         // the entry at `path` deleted
    remove_kept_copy,     // the kept copy in the folder `path` deleted, the running program at the restart
};

struct Action {
    ActionKind kind = ActionKind::run_typeloader;
    String path;              // the file acted on
    String source;            // copy_again, stage: the font's private copy; restore_file: the bytes kept aside
    String target;            // stage: the copy the staged file replaces; keep_aside: where the bytes go
    uint64_t digest = 0;      // stage: of the font's bytes as checked
    bool schedule = false;    // stage: a new move at the restart (otherwise one already pending brings it)
    bool uninstall = false;   // run_typeloader
    String title;             // run_typeloader; restore_value, remove_value: the name the plan knows the value by
    RegistryValue value;      // restore_value, remove_value, remove_registration
    PlatformStatus refused_now = status_success;  // delete_at_restart
    std::vector<RegistryValue> values;  // write_entry
    uint64_t typeloader_digest = 0;  // keep_programs: `digest` is the running program's
    bool operator==(const Action&) const = default;
};

// The one line an administrator reads for the action.
String describe(const Action& action);

struct ActionResult {
    bool done = false;
    PlatformStatus status = status_success;  // the platform's code of the step that failed
    bool wrote = false;                      // stage: the staged file was written, whatever came after
};

struct Execution {
    // Every action done, or failed harmlessly (a leftover, a copy in use), and
    // every record written.
    bool succeeded = true;
    std::vector<ActionResult> results;  // one per action carried out, in order
};

// Carries the actions out in order, logging each with its result. It stops
// after a failed run of Typeloader.exe, keeping aside, copy or staging, or a record that
// cannot be written; it goes on past a failed deletion or put back, so that
// as much as can be is done. `typeloader` is the program run_typeloader runs.
Execution execute(DeployLog& log, const String& typeloader, const std::vector<Action>& actions);
