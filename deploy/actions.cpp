#include "deploy/actions.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "deploy/kept_copy.h"
#include "deploy/plan.h"
#include "deploy/registry_names.h"
#include "deploy/snapshot.h"
#include "deploy/typeloader_run.h"
#include "fonts/typeloader_contract.h"
#include "platform/deploy/file_entries.h"
#include "platform/deploy/open_files.h"
#include "platform/deploy/registry_keys.h"

namespace {

// ", version <v>" when the entry carries one.
String version_of(const std::vector<RegistryValue>& values) {
    for (const RegistryValue& value : values) {
        if (same_registry_name(value.name, u"DisplayVersion")) return u", version " + registry_text(value.data);
    }
    return String();
}

}  // namespace

String describe(const Action& action) {
    switch (action.kind) {
        case ActionKind::run_typeloader:
            return u"Run Typeloader.exe " + String(action.uninstall ? u"/uninstall " : u"") + u"/title:" + quoted(action.title);
        case ActionKind::keep_aside: return u"Keep the bytes of " + action.path + u" as " + action.target;
        case ActionKind::restore_file: return u"Put back " + action.path + u" from " + action.source;
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
        case ActionKind::remove_registration: return u"Remove the registration " + quoted(action.title) + u", whose font the bundle no longer has";
        case ActionKind::keep_programs: return u"Keep both programs in " + action.path + u" for the Apps & features entry's uninstall";
        case ActionKind::write_entry: return u"Write the Apps & features entry HKLM\\" + action.path + version_of(action.values);
        case ActionKind::remove_entry: return u"Remove the Apps & features entry HKLM\\" + action.path;
        case ActionKind::remove_kept_copy: return u"Delete the kept copy in " + action.path;
    }
    return String();
}

