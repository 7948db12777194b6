#include <vector>

#include "deploy/deploy_jobs.h"
#include "deploy/plan.h"
#include "deploy/private_bundle.h"
#include "deploy/snapshot.h"
#include "fonts/typeloader_contract.h"
#include "platform/deploy/file_entries.h"
#include "platform/files.h"

namespace {

// Deletes a copy now, or at the restart when it is in use.
bool remove_copy(DeployLog& log, const String& copy) {
    PlatformStatus status = delete_file(copy);
    if (!status) {
        log_record(log, RecordType::information, u"Copy " + copy + u" deleted.");
        return true;
    }
    PlatformStatus scheduled = is_in_use_status(status) || status == status_access_denied ? delete_at_restart(copy) : status;
    if (!scheduled) {
        log_record(log, RecordType::warning, u"Copy " + copy + u" could not be deleted now (error " + decimal_text(status) +
                                                 u"): it is deleted at the next restart.");
        return true;
    }
    log_record(log, RecordType::error, u"Copy " + copy + u" could not be deleted (error " + decimal_text(status) +
                                           u") nor scheduled for deletion (error " + decimal_text(scheduled) + u").");
    return false;
}

}  // namespace

Outcome deploy_uninstall(DeployLog& log, const String& title) {
    log_record(log, RecordType::information, u"Uninstall of the fonts registered under the title " + quoted(title));
    const DeployPlaces places = deploy_places();
    const std::vector<FoundFile> entries = bundle_entries(places);
    if (!bundle_is_trusted(log, places)) return log_verdict(log, Outcome::refused, u"Refused: nothing was removed.");
    const DeploySnapshot before = take_snapshot(title, places, entries, {.add_registered_copies = true});
    const UninstallPlan plan = plan_uninstall(before, places.own_folders);
    if (!plan.refusals.empty()) {
        for (const String& refusal : plan.refusals) log_record(log, RecordType::error, u"Refused: " + refusal + u".");
        return log_verdict(log, Outcome::refused, u"Refused: nothing was removed.");
    }
    for (const String& name : plan.removals) {
        log_record(log, RecordType::information, u"Check " + quoted(name) + u": this title's registration: OK");
    }
    if (plan.nothing_to_change()) {
        const bool waiting = restart_pending(before);
        return log_verdict(log, waiting ? Outcome::restart : Outcome::unchanged,
                           u"Nothing registered under " + quoted(title) + u" and no copy of it left" +
                               (waiting ? u" once the deletions waiting for the restart are made" : u"") +
                               u"; Typeloader.exe was not run.");
    }

    bool verified = !log.failed;
    if (verified && plan.run_typeloader()) {
        PrivateBundle bundle;
        std::vector<HeldFile> none;
        if (!make_private_bundle(log, places.typeloader, {}, {}, none, bundle)) return log_verdict(log, Outcome::failed, u"Failed: nothing was removed.");
        TypeloaderRun run = run_typeloader_job(log, bundle.typeloader, true, title);
        remove_private_bundle(log, bundle);
        verified = verify_typeloader_run(log, run, uninstall_header + title, uninstall_fail);
    }
    std::vector<String> measured;
    for (const FontFacts& font : before.fonts) measured.push_back(font.copy);
    // No copy goes while a registration that names it may remain.
    if (verified) {
        const DeploySnapshot removed = take_snapshot(title, places, entries, {.extra_copies = measured});
        const std::vector<String> left = uninstall_mismatches(UninstallPlan{{}, plan.removals, {}, {}}, removed);
        for (const String& mismatch : left) log_record(log, RecordType::error, u"Verify: " + mismatch + u".");
        verified = left.empty() && !log.failed;
    }
    if (!verified) return log_verdict(log, Outcome::failed, u"Failed: not every registration was removed; no copy was deleted.");
    {
        // A staged replacement would bring a copy back at the restart.
        for (const String& staged : plan.voided) {
            PlatformStatus status = delete_file(staged);
            verified &= !status;
            log_record(log, status ? RecordType::error : RecordType::information,
                       u"Staged replacement " + staged +
                           (status ? u" could not be deleted (error " + decimal_text(status) + u")." : String(u" deleted: its move at the restart is void.")));
        }
        for (const String& copy : plan.copies) verified &= remove_copy(log, copy);
    }
    const DeploySnapshot after = take_snapshot(title, places, entries, {.extra_copies = measured});
    const std::vector<String> mismatches = uninstall_mismatches(plan, after);
    for (const String& mismatch : mismatches) log_record(log, RecordType::error, u"Verify: " + mismatch + u".");
    if (log.failed || !verified || !mismatches.empty()) {
        return log_verdict(log, Outcome::failed, u"Failed: the registrations are removed, but a copy could not be deleted.");
    }
    const bool waiting = restart_pending(after);
    return log_verdict(log, waiting ? Outcome::restart : Outcome::changed,
                       u"Uninstalled and verified under " + quoted(title) +
                           (waiting ? u"; a restart completes it: a font in use is deleted then." : u"."));
}
