#include <vector>

#include "deploy/actions.h"
#include "deploy/deploy_jobs.h"
#include "deploy/plan.h"
#include "deploy/package_entry.h"
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
// as far as the run changed them, and the entry when the run may have
// written it.
bool put_back(DeployLog& log, const DeploySnapshot& before, const DeploySnapshot& after, const std::vector<String>& wrote,
              const String& aside_folder, bool entry_written) {
    const FontsKeyReading now = read_fonts_key();
    if (now.opened) log_record(log, RecordType::error, with_error(u"Put back: the fonts key cannot be opened", now.opened) + u".");
    std::optional<std::vector<RegistryValue>> values;
    if (!now.opened) values = now.values;
    std::vector<Action> actions = plan_put_back(before, after, values, wrote, aside_folder);
    if (entry_written) {
        for (const Action& action : plan_entry_put_back(before)) actions.push_back(action);
    }
    return execute(log, String(), actions).succeeded && !now.opened && !now.read;
}

std::vector<String> verify_install(const DeploySnapshot& before, const DeploySnapshot& after, const std::vector<Action>& stagings) {
    std::vector<String> mismatches = install_mismatches(with_stagings(after, stagings));
    for (const String& name : unplanned_registrations(before, after)) {
        mismatches.push_back(quoted(name) + u" was added, though this install does not register it");
    }
    return mismatches;
}

// The fonts' part of the run: the private copy's Typeloader.exe, copies
// again or stagings of what it could not make, and the verification.
struct FontsRun {
    bool ok = false;
    DeploySnapshot after;
    std::vector<String> wrote;  // staged files written
};

FontsRun install_fonts(DeployLog& log, bool ok, const String& title, const DeployPlaces& acting, const PrivateBundle& bundle,
                       const std::vector<CheckedFont>& measured,
                       const DeploySnapshot& before, const InstallPlan& plan) {
    std::vector<Action> actions = plan_keep_aside(before, bundle.aside_folder);
    actions.insert(actions.end(), plan.actions.begin(), plan.actions.end());
    if (ok) ok = execute(log, bundle.typeloader, actions).succeeded;
    FontsRun run{ok, read_against_checked(title, acting, measured), {}};
    if (run.ok) run.ok = copy_again(log, run.after);
    const std::vector<Action> stagings = run.ok ? plan_repair(run.after).stagings : std::vector<Action>();
    std::vector<String> mismatches = verify_install(before, run.after, stagings);
    if (run.ok && mismatches.empty() && !stagings.empty()) {
        const Execution staged = execute(log, String(), stagings);
        run.ok = staged.succeeded;
        for (size_t i = 0; i < staged.results.size(); ++i) {
            if (staged.results[i].wrote) run.wrote.push_back(stagings[i].path);
        }
        run.after = read_against_checked(title, acting, measured);
        mismatches = install_mismatches(run.after);
    }
    std::vector<LogLine> lines;
    for (const String& mismatch : mismatches) lines.push_back({RecordType::error, u"Verify: " + mismatch + u"."});
    if (run.ok && mismatches.empty()) {
        lines.push_back({RecordType::information, u"Verify " + decimal_text(run.after.fonts.size()) +
                                                      u" fonts: every copy holds its font (after the restart too) and is registered: OK"});
    }
    run.ok &= log_records(log, lines) && mismatches.empty();
    return run;
}

// The registrations of fonts the bundle no longer has removed, the kept copy
// and the entry written, and all of it verified.
bool install_package(DeployLog& log, const String& title, const PrivateBundle& bundle, const CheckedFont& typeloader,
                     const InstallPlan& plan) {
    std::vector<Action> actions = plan.drops;
    actions.insert(actions.end(), plan.package.begin(), plan.package.end());
    bool ok = execute(log, bundle.typeloader, actions).succeeded;
    if (actions.empty()) return ok;
    // The fonts were verified: the fonts key's names and the package are read again.
    const FontsKeyReading key = read_fonts_key();
    std::vector<String> mismatches = package_mismatches(plan, key.values, read_package(title, typeloader));
    if (key.opened || key.read) mismatches.push_back(u"the fonts key cannot be read");
    std::vector<LogLine> lines;
    for (const String& mismatch : mismatches) lines.push_back({RecordType::error, u"Verify: " + mismatch + u"."});
    if (ok && mismatches.empty()) lines.push_back({RecordType::information, u"Verify the registrations removed, the kept copy and the Apps & features entry: OK"});
    return log_records(log, lines) && ok && mismatches.empty();
}

// Deleting the dropped fonts' copies changes nothing a user sees: one in use
// goes at the restart, and the run needs none.
bool delete_dropped(DeployLog& log, const String& title, const DeployPlaces& places, const InstallPlan& plan,
                    const DeploySnapshot& before) {
    if (plan.housekeeping.empty()) return true;
    const bool deleted = execute(log, String(), plan.housekeeping).succeeded;
    std::vector<String> copies;
    for (const FontFacts& font : before.dropped) copies.push_back(font.copy);
    UninstallPlan removal;
    removal.files = plan.housekeeping;
    std::vector<LogLine> lines;
    for (const String& mismatch : uninstall_mismatches(removal, read_for_removal(title, places, {}, copies))) {
        lines.push_back({RecordType::error, u"Verify: " + mismatch + u"."});
    }
    return log_records(log, lines) && deleted && lines.empty();
}