namespace {

// What one action did, and the record that says so (none: nothing to say).
struct Step {
    ActionResult result;
    std::optional<LogLine> record;
    bool stops = false;  // a failure the rest must not run after
};

LogLine line(RecordType type, String message) { return {type, std::move(message)}; }

Step run_step(DeployLog& log, const String& typeloader, const Action& action) {
    const TypeloaderRun run = run_typeloader_job(log, typeloader, action.uninstall, action.title);
    const bool passed = verify_typeloader_run(log, run, (action.uninstall ? uninstall_header : install_header) + action.title,
                                              action.uninstall ? uninstall_fail : install_fail);
    return {{passed}, std::nullopt, !passed};
}

Step remove_leftover_step(const Action& action) {
    const PlatformStatus status = delete_file(action.path);
    return {{true, status}, line(status ? RecordType::warning : RecordType::information,
                                 u"Staged file " + action.path + u", which no restart-time operation uses, " +
                                     (status ? with_error(u"could not be removed", status) + u"." : String(u"removed.")))};
}

// A copy in use fails without a record: a staging takes its place.
Step copy_again_step(const Action& action) {
    const PlatformStatus status = copy_file_replacing(action.source, action.path);
    if (!status || is_in_use_status(status)) return {{true, status}};
    return {{false, status}, line(RecordType::error, with_error(u"Copy " + action.path + u" could not be made", status) + u"."), true};
}

Step stage_step(const Action& action) {
    PlatformStatus status = copy_file_replacing(action.source, action.path);
    const bool wrote = !status;
    Measure written;
    if (!status) status = measure_against_digest(action.digest, action.path, written);
    const bool same = written.kind == EntryKind::file && written.same;
    if (!status && same && action.schedule) status = replace_at_restart(action.path, action.target);
    if (status || !same) {
        return {{false, status, wrote},
                line(RecordType::error, u"Copy " + action.target + u": its replacement at the restart could not be staged as " +
                                            (status ? with_error(action.path, status) + u"." : action.path + u": the staged file differs.")),
                true};
    }
    return {{true, status, wrote}, line(RecordType::warning, u"Copy " + action.target + u" is not the font after the restart: the font is staged as " +
                                                                 action.path + u" and replaces it at the next restart.")};
}

Step void_staged_step(const Action& action) {
    const PlatformStatus status = delete_file(action.path);
    return {{!status, status}, line(status ? RecordType::error : RecordType::information,
                                    u"Staged replacement " + (status ? with_error(action.path + u" could not be deleted", status) + u"."
                                                                     : action.path + u" deleted: its move at the restart is void."))};
}

Step delete_at_restart_step(const Action& action) {
    const PlatformStatus status = delete_at_restart(action.path);
    const String copy = u"Copy " + action.path + u" could not be deleted";
    if (status) return {{false, status}, line(RecordType::error, with_error(with_error(copy, action.refused_now) + u" nor scheduled for deletion", status) + u".")};
    return {{true}, line(RecordType::warning, with_error(copy + u" now", action.refused_now) + u": it is deleted at the next restart.")};
}

// Now, or at the restart when another program holds it.
Step delete_copy_step(const Action& action) {
    const PlatformStatus status = delete_file(action.path);
    if (!status) return {{true}, line(RecordType::information, u"Copy " + action.path + u" deleted.")};
    if (std::optional<Action> later = deletion_at_restart(action, status)) return delete_at_restart_step(*later);
    return {{false, status}, line(RecordType::error, with_error(u"Copy " + action.path + u" could not be deleted", status) + u".")};
}

Step put_back_value_step(const RegistryKey& key, PlatformStatus opened, const Action& action) {
    const bool restore = action.kind == ActionKind::restore_value;
    PlatformStatus status = opened;
    if (!status) status = restore ? put_value(key, action.value) : delete_value(key, action.value.name);
    return {{!status, status}, line(status ? RecordType::error : RecordType::warning,
                                    u"Put back " + quoted(action.title) + u": " + (restore ? u"its data from before restored" : u"removed") +
                                        (status ? with_error(u": FAILED", status) : String(u": OK")))};
}

// A copy's bytes kept before the run may overwrite them: without them no
// failure could be put back, so the run goes no further. A copy another
// program holds open cannot be read, nor be overwritten by the run: it is
// staged for the restart instead, and nothing needs keeping.
Step keep_aside_step(const Action& action) {
    const PlatformStatus status = copy_file_replacing(action.path, action.target);
    if (is_in_use_status(status)) return {{true, status}};
    if (status) return {{false, status}, line(RecordType::error, with_error(u"Copy " + action.path + u" could not be kept aside as " + action.target, status) + u"."), true};
    return {{true}, line(RecordType::information, u"Copy " + action.path + u" kept aside as " + action.target + u", to be put back should the install fail.")};
}

Step restore_file_step(const Action& action) {
    const PlatformStatus status = copy_file_replacing(action.source, action.path);
    return {{!status, status}, line(status ? RecordType::error : RecordType::warning,
                                    u"Put back: " + (status ? with_error(action.path + u" could not be restored from " + action.source, status) + u"."
                                                            : action.path + u" restored from " + action.source + u"."))};
}

// One already gone is no failure, and says nothing.
Step remove_file_step(const Action& action) {
    const PlatformStatus status = delete_file(action.path);
    if (status == status_file_not_found) return {{true, status}};
    return {{!status, status}, line(status ? RecordType::error : RecordType::warning,
                                    u"Put back: " + (status ? with_error(action.path + u" could not be removed", status) + u"."
                                                            : action.path + u" removed."))};
}

// Deleted by the deploy itself, as Typeloader.exe's uninstall would take
// every registration of the title.
Step remove_registration_step(const RegistryKey& key, PlatformStatus opened, const Action& action) {
    PlatformStatus status = opened;
    if (!status) status = delete_value(key, action.value.name);
    if (status == status_file_not_found) status = status_success;
    return {{!status, status}, line(status ? RecordType::error : RecordType::information,
                                    u"Registration " + quoted(action.title) + u", whose font the bundle no longer has: " +
                                        (status ? with_error(u"could not be removed", status) + u"." : String(u"removed."))),
            static_cast<bool>(status)};
}

// Typeloader.exe from the private copy, which holds the bytes checked.
Step keep_programs_step(const String& typeloader, const Action& action) {
    const String failure = make_kept_copy(kept_copy_in(action.path), action.source, action.digest, typeloader, action.typeloader_digest);
    if (!failure.empty()) return {{false}, line(RecordType::error, failure), true};
    return {{true}, line(RecordType::information, u"Kept copy of both programs made in " + action.path + u".")};
}

// The key holds the values given and no other afterwards.
PlatformStatus write_whole_key(const Action& action) {
    RegistryKey key;
    PlatformStatus status = create_machine_key(action.path, key);
    std::vector<RegistryValue> present;
    if (!status) status = read_all_values(key, present);
    for (const RegistryValue& value : action.values) {
        if (!status) status = put_value(key, value);
    }
    for (const RegistryValue& value : present) {
        const bool wanted = std::any_of(action.values.begin(), action.values.end(),
                                        [&](const RegistryValue& kept) { return same_registry_name(kept.name, value.name); });
        if (!status && !wanted) status = delete_value(key, value.name);
    }
    return status;
}

Step write_entry_step(const Action& action) {
    const PlatformStatus status = write_whole_key(action);
    return {{!status, status}, line(status ? RecordType::error : RecordType::information,
                                    u"Apps & features entry HKLM\\" + action.path +
                                        (status ? with_error(u" could not be written", status) + u"." : String(u" written."))),
            static_cast<bool>(status)};
}

Step remove_entry_step(const Action& action) {
    PlatformStatus status = delete_machine_key(action.path);
    if (status == status_file_not_found) status = status_success;
    return {{!status, status}, line(status ? RecordType::error : RecordType::information,
                                    u"Apps & features entry HKLM\\" + action.path +
                                        (status ? with_error(u" could not be removed", status) + u"." : String(u" removed.")))};
}

Step remove_kept_copy_step(const Action& action) {
    bool deferred = false;
    const String failure = remove_kept_copy(kept_copy_in(action.path), deferred);
    if (!failure.empty()) return {{false}, line(RecordType::error, failure)};
    return {{true}, line(deferred ? RecordType::warning : RecordType::information,
                         u"Kept copy in " + action.path +
                             (deferred ? u" deleted but for the running program, which goes at the next restart with its folder."
                                       : u" deleted."))};
}

Step step_of(DeployLog& log, const String& typeloader, const RegistryKey& key, PlatformStatus opened, const Action& action) {
    switch (action.kind) {
        case ActionKind::run_typeloader: return run_step(log, typeloader, action);
        case ActionKind::keep_aside: return keep_aside_step(action);
        case ActionKind::restore_file: return restore_file_step(action);
        case ActionKind::remove_leftover: return remove_leftover_step(action);
        case ActionKind::copy_again: return copy_again_step(action);
        case ActionKind::stage: return stage_step(action);
        case ActionKind::void_staged: return void_staged_step(action);
        case ActionKind::delete_copy: return delete_copy_step(action);
        case ActionKind::delete_at_restart: return delete_at_restart_step(action);
        case ActionKind::restore_value:
        case ActionKind::remove_value: return put_back_value_step(key, opened, action);
        case ActionKind::remove_registration: return remove_registration_step(key, opened, action);
        case ActionKind::keep_programs: return keep_programs_step(typeloader, action);
        case ActionKind::write_entry: return write_entry_step(action);
        case ActionKind::remove_entry: return remove_entry_step(action);
        case ActionKind::remove_kept_copy: return remove_kept_copy_step(action);
        case ActionKind::remove_file: break;
    }
    return remove_file_step(action);
}

}  // namespace

Execution execute(DeployLog& log, const String& typeloader, const std::vector<Action>& actions) {
    Execution execution;
    RegistryKey key;  // opened for the first value put back
    PlatformStatus opened = status_success;
    for (const Action& action : actions) {
        const bool on_value = action.kind == ActionKind::restore_value || action.kind == ActionKind::remove_value ||
                              action.kind == ActionKind::remove_registration;
        if (on_value && !key && !opened) opened = open_font_registration_key(key);
        const Step step = step_of(log, typeloader, key, opened, action);
        const bool recorded = step.record ? log_record(log, step.record->type, step.record->message) : log_is_whole(log);
        execution.results.push_back(step.result);
        execution.succeeded &= step.result.done && recorded;
        if (step.stops || !recorded) break;
    }
    return execution;
}
