#include <vector>

#include "common/paths.h"
#include "deploy/command_line.h"
#include "deploy/deploy_jobs.h"
#include "deploy/ownership.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace {

bool read_values(std::vector<RegistryValue>& values) {
    RegistryKey key;
    PlatformStatus status = open_font_registration_key(key);
    if (!status) status = read_all_values(key, values);
    return !status;
}

// Deletes a copy that no remaining value refers to, inside the Fonts folder
// or Typeloader.exe's fallback folder only; one in use at the next restart.
bool remove_copy(DeployLog& log, const String& copy, const std::vector<String>& own_folders,
                 const std::vector<RegistryValue>& remaining) {
    bool inside = false;
    for (const String& folder : own_folders) inside |= !folder.empty() && equals_ignoring_ascii_case(parent_folder(copy), folder);
    if (!inside) {
        log_record(log, RecordType::warning, u"Copy " + copy + u" kept: it is outside the Fonts folder.");
        return true;
    }
    for (const RegistryValue& value : remaining) {
        if (is_text_type(value.type) && refers_to(registry_text(value.data), copy)) {
            log_record(log, RecordType::information, u"Copy " + copy + u" kept: the registration " + quoted(value.name) +
                                                         u" still refers to it.");
            return true;
        }
    }
    EntryKind kind = EntryKind::missing;
    entry_kind(copy, kind);
    if (kind == EntryKind::missing) {
        log_record(log, RecordType::information, u"Copy " + copy + u" is already gone.");
        return true;
    }
    if (kind != EntryKind::file) {
        log_record(log, RecordType::warning, u"Copy " + copy + u" kept: it is not a plain file.");
        return true;
    }
    // A replacement staged by an install while the font was in use would
    // bring the copy back at the restart.
    const String staged = staged_replacement(copy);
    EntryKind staged_kind = EntryKind::missing;
    PlatformStatus staged_status = entry_kind(staged, staged_kind);
    if (!staged_status && staged_kind == EntryKind::file) {
        staged_status = delete_file(staged);
        if (!staged_status) log_record(log, RecordType::information, u"Staged replacement " + staged + u" deleted.");
    }
    PlatformStatus status = delete_file(copy);
    if (!status) {
        log_record(log, RecordType::information, u"Copy " + copy + u" deleted.");
        return true;
    }
    PlatformStatus scheduled = delete_at_restart(copy);
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

int deploy_uninstall(DeployLog& log, const String& title) {
    log_record(log, RecordType::information, u"Uninstall of the fonts registered under the title " + quoted(title));
    std::vector<RegistryValue> before;
    std::vector<Removal> removals;
    {
        RegistryKey key;
        PlatformStatus status = open_font_registration_key(key);
        if (!status) status = read_all_values(key, before);
        if (status) {
            log_record(log, RecordType::error, u"Refused: the fonts key cannot be read (error " + decimal_text(status) + u").");
            return log_verdict(log, exit_failed, u"Refused: nothing was removed.");
        }
        removals = uninstall_removals(key, before, title);
    }

    // The guard: Typeloader.exe removes every name that begins with the title.
    std::vector<String> copies;
    bool foreign = false;
    for (const Removal& removal : removals) {
        const String shown = quoted(removal.name) + u" (" + removal.data + u")";
        if (!removal.own) {
            foreign = true;
            log_record(log, RecordType::error,
                       u"Refused: " + shown + u" is not this title's registration, and Typeloader.exe would remove it.");
            continue;
        }
        log_record(log, RecordType::information, u"Check " + shown + u": this title's registration: OK");
        copies.push_back(removal.data);
    }
    if (foreign) return log_verdict(log, exit_failed, u"Refused: nothing was removed.");
    if (removals.empty()) {
        return log_verdict(log, exit_nothing_to_change, u"Nothing registered under " + quoted(title) +
                                                            u"; Typeloader.exe was not run.");
    }

    TypeloaderRun run = run_typeloader_job(log, true, title);
    bool verified = verify_typeloader_run(log, run, u"Uninstall Font : " + title, u"Uninstall FAIL : ");
    std::vector<RegistryValue> after;
    bool readable = read_values(after);
    for (const Removal& removal : removals) {
        bool gone = readable;
        for (const RegistryValue& value : after) gone &= value.name != removal.name;
        log_record(log, gone ? RecordType::information : RecordType::error,
                   u"Verify " + quoted(removal.name) + u" removed" + (gone ? u": OK" : u": FAILED"));
        verified &= gone;
    }
    if (!verified) return log_verdict(log, exit_failed, u"Failed: not every registration was removed; no copy was deleted.");

    String fonts;
    system_fonts_folder(fonts);
    String temporary = temporary_folder();
    const std::vector<String> own_folders{fonts, temporary.empty() ? String() : temporary + u"LumoraFonts"};
    std::vector<String> done;
    bool removed = true;
    for (const String& data : copies) {
        String copy = data.find(u'\\') == String::npos ? fonts + u"\\" + data : data;
        bool seen = false;
        for (const String& earlier : done) seen |= equals_ignoring_ascii_case(earlier, copy);
        if (seen) continue;
        done.push_back(copy);
        removed &= remove_copy(log, copy, own_folders, after);
    }
    if (!removed) return log_verdict(log, exit_failed, u"Failed: the registrations are removed, but a copy could not be deleted.");
    return log_verdict(log, exit_changed_restart, u"Uninstalled and verified under " + quoted(title) +
                                                      u"; a restart makes the change seen by every session.");
}
