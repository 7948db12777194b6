#include <vector>

#include "deploy/actions.h"
#include "deploy/deploy_jobs.h"
#include "deploy/plan.h"
#include "deploy/private_bundle.h"
#include "deploy/registry_names.h"
#include "deploy/snapshot.h"
#include "fonts/typeloader_contract.h"

namespace {

FontFacts* font_with_copy(DeploySnapshot& snapshot, StringView copy) {
    for (FontFacts& font : snapshot.fonts) {
        if (same_registry_name(font.copy, copy)) return &font;
    }
    return nullptr;
}

// Copies again, one at a time, what Typeloader.exe left different; a copy in
// use fails without a record and is staged instead. The snapshot learns what
// each copy holds now.
bool copy_again(DeployLog& log, DeploySnapshot& after) {
    for (const Action& copy : plan_repair(after).copies) {
        const Execution execution = execute(log, String(), {copy});
        FontFacts& font = *font_with_copy(after, copy.path);
        font.copy_tried = true;
        if (!execution.succeeded) return false;
        if (execution.results.front().status) continue;
        font.copy_state = state_against(font.digest, font.copy);
        if (copy_after_restart(font, after.pending) == FileState::same_as_source &&
            !log_record(log, RecordType::warning, u"Copy " + font.copy + u": made by a second copy.")) {
            return false;
        }
    }
    return true;
}

// Puts the fonts key and the Fonts folder back as they were before the run,
// as far as the run changed them.
bool put_back(DeployLog& log, const DeploySnapshot& before, const DeploySnapshot& after, const std::vector<String>& wrote,
              const String& aside_folder) {
    const FontsKeyReading now = read_fonts_key();
    if (now.opened) log_record(log, RecordType::error, with_error(u"Put back: the fonts key cannot be opened", now.opened) + u".");
    std::optional<std::vector<RegistryValue>> values;
    if (!now.opened) values = now.values;
    return execute(log, String(), plan_put_back(before, after, values, wrote, aside_folder)).succeeded && !now.opened && !now.read;
}

std::vector<String> verify_install(const DeploySnapshot& before, const DeploySnapshot& after, const std::vector<Action>& stagings) {
    std::vector<String> mismatches = install_mismatches(with_stagings(after, stagings));
    for (const String& name : unplanned_registrations(before, after)) {
        mismatches.push_back(quoted(name) + u" was added, though this install does not register it");
    }
    return mismatches;
}

// Acts on the private copy, which holds the bytes checked: runs its
// Typeloader.exe, copies again or stages what the run could not make, and
// verifies the machine against the plan, putting it back on failure.
Verdict install_from(DeployLog& log, bool ok, const String& title, DeployPlaces acting, const PrivateBundle& bundle,
                     const DeploySnapshot& before, const InstallPlan& plan) {
    acting.font_folder = bundle.font_folder;
    std::vector<Action> actions = plan_keep_aside(before, bundle.aside_folder);
    actions.insert(actions.end(), plan.actions.begin(), plan.actions.end());
    if (ok) ok = execute(log, bundle.typeloader, actions).succeeded;
    DeploySnapshot after = read_against_checked(title, acting, bundle.fonts);
    if (ok) ok = copy_again(log, after);
    const std::vector<Action> stagings = ok ? plan_repair(after).stagings : std::vector<Action>();
    std::vector<String> mismatches = verify_install(before, after, stagings);
    std::vector<String> wrote;
    if (ok && mismatches.empty() && !stagings.empty()) {
        const Execution staged = execute(log, String(), stagings);
        ok = staged.succeeded;
        for (size_t i = 0; i < staged.results.size(); ++i) {
            if (staged.results[i].wrote) wrote.push_back(stagings[i].path);
        }
        after = read_against_checked(title, acting, bundle.fonts);
        mismatches = install_mismatches(after);
    }
    std::vector<LogLine> lines;
    for (const String& mismatch : mismatches) lines.push_back({RecordType::error, u"Verify: " + mismatch + u"."});
    if (ok && mismatches.empty()) {
        lines.push_back({RecordType::information, u"Verify " + decimal_text(after.fonts.size()) +
                                                      u" fonts: every copy holds its font (after the restart too) and is registered: OK"});
    }
    ok &= log_records(log, lines) && mismatches.empty();
    if (!ok) {
        return {Outcome::failed, put_back(log, before, after, wrote, bundle.aside_folder) ? u"Failed: the fonts key and the Fonts folder are put back as they were."
                                                                     : u"Failed, and the machine could not be put back in full."};
    }
    const bool waiting = restart_pending(after);
    return {waiting ? Outcome::restart : Outcome::changed,
            u"Installed and verified under " + quoted(title) +
                (waiting ? u"; a restart completes it: a font in use is replaced then."
                         : u"; new sessions see the fonts, a sign-out and sign-in shows them in this one.")};
}

bool log_checks(DeployLog& log, const DeploySnapshot& checked) {
    std::vector<LogLine> checks;
    for (const FontFacts& font : checked.fonts) {
        for (const String& warning : font.warnings) {
            checks.push_back({RecordType::warning, u"Check " + font.name + u": " + warning + u"; Windows loads it all the same."});
        }
        checks.push_back({RecordType::information, u"Check " + font.name + u": a font, to be copied to " + font.copy +
                                                       u" and registered as " + quoted(registration_name(checked.title, font.name)) + u": OK"});
    }
    checks.push_back({RecordType::information,
                      u"Check title " + quoted(checked.title) + u": an uninstall would remove only this title's registrations: OK"});
    return log_records(log, checks);
}

}  // namespace

