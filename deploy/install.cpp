#include <map>
#include <utility>
#include <vector>

#include "deploy/deploy_jobs.h"
#include "deploy/plan.h"
#include "deploy/private_bundle.h"
#include "deploy/snapshot.h"
#include "fonts/typeloader_contract.h"
#include "platform/deploy/file_entries.h"
#include "platform/deploy/open_files.h"
#include "platform/deploy/registry_values.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace {

// Writes the font to its staged name and, where the plan says so, schedules
// the staged file's move onto the copy at the restart.
bool stage(DeployLog& log, const String& source, const Staging& staging, std::vector<String>& written) {
    PlatformStatus status = copy_file_replacing(source, staging.staged);
    if (!status) written.push_back(staging.staged);
    bool same = false;
    if (!status) status = same_contents(source, staging.staged, same);
    if (!status && staging.schedule) status = replace_at_restart(staging.staged, staging.copy);
    if (status || !same) {
        log_record(log, RecordType::error, u"Copy " + staging.copy + u": its replacement at the restart could not be staged as " +
                                               staging.staged + (status ? u" (error " + decimal_text(status) + u")." : String(u": the staged file differs.")));
        return false;
    }
    log_record(log, RecordType::warning, u"Copy " + staging.copy + u" is not the font after the restart: the font is staged as " +
                                             staging.staged + u" and replaces it at the next restart.");
    return true;
}

// After Typeloader.exe: a copy still different is copied once more; one in
// use (a sharing violation, or a mapped font), or one that the restart would
// delete or replace, needs a staged replacement, which is returned.
// The snapshot is brought up to date for each copy made again.
bool copy_again(DeployLog& log, DeploySnapshot& now, const std::vector<FoundFile>& entries,
                std::vector<std::pair<Staging, String>>& stagings) {
    std::vector<PendingOperation> pending = now.pending;
    for (size_t i = 0; i < now.fonts.size(); ++i) {
        FontFacts& font = now.fonts[i];
        const String& source = entries[i].path;
        if (copy_after_restart(font, pending) == FileState::same_as_source) continue;
        if (font.copy_state != FileState::same_as_source) {
            PlatformStatus status = copy_file_replacing(source, font.copy);
            if (!status) font.copy_state = file_state(source, font.copy);
            if (status && !is_in_use_status(status)) {
                log_record(log, RecordType::error, u"Copy " + font.copy + u" could not be made (error " + decimal_text(status) + u").");
                return false;
            }
            if (copy_after_restart(font, pending) == FileState::same_as_source) {
                log_record(log, RecordType::warning, u"Copy " + font.copy + u": made by a second copy.");
                continue;
            }
        }
        const Staging staging = staging_for(font, pending);
        if (staging.schedule) pending.push_back({staging.staged, staging.copy, true});
        stagings.push_back({staging, source});
    }
    return true;
}

// The snapshot as it will be once the stagings are made: checked before any
// is, so that a failed install schedules nothing.
DeploySnapshot with_stagings(DeploySnapshot snapshot, const std::vector<std::pair<Staging, String>>& stagings) {
    for (const auto& [staging, source] : stagings) {
        for (FontFacts& font : snapshot.fonts) {
            if (!same_path(font.copy, staging.copy)) continue;
            std::erase_if(font.staged, [&](const NearbyFile& file) { return same_path(file.path, staging.staged); });
            font.staged.push_back({staging.staged, FileState::same_as_source});
        }
        if (staging.schedule) snapshot.pending.push_back({staging.staged, staging.copy, true});
    }
    return snapshot;
}

