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
    delete_copy,          // a copy deleted now
    delete_at_restart,    // a copy deleted at the next restart, since deleting it now failed with `refused_now`
    restore_value,        // `value` written back as it was before the run
    remove_value,         // the value `value.name` a failed run added, removed
    remove_file,          // a file a failed run made, removed; one already gone is no failure
    restore_file,         // the bytes kept aside at `source` copied back over `path`
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
    RegistryValue value;      // restore_value, remove_value
    PlatformStatus refused_now = status_success;  // delete_at_restart
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
