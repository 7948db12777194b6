#include "deploy/actions.h"

#include "deploy/typeloader_run.h"
#include "fonts/typeloader_contract.h"
#include "platform/files.h"
#include "platform/open_files.h"

String describe(const Action& action) {
    switch (action.kind) {
        case ActionKind::run_typeloader:
            return u"Run Typeloader.exe " + String(action.uninstall ? u"/uninstall " : u"") + u"/title:" + quoted(action.title);
        case ActionKind::remove_leftover: return u"Remove the staged file " + action.path + u", which no restart-time operation uses";
        case ActionKind::copy_again: return u"Copy the font over " + action.path;
        case ActionKind::stage:
            return u"Stage the font as " + action.path + u" to replace " + action.target + u" at the next restart";
        case ActionKind::void_staged: return u"Delete the staged replacement " + action.path;
        case ActionKind::delete_copy: return u"Delete the copy " + action.path;
        case ActionKind::delete_at_restart: return u"Delete the copy " + action.path + u" at the next restart";
        case ActionKind::restore_value: return u"Restore the registration " + quoted(action.title);
        case ActionKind::remove_value: return u"Remove the registration " + quoted(action.title);
        case ActionKind::remove_file: return u"Remove " + action.path;
    }
    return String();
}

namespace {

struct Step {
    ActionResult result;
    bool recorded = true;
    bool stops = false;  // a failure the rest must not run after
};

Step run_step(DeployLog& log, const String& typeloader, const Action& action) {
    const TypeloaderRun run = run_typeloader_job(log, typeloader, action.uninstall, action.title);
    const bool passed = action.uninstall ? verify_typeloader_run(log, run, uninstall_header + action.title, uninstall_fail)
                                         : verify_typeloader_run(log, run, install_header + action.title, install_fail);
    return {{passed}, log_is_whole(log), !passed};
}

Step remove_leftover_step(DeployLog& log, const Action& action) {
    const PlatformStatus status = delete_file(action.path);
    const bool recorded = log_record(log, status ? RecordType::warning : RecordType::information,
                                     u"Staged file " + action.path + u", which no restart-time operation uses, " +
                                         (status ? with_error(u"could not be removed", status) + u"." : String(u"removed.")));
    return {{true, status}, recorded};
}

// A copy in use fails without a record: a staging takes its place.
Step copy_again_step(DeployLog& log, const Action& action) {
    const PlatformStatus status = copy_file_replacing(action.source, action.path);
    if (!status || is_in_use_status(status)) return {{true, status}};
    const bool recorded = log_record(log, RecordType::error, with_error(u"Copy " + action.path + u" could not be made", status) + u".");
    return {{false, status}, recorded, true};
}

Step stage_step(DeployLog& log, const Action& action) {
    PlatformStatus status = copy_file_replacing(action.source, action.path);
    const bool wrote = !status;
    Measure written;
    if (!status) status = measure_against_digest(action.digest, action.path, written);
    const bool same = written.kind == EntryKind::file && written.same;
    if (!status && same && action.schedule) status = replace_at_restart(action.path, action.target);
    if (status || !same) {
        const bool recorded = log_record(log, RecordType::error,
                                         u"Copy " + action.target + u": its replacement at the restart could not be staged as " +
                                             (status ? with_error(action.path, status) + u"." : action.path + u": the staged file differs."));
        return {{false, status, wrote}, recorded, true};
    }
    const bool recorded = log_record(log, RecordType::warning, u"Copy " + action.target + u" is not the font after the restart: the font is staged as " +
                                                                  action.path + u" and replaces it at the next restart.");
    return {{true, status, wrote}, recorded};
}

Step void_staged_step(DeployLog& log, const Action& action) {
    const PlatformStatus status = delete_file(action.path);
    const bool recorded = log_record(log, status ? RecordType::error : RecordType::information,
                                     u"Staged replacement " + (status ? with_error(action.path + u" could not be deleted", status) + u"."
                                                                      : action.path + u" deleted: its move at the restart is void."));
    return {{!status, status}, recorded};
}

// A failure is recorded by the deletion at the restart that follows it, or
// by the sequencer when none can.
Step delete_copy_step(DeployLog& log, const Action& action) {
    const PlatformStatus status = delete_file(action.path);
    if (status) return {{false, status}};
    return {{true}, log_record(log, RecordType::information, u"Copy " + action.path + u" deleted.")};
}

Step delete_at_restart_step(DeployLog& log, const Action& action) {
    const PlatformStatus status = ::delete_at_restart(action.path);
    const String refused = with_error(u"Copy " + action.path + u" could not be deleted now", action.refused_now);
    const bool recorded =
        status ? log_record(log, RecordType::error,
                            with_error(with_error(u"Copy " + action.path + u" could not be deleted", action.refused_now) +
                                           u" nor scheduled for deletion", status) + u".")
               : log_record(log, RecordType::warning, refused + u": it is deleted at the next restart.");
    return {{!status, status}, recorded};
}

Step put_back_value_step(DeployLog& log, const RegistryKey& key, PlatformStatus opened, const Action& action) {
    const bool restore = action.kind == ActionKind::restore_value;
    PlatformStatus status = opened;
    if (!status) status = restore ? put_value(key, action.value) : delete_value(key, action.value.name);
    const bool recorded = log_record(log, status ? RecordType::error : RecordType::warning,
                                     u"Put back " + quoted(action.title) + u": " +
                                         (restore ? u"its data from before restored" : u"removed") +
                                         (status ? with_error(u": FAILED", status) : String(u": OK")));
    return {{!status, status}, recorded};
}

Step remove_file_step(DeployLog& log, const Action& action) {
    const PlatformStatus status = delete_file(action.path);
    if (status == status_file_not_found) return {{true, status}};
    const bool recorded = log_record(log, status ? RecordType::error : RecordType::warning,
                                     u"Put back: " + (status ? with_error(action.path + u" could not be removed", status) + u"."
                                                             : action.path + u" removed."));
    return {{!status, status}, recorded};
}

}  // namespace

Execution execute(DeployLog& log, const String& typeloader, const std::vector<Action>& actions) {
    Execution execution;
    RegistryKey key;  // opened for the first value put back
    PlatformStatus opened = status_success;
    for (const Action& action : actions) {
        const bool on_value = action.kind == ActionKind::restore_value || action.kind == ActionKind::remove_value;
        if (on_value && !key && !opened) opened = open_font_registration_key(key);
        Step step;
        switch (action.kind) {
            case ActionKind::run_typeloader: step = run_step(log, typeloader, action); break;
            case ActionKind::remove_leftover: step = remove_leftover_step(log, action); break;
            case ActionKind::copy_again: step = copy_again_step(log, action); break;
            case ActionKind::stage: step = stage_step(log, action); break;
            case ActionKind::void_staged: step = void_staged_step(log, action); break;
            case ActionKind::delete_copy: step = delete_copy_step(log, action); break;
            case ActionKind::delete_at_restart: step = delete_at_restart_step(log, action); break;
            case ActionKind::restore_value:
            case ActionKind::remove_value: step = put_back_value_step(log, key, opened, action); break;
            case ActionKind::remove_file: step = remove_file_step(log, action); break;
        }
        execution.results.push_back(step.result);
        execution.succeeded &= step.result.done && step.recorded;
        if (step.stops || !step.recorded) break;
    }
    return execution;
}