// Gives the fonts key back its values from before the run for every name the
// run may have written, removes names under the title the run added, and
// removes the copies and staged files the run made. Other names are left
// alone, since another program may change them meanwhile.
bool put_back(DeployLog& log, const DeploySnapshot& before, const DeploySnapshot& after, const std::vector<String>& written) {
    bool all = true;
    RegistryKey key;
    if (PlatformStatus status = open_font_registration_key(key)) {
        log_record(log, RecordType::error, u"Put back: the fonts key cannot be opened (error " + decimal_text(status) + u").");
        all = false;
    }
    std::vector<RegistryValue> now;
    if (key && read_all_values(key, now)) all = false;
    std::map<String, const RegistryValue*> current_by_name;
    for (const RegistryValue& value : now) current_by_name.emplace(comparison_key(value.name), &value);
    std::map<String, RegistryValue> earlier_by_name;
    for (const FontValue& value : before.values) earlier_by_name.emplace(comparison_key(value.name), RegistryValue{value.name, value.type, value.raw});
    std::vector<String> names;
    for (const FontFacts& font : before.fonts) names.push_back(registration_name(before.title, font.name));
    for (const String& name : unplanned_registrations(before, after)) names.push_back(name);
    for (const String& name : key ? names : std::vector<String>()) {
        auto earlier = earlier_by_name.find(comparison_key(name));
        auto found = current_by_name.find(comparison_key(name));
        const RegistryValue* old = earlier == earlier_by_name.end() ? nullptr : &earlier->second;
        const RegistryValue* current = found == current_by_name.end() ? nullptr : found->second;
        PlatformStatus status = status_success;
        String what;
        if (old) {
            if (current && current->type == old->type && current->data == old->data) continue;
            status = put_value(key, *old);
            what = u"its data from before restored";
        } else if (current) {
            status = delete_value(key, current->name);
            what = u"removed";
        } else {
            continue;
        }
        all &= !status;
        log_record(log, status ? RecordType::error : RecordType::warning,
                   u"Put back " + quoted(name) + u": " + what +
                       (status ? u": FAILED (error " + decimal_text(status) + u")" : String(u": OK")));
    }
    // A staged file gone voids its move at the restart.
    std::vector<String> made = written;
    for (size_t i = 0; i < before.fonts.size() && i < after.fonts.size(); ++i) {
        if (before.fonts[i].copy_state == FileState::missing && after.fonts[i].copy_state != FileState::missing) {
            made.push_back(after.fonts[i].copy);
        }
    }
    for (const String& path : made) {
        PlatformStatus status = delete_file(path);
        if (status == status_file_not_found) continue;
        all &= !status;
        log_record(log, status ? RecordType::error : RecordType::warning,
                   u"Put back: " + path + (status ? u" could not be removed (error " + decimal_text(status) + u")." : String(u" removed.")));
    }
    return all;
}

}  // namespace