Outcome deploy_install(DeployLog& log, const String& title) {
    const DeployPlaces places = deploy_places();
    const String first_record = u"Install of the fonts in " + places.font_folder + u" under the title " + quoted(title);
    // A run of this install that ended before its verdict left what it
    // changed unverified: this run verifies it, and never calls it unchanged.
    const bool after_unfinished = left_unfinished(log, first_record);
    log_record(log, RecordType::information, first_record);
    CheckedFont typeloader;
    if (!bundle_is_trusted(log, places, typeloader)) return log_verdict(log, {Outcome::refused, u"Refused: nothing was changed."});
    const std::vector<FoundFile> entries = bundle_entries(places);
    std::vector<CheckedFont> fonts;
    const DeploySnapshot checked = read_checking(title, places, entries, fonts);
    const InstallPlan plan = plan_install(checked);
    if (!plan.refusals.empty()) {
        log_refusals(log, plan.refusals);
        // Fleet tools try 1618 again: the program holding the font may let go.
        return log_verdict(log, plan.busy ? Verdict{Outcome::busy, u"Busy: another program holds a font open; nothing was changed."}
                                          : Verdict{Outcome::refused, u"Refused: nothing was changed."});
    }
    const bool recorded = log_checks(log, checked);
    if (plan.nothing_to_change()) {
        const bool waiting = restart_pending(checked);
        return log_verdict(log, {waiting ? Outcome::restart : after_unfinished ? Outcome::changed : Outcome::unchanged,
                                 String(after_unfinished ? u"Verified what an unfinished run of this install left: " : u"Nothing to change: ") +
                                     u"every font is installed and registered under " + quoted(title) +
                                     (waiting ? u" once the replacements waiting for the restart are made" : u"") +
                                     u"; Typeloader.exe was not run."});
    }
    PrivateBundle bundle;
    if (!make_private_bundle(log, typeloader, fonts, bundle)) {
        return log_verdict(log, {Outcome::failed, u"Failed: nothing was changed."});
    }
    const Verdict verdict = install_from(log, recorded, title, places, bundle, checked, plan);
    remove_private_bundle(log, bundle);
    return log_verdict(log, verdict);
}
