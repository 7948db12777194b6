#include <vector>

#include "deploy/actions.h"
#include "deploy/deploy_jobs.h"
#include "deploy/plan.h"
#include "deploy/private_bundle.h"
#include "deploy/snapshot.h"

namespace {

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


// The copies deleted (one in use at the restart), then the entry and the
// kept copy, and what is left verified: nothing of the title.
bool remove_files_and_package(DeployLog& log, CheckedFont& typeloader, const String& title, const DeployPlaces& places,
                              const UninstallPlan& plan, const std::vector<String>& copies, bool& waiting) {
    const bool removed = execute(log, String(), plan.files).succeeded;
    // The kept Typeloader.exe may be the one held since the check.
    typeloader.held.reset();
    const bool package = removed && execute(log, String(), plan.package).succeeded;
    DeploySnapshot after = read_for_removal(title, places, {}, copies);
    after.package = read_package(title, typeloader);
    std::vector<String> mismatches = uninstall_mismatches(plan, after);
    waiting = restart_pending(after) || after.package.kept_state.folder_exists;
    if (package && !after.package.entry_status) mismatches.push_back(u"the Apps & features entry " + after.package.entry_key + u" is still there");
    std::vector<LogLine> lines;
    for (const String& mismatch : mismatches) lines.push_back({RecordType::error, u"Verify: " + mismatch + u"."});
    return log_records(log, lines) && removed && package && mismatches.empty();
}

// Typeloader.exe's uninstall, then the copies, the entry and the kept copy.
Verdict remove_all(DeployLog& log, bool recorded, CheckedFont& typeloader, const String& title, const DeployPlaces& places,
                   const std::vector<FoundFile>& entries, const UninstallPlan& plan, const DeploySnapshot& before) {
    std::vector<String> copies;
    for (const FontFacts& font : before.fonts) copies.push_back(font.copy);
    const Removal removal = recorded ? remove_registrations(log, typeloader, title, places, entries, plan, copies) : Removal::failed;
    if (removal == Removal::not_started) return {Outcome::failed, u"Failed: nothing was removed."};
    if (removal == Removal::failed) return {Outcome::failed, u"Failed: not every registration was removed; no copy was deleted."};
    bool waiting = false;
    if (!remove_files_and_package(log, typeloader, title, places, plan, copies, waiting)) {
        return {Outcome::failed, u"Failed: the registrations are removed, but a copy, the entry or the kept copy could not be."};
    }
    return {Outcome::changed, u"Uninstalled and verified under " + quoted(title) + u": no registration and no entry are left" +
                                  (waiting ? u"; what is in use (a copy, the running kept program) is deleted at the next restart."
                                           : u", nor any copy or kept program.")};
}

}  // namespace

Outcome deploy_uninstall(DeployLog& log, const DeployChoice& choice) {
    const String& title = choice.title;
    const String first_record = u"Uninstall of the fonts registered under the title " + quoted(title);
    const bool after_unfinished = !choice.whatif && left_unfinished(log, first_record);
    log_record(log, RecordType::information, (choice.whatif ? u"What if: " : u"") + first_record);
    const DeployPlaces places = deploy_places();
    CheckedFont typeloader;
    if (!bundle_is_trusted(log, places, typeloader)) return log_verdict(log, {Outcome::refused, u"Refused: nothing was removed."});
    const std::vector<FoundFile> entries = bundle_entries(places);
    DeploySnapshot before = read_for_removal(title, places, entries, {});
    before.package = read_package(title, typeloader);
    const UninstallPlan plan = plan_uninstall(before, places.own_folders);
    if (!plan.refusals.empty()) {
        log_refusals(log, plan.refusals);
        return log_verdict(log, {Outcome::refused, u"Refused: nothing was removed."});
    }
    std::vector<LogLine> checks;
    for (const String& name : plan.removals) checks.push_back({RecordType::information, u"Check " + quoted(name) + u": this title's registration: OK"});
    const bool recorded = log_records(log, checks);
    // Deletions waiting for the restart change nothing a user sees: the
    // uninstall never asks for one.
    const Outcome done = plan.nothing_to_change() && !after_unfinished ? Outcome::unchanged : Outcome::changed;
    if (choice.whatif) {
        return tell_what_if(log, planned_actions(plan), done);
    }
    if (plan.nothing_to_change()) {
        // After a run of this uninstall that ended before its verdict, what
        // it removed is verified here; a copy whose registration it removed
        // before the copy went can no longer be found by its registration.
        return log_verdict(log, {done, (after_unfinished ? u"Verified what an unfinished run of this uninstall left: nothing registered under "
                                                         : u"Nothing registered under ") +
                                           quoted(title) + (after_unfinished ? u" and no copy of it found" : u" and no copy of it left") +
                                           (restart_pending(before) ? u" once the deletions waiting for the restart are made" : u"") +
                                           u", and no Apps & features entry; Typeloader.exe was not run."});
    }
    return log_verdict(log, remove_all(log, recorded, typeloader, title, places, entries, plan, before));
}