namespace {

// Acts on the private copy, which holds the bytes checked: runs its
// Typeloader.exe, copies again or stages what the run could not make, and
// verifies the machine against the plan, putting it back on failure.
// `digests` are the fonts' as checked, in the order of the bundle's entries.
Verdict install_from(DeployLog& log, const String& title, const DeployPlaces& places, const PrivateBundle& bundle,
                     const DeploySnapshot& before, const InstallPlan& plan, const std::vector<uint64_t>& digests) {
    DeployPlaces acting = places;
    acting.font_folder = bundle.font_folder;
    const std::vector<FoundFile>& entries = bundle.entries;
    for (const String& leftover : plan.leftovers) {
        PlatformStatus status = delete_file(leftover);
        log_record(log, status ? RecordType::warning : RecordType::information,
                   u"Staged file " + leftover + u", which no restart-time operation uses, " +
                       (status ? u"could not be removed (error " + decimal_text(status) + u")." : String(u"removed.")));
    }
    bool verified = !log.failed;
    if (verified && plan.run_typeloader) {
        TypeloaderRun run = run_typeloader_job(log, bundle.typeloader, false, title);
        verified = verify_typeloader_run(log, run, install_header + title, install_fail);
    }
    std::vector<std::pair<Staging, String>> stagings;
    const SnapshotReading against_checked{.digests = &digests};
    DeploySnapshot after = take_snapshot(title, acting, entries, against_checked);
    if (verified) verified = copy_again(log, after, entries, stagings);
    std::vector<String> mismatches = install_mismatches(with_stagings(after, stagings));
    for (const String& name : unplanned_registrations(before, after)) {
        mismatches.push_back(quoted(name) + u" was added, though this install does not register it");
    }
    std::vector<String> written;
    if (verified && mismatches.empty() && !log.failed && !stagings.empty()) {
        for (const auto& [staging, source] : stagings) {
            verified = stage(log, source, staging, written);
            if (!verified) break;
        }
        after = take_snapshot(title, acting, entries, against_checked);
        mismatches = install_mismatches(after);
    }
    for (const String& mismatch : mismatches) log_record(log, RecordType::error, u"Verify: " + mismatch + u".");
    if (verified && mismatches.empty()) {
        log_record(log, RecordType::information, u"Verify " + decimal_text(after.fonts.size()) +
                                                     u" fonts: every copy holds its font (after the restart too) and is registered: OK");
    }
    if (log.failed || !verified || !mismatches.empty()) {
        bool restored = put_back(log, before, after, written);
        return {Outcome::failed, restored ? u"Failed: the fonts key and the Fonts folder are put back as they were."
                                          : u"Failed, and the machine could not be put back in full."};
    }
    const bool waiting = restart_pending(after);
    return {waiting ? Outcome::restart : Outcome::changed,
            u"Installed and verified under " + quoted(title) +
                (waiting ? u"; a restart completes it: a font in use is replaced then."
                         : u"; new sessions see the fonts, a sign-out and sign-in shows them in this one.")};
}

}  // namespace

Outcome deploy_install(DeployLog& log, const String& title) {
    const DeployPlaces places = deploy_places();
    log_record(log, RecordType::information, u"Install of the fonts in " + places.font_folder + u" under the title " + quoted(title));
    const std::vector<FoundFile> entries = bundle_entries(places);
    if (!bundle_is_trusted(log, places)) return log_verdict(log, Outcome::refused, u"Refused: nothing was changed.");
    std::vector<HeldFile> held;
    const DeploySnapshot checked =
        take_snapshot(title, places, entries, {.check_entries = true, .check_security = true, .held = &held});
    const InstallPlan plan = plan_install(checked);
    if (!plan.refusals.empty()) {
        for (const String& refusal : plan.refusals) log_record(log, RecordType::error, u"Refused: " + refusal + u".");
        return log_verdict(log, Outcome::refused, u"Refused: nothing was changed.");
    }
    std::vector<LogLine> checks;
    for (const FontFacts& font : checked.fonts) {
        for (const String& warning : font.warnings) {
            checks.push_back({RecordType::warning, u"Check " + font.name + u": " + warning + u"; Windows loads it all the same."});
        }
        checks.push_back({RecordType::information, u"Check " + font.name + u": a font, to be copied to " + font.copy +
                                                       u" and registered as " + quoted(registration_name(title, font.name)) + u": OK"});
    }
    checks.push_back({RecordType::information,
                      u"Check title " + quoted(title) + u": an uninstall would remove only this title's registrations: OK"});
    log_records(log, checks);
    if (plan.nothing_to_change()) {
        const bool waiting = restart_pending(checked);
        return log_verdict(log, waiting ? Outcome::restart : Outcome::unchanged,
                           String(u"Nothing to change: every font is installed and registered under ") + quoted(title) +
                               (waiting ? u" once the replacements waiting for the restart are made" : u"") +
                               u"; Typeloader.exe was not run.");
    }
    std::vector<uint64_t> digests;
    for (const FontFacts& font : checked.fonts) digests.push_back(font.digest);
    PrivateBundle bundle;
    if (!make_private_bundle(log, places.typeloader, entries, digests, held, bundle)) {
        return log_verdict(log, Outcome::failed, u"Failed: nothing was changed.");
    }
    const Verdict verdict = install_from(log, title, places, bundle, checked, plan, digests);
    remove_private_bundle(log, bundle);
    return log_verdict(log, verdict.outcome, verdict.sentence);
}
