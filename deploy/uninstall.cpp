#include <vector>

#include "deploy/actions.h"
#include "deploy/deploy_jobs.h"
#include "deploy/plan.h"
#include "deploy/private_bundle.h"
#include "deploy/snapshot.h"

namespace {

// Deletes the staged replacements and copies one at a time; a copy that
// cannot be deleted now is deleted at the restart where it may be.
bool remove_files(DeployLog& log, const std::vector<Action>& files) {
    bool all = true;
    for (const Action& file : files) {
        const Execution execution = execute(log, String(), {file});
        if (execution.succeeded) continue;
        const PlatformStatus refused_now = execution.results.empty() ? status_success : execution.results.front().status;
        if (file.kind != ActionKind::delete_copy || !refused_now) {
            all = false;
        } else if (std::optional<Action> later = deletion_at_restart(file, refused_now)) {
            all &= execute(log, String(), {*later}).succeeded;
        } else {
            log_record(log, RecordType::error, with_error(with_error(u"Copy " + file.path + u" could not be deleted", refused_now) +
                                                              u" nor scheduled for deletion", refused_now) + u".");
            all = false;
        }
    }
    return all;
}

// Runs Typeloader.exe's uninstall from a private copy and checks that every
// name it was to remove is gone: no copy goes while a registration that
// names it may remain.
enum class Removal { removed, not_started, failed };

Removal remove_registrations(DeployLog& log, CheckedFont& typeloader, const String& title, const DeployPlaces& places,
                             const std::vector<FoundFile>& entries, const UninstallPlan& plan, const std::vector<String>& copies) {
    if (!plan.registrations.empty()) {
        PrivateBundle bundle;
        std::vector<CheckedFont> none;
        if (!make_private_bundle(log, typeloader, none, bundle)) return Removal::not_started;
        const bool ran = execute(log, bundle.typeloader, plan.registrations).succeeded;
        remove_private_bundle(log, bundle);
        if (!ran) return Removal::failed;
    }
    std::vector<LogLine> lines;
    for (const String& left : registrations_left(plan.removals, read_for_removal(title, places, entries, copies))) {
        lines.push_back({RecordType::error, u"Verify: " + left + u"."});
    }
    return log_records(log, lines) && lines.empty() ? Removal::removed : Removal::failed;
}

}  // namespace

Outcome deploy_uninstall(DeployLog& log, const String& title) {
    const String first_record = u"Uninstall of the fonts registered under the title " + quoted(title);
    const bool after_unfinished = left_unfinished(log, first_record);
    log_record(log, RecordType::information, first_record);
    const DeployPlaces places = deploy_places();
    CheckedFont typeloader;
    if (!bundle_is_trusted(log, places, typeloader)) return log_verdict(log, {Outcome::refused, u"Refused: nothing was removed."});
    const std::vector<FoundFile> entries = bundle_entries(places);
    const DeploySnapshot before = read_for_removal(title, places, entries, {});
    const UninstallPlan plan = plan_uninstall(before, places.own_folders);
    if (!plan.refusals.empty()) {
        log_refusals(log, plan.refusals);
        return log_verdict(log, {Outcome::refused, u"Refused: nothing was removed."});
    }
    std::vector<LogLine> checks;
    for (const String& name : plan.removals) checks.push_back({RecordType::information, u"Check " + quoted(name) + u": this title's registration: OK"});
    const bool recorded = log_records(log, checks);
    if (plan.nothing_to_change()) {
        const bool waiting = restart_pending(before);
        // After a run of this uninstall that ended before its verdict, what
        // it removed is verified here; a copy whose registration it removed
        // before the copy went can no longer be found by its registration.
        return log_verdict(log, {waiting ? Outcome::restart : after_unfinished ? Outcome::changed : Outcome::unchanged,
                                 (after_unfinished ? u"Verified what an unfinished run of this uninstall left: nothing registered under "
                                                   : u"Nothing registered under ") +
                                     quoted(title) + (after_unfinished ? u" and no copy of it found" : u" and no copy of it left") +
                                     (waiting ? u" once the deletions waiting for the restart are made" : u"") +
                                     u"; Typeloader.exe was not run."});
    }
    std::vector<String> copies;
    for (const FontFacts& font : before.fonts) copies.push_back(font.copy);
    const Removal removal = recorded ? remove_registrations(log, typeloader, title, places, entries, plan, copies) : Removal::failed;
    if (removal == Removal::not_started) return log_verdict(log, {Outcome::failed, u"Failed: nothing was removed."});
    if (removal == Removal::failed) {
        return log_verdict(log, {Outcome::failed, u"Failed: not every registration was removed; no copy was deleted."});
    }
    const bool removed = remove_files(log, plan.files);
    const DeploySnapshot after = read_for_removal(title, places, entries, copies);
    std::vector<LogLine> lines;
    for (const String& mismatch : uninstall_mismatches(plan, after)) lines.push_back({RecordType::error, u"Verify: " + mismatch + u"."});
    if (!log_records(log, lines) || !removed || !lines.empty()) {
        return log_verdict(log, {Outcome::failed, u"Failed: the registrations are removed, but a copy could not be deleted."});
    }
    const bool waiting = restart_pending(after);
    return log_verdict(log, {waiting ? Outcome::restart : Outcome::changed,
                             u"Uninstalled and verified under " + quoted(title) +
                                 (waiting ? u"; a restart completes it: a font in use is deleted then." : u".")});
}