// Acts on the private copy, which holds the bytes checked, and verifies the
// machine against the plan, putting it back on failure.
Verdict install_from(DeployLog& log, bool ok, const String& title, DeployPlaces acting, const PrivateBundle& bundle,
                     const std::vector<CheckedFont>& measured,
                     const CheckedFont& typeloader, const DeploySnapshot& before, const InstallPlan& plan) {
    const DeployPlaces places = acting;
    acting.font_folder = bundle.font_folder;
    FontsRun run = install_fonts(log, ok, title, acting, bundle, measured, before, plan);
    // The package's step runs only after the fonts pass: the entry is put
    // back only when that step may have written it.
    const bool package_tried = run.ok && !plan.package.empty();
    if (run.ok) run.ok = install_package(log, title, bundle, typeloader, plan);
    if (!run.ok) {
        const bool entry = package_tried;
        if (!put_back(log, before, run.after, run.wrote, bundle.aside_folder, entry)) {
            return {Outcome::failed, u"Failed, and the machine could not be put back in full."};
        }
        return {Outcome::failed, entry ? u"Failed: the fonts key, the Fonts folder and the Apps & features entry are put back as they were."
                                       : u"Failed: the fonts key and the Fonts folder are put back as they were."};
    }
    if (!delete_dropped(log, title, places, plan, before)) {
        return {Outcome::failed, u"Failed: the bundle's fonts are installed, but a copy of a font it no longer has could not be deleted."};
    }
    const bool waiting = restart_pending(run.after);
    return {waiting ? Outcome::restart : Outcome::changed,
            u"Installed and verified under " + quoted(title) +
                (waiting ? u"; a restart completes it: a font in use is replaced then."
                         : u"; new sessions see the fonts, a sign-out and sign-in shows them in this one.")};
}

// Only the fonts to copy, register or stage go to the private copy, and so
// to Typeloader.exe; the others are measured where they are, and acted on
// never (an empty source).
Verdict carry_out(DeployLog& log, bool recorded, const String& title, const DeployPlaces& places, CheckedFont& typeloader,
                  std::vector<CheckedFont>& fonts, const DeploySnapshot& checked, const InstallPlan& plan) {
    std::vector<CheckedFont> acted_on, untouched;
    for (size_t i = 0; i < fonts.size(); ++i) {
        if (!plan.untouched[i]) acted_on.push_back(std::move(fonts[i]));
        else untouched.push_back({{fonts[i].entry.name, String()}, fonts[i].digest, HeldFile()});
    }
    PrivateBundle bundle;
    if (!make_private_bundle(log, typeloader, acted_on, bundle)) return {Outcome::failed, u"Failed: nothing was changed."};
    std::vector<CheckedFont> measured;
    for (const CheckedFont& font : bundle.fonts) measured.push_back({font.entry, font.digest, HeldFile()});
    for (CheckedFont& font : untouched) measured.push_back(std::move(font));
    const Verdict verdict = install_from(log, recorded, title, places, bundle, measured, typeloader, checked, plan);
    remove_private_bundle(log, bundle);
    return verdict;
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

Outcome deploy_install(DeployLog& log, const DeployChoice& choice) {
    const String& title = choice.title;
    const DeployPlaces places = deploy_places();
    const String first_record = u"Install of the fonts in " + places.font_folder + u" under the title " + quoted(title);
    // A run of this install that ended before its verdict left what it
    // changed unverified: this run verifies it, and never calls it unchanged.
    const bool after_unfinished = !choice.whatif && left_unfinished(log, first_record);
    // The first record alone names the job and title, as left_unfinished reads it.
    log_record(log, RecordType::information, (choice.whatif ? u"What if: " : u"") + first_record);
    if (!choice.version.empty()) log_record(log, RecordType::information, u"Version " + choice.version + u" of " + quoted(title));
    CheckedFont typeloader;
    if (!bundle_is_trusted(log, places, typeloader)) return log_verdict(log, {Outcome::refused, u"Refused: nothing was changed."});
    const std::vector<FoundFile> entries = bundle_entries(places);
    std::vector<CheckedFont> fonts;
    DeploySnapshot checked = read_checking(title, places, entries, fonts);
    checked.package = read_package(title, typeloader);
    const InstallPlan plan = plan_install(checked, {choice.version, install_date_text(local_time()), places.own_folders});
    if (!plan.refusals.empty()) {
        log_refusals(log, plan.refusals);
        // Fleet tools try 1618 again: the program holding the font may let go.
        return log_verdict(log, plan.busy ? Verdict{Outcome::busy, u"Busy: another program holds a font open; nothing was changed."}
                                          : Verdict{Outcome::refused, u"Refused: nothing was changed."});
    }
    const bool recorded = log_checks(log, checked);
    if (choice.whatif) {
        std::vector<Action> actions = plan_keep_aside(checked, log.folder + private_bundle_name + u"\\Aside");
        for (const Action& action : planned_actions(plan)) actions.push_back(action);
        return tell_what_if(log, actions, install_outcome(plan, checked, after_unfinished));
    }
    if (plan.nothing_to_change()) {
        const bool waiting = restart_pending(checked);
        return log_verdict(log, {install_outcome(plan, checked, after_unfinished),
                                 String(after_unfinished ? u"Verified what an unfinished run of this install left: " : u"Nothing to change: ") +
                                     u"every font is installed and registered under " + quoted(title) +
                                     (waiting ? u" once the replacements waiting for the restart are made" : u"") +
                                     u", and its Apps & features entry is as asked; Typeloader.exe was not run."});
    }
    return log_verdict(log, carry_out(log, recorded, title, places, typeloader, fonts, checked, plan));
}
