#include <vector>

#include "deploy/command_line.h"
#include "deploy/deploy_jobs.h"
#include "deploy/ownership.h"
#include "fonts/file_title.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace {

// One font of the Font folder and where Typeloader.exe puts it.
struct PlannedFont {
    String source;
    String copy;        // in the Fonts folder, same name
    String value_name;  // "<title> <file title>"
    std::string bytes;  // the source's contents
};

bool is_font_signature(const std::string& bytes) {
    static const std::string signatures[] = {std::string("\0\1\0\0", 4), "true", "OTTO", "ttcf"};
    for (const std::string& signature : signatures) {
        if (bytes.starts_with(signature)) return true;
    }
    return false;
}

const RegistryValue* value_named(const std::vector<RegistryValue>& values, StringView name) {
    for (const RegistryValue& value : values) {
        if (equals_ignoring_ascii_case(value.name, name)) return &value;
    }
    return nullptr;
}

bool same_contents(const String& path, const std::string& bytes) {
    std::string found;
    PlatformStatus status = read_whole_file(path, found);
    return !status && found == bytes;
}

bool registered_as_copy(const std::vector<RegistryValue>& values, const PlannedFont& font) {
    const RegistryValue* value = value_named(values, font.value_name);
    return value && value->type == registry_string_type && equals_ignoring_ascii_case(registry_text(value->data), font.copy);
}

// Why an entry of the Font folder cannot be installed; empty when it can.
String entry_refusal(const FoundFile& found, std::string& bytes) {
    EntryKind kind = EntryKind::missing;
    if (PlatformStatus status = entry_kind(found.path, kind)) return u"it cannot be examined (error " + decimal_text(status) + u")";
    if (kind == EntryKind::folder) return u"it is a folder, not a font file";
    if (kind == EntryKind::reparse_point) return u"it is a link or another reparse point, not a plain file";
    if (kind == EntryKind::missing) return u"it is gone";
    if (found.name.size() < 4 || !equals_ignoring_ascii_case(StringView(found.name).substr(found.name.size() - 4), u".ttf")) {
        return u"its name does not end in .ttf (it matches *.ttf only through its short name)";
    }
    if (file_title(found.name).empty()) return u"its file title is empty";
    if (PlatformStatus status = read_whole_file(found.path, bytes)) {
        if (status == status_stopped_on_link) return u"it is a link or another reparse point, not a plain file";
        return u"it cannot be read (error " + decimal_text(status) + u")";
    }
    if (!is_font_signature(bytes)) return u"it is not a TrueType or OpenType font (by its first four bytes)";
    return String();
}

// Why the copy of a font would harm what is not this title's; empty when not.
String copy_refusal(const String& title, const PlannedFont& font, const std::vector<RegistryValue>& values) {
    EntryKind kind = EntryKind::missing;
    entry_kind(font.copy, kind);
    if (kind == EntryKind::folder || kind == EntryKind::reparse_point) {
        return font.copy + u" is a folder or a link, not a font file";
    }
    if (kind == EntryKind::file && !same_contents(font.copy, font.bytes)) {
        for (const RegistryValue& value : values) {
            if (!is_text_type(value.type)) continue;
            String data = registry_text(value.data);
            if (refers_to(data, font.copy) && !is_own_registration(title, value.name, data)) {
                return font.copy + u" holds another font, which the registration " + quoted(value.name) +
                       u" refers to; the copy would replace it";
            }
        }
    }
    const RegistryValue* existing = value_named(values, font.value_name);
    if (existing && existing->type != registry_string_type) {
        return quoted(font.value_name) + u" exists with another type than REG_SZ";
    }
    return String();
}

// Gives the names this run writes their values from before the run back:
// removed when new, old type and data when changed. Other names are left
// alone, since another program may change them meanwhile.
bool put_back(DeployLog& log, const std::vector<PlannedFont>& plan, const std::vector<RegistryValue>& before) {
    RegistryKey key;
    if (PlatformStatus status = open_font_registration_key(key)) {
        log_record(log, RecordType::error, u"Put back: the fonts key cannot be opened (error " + decimal_text(status) + u").");
        return false;
    }
    std::vector<RegistryValue> now;
    read_all_values(key, now);
    bool all = true;
    for (const PlannedFont& font : plan) {
        const RegistryValue* old = value_named(before, font.value_name);
        const RegistryValue* current = value_named(now, font.value_name);
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
                   u"Put back " + quoted(font.value_name) + u": " + what +
                       (status ? u": FAILED (error " + decimal_text(status) + u")" : String(u": OK")));
    }
    return all;
}

enum class CopyState { identical, in_use, failed };

// A copy still different after the run is copied once more here: a font in
// use refuses that with an in-use status (a sharing violation, or a mapped
// file). Any other outcome than identical bytes is a failure.
CopyState check_copy(DeployLog& log, const PlannedFont& font) {
    const String what = u"Verify copy " + font.copy + u" identical to " + font.source;
    if (same_contents(font.copy, font.bytes)) {
        log_record(log, RecordType::information, what + u": OK");
        return CopyState::identical;
    }
    PlatformStatus status = copy_file_replacing(font.source, font.copy);
    if (!status && same_contents(font.copy, font.bytes)) {
        log_record(log, RecordType::warning, what + u": OK after a second copy");
        return CopyState::identical;
    }
    if (is_in_use_status(status)) {
        log_record(log, RecordType::warning, what + u": in use (error " + decimal_text(status) + u")");
        return CopyState::in_use;
    }
    log_record(log, RecordType::error, what + u": FAILED" + (status ? u" (error " + decimal_text(status) + u")" : String()));
    return CopyState::failed;
}

// The new file staged beside a copy in use and put in its place at the next
// restart, as Windows Installer does for files in use. Done only once all else
// is verified, so that a failed install schedules nothing.
bool stage_for_restart(DeployLog& log, const PlannedFont& font) {
    const String staged = staged_replacement(font.copy);
    PlatformStatus status = copy_file_replacing(font.source, staged);
    if (!status && !same_contents(staged, font.bytes)) status = status_invalid_function;  // staged, but not identical
    if (!status) status = replace_at_restart(staged, font.copy);
    if (status) {
        log_record(log, RecordType::error, u"Copy " + font.copy + u" is in use and its replacement could not be scheduled (error " +
                                               decimal_text(status) + u").");
        return false;
    }
    log_record(log, RecordType::warning, u"Copy " + font.copy + u" is in use: the new font is staged as " + staged +
                                             u" and replaces it at the next restart.");
    return true;
}

}  // namespace

int deploy_install(DeployLog& log, const String& title) {
    const String source_folder = executable_folder() + u"\\Font";
    log_record(log, RecordType::information, u"Install of the fonts in " + source_folder + u" under the title " + quoted(title));
    String fonts;
    if (PlatformStatus status = system_fonts_folder(fonts)) {
        log_record(log, RecordType::error, u"Refused: the Fonts folder is unknown (error " + decimal_text(status) + u").");
        return log_verdict(log, exit_failed, u"Refused: nothing was changed.");
    }

    std::vector<String> refusals;
    std::vector<PlannedFont> plan;
    std::vector<FoundFile> found_entries;
    find_files(source_folder + u"\\*.ttf", [&](const FoundFile& found) { found_entries.push_back(found); });
    if (found_entries.empty()) refusals.push_back(source_folder + u" holds no *.ttf entry");
    for (const FoundFile& found : found_entries) {
        PlannedFont font{found.path, fonts + u"\\" + found.name, title + u" " + file_title(found.name), {}};
        String refusal = entry_refusal(found, font.bytes);
        if (!refusal.empty()) {
            refusals.push_back(found.path + u": " + refusal);
            continue;
        }
        log_record(log, RecordType::information, u"Check " + found.path + u": a font, to be copied to " + font.copy +
                                                     u" and registered as " + quoted(font.value_name) + u": OK");
        plan.push_back(font);
    }

    RegistryKey key;
    std::vector<RegistryValue> before;
    PlatformStatus status = open_font_registration_key(key);
    if (!status) status = read_all_values(key, before);
    if (status) {
        log_record(log, RecordType::error, u"Refused: the fonts key cannot be read (error " + decimal_text(status) + u").");
        return log_verdict(log, exit_failed, u"Refused: nothing was changed.");
    }
    for (const PlannedFont& font : plan) {
        String refusal = copy_refusal(title, font, before);
        if (refusal.empty()) {
            log_record(log, RecordType::information, u"Check " + font.copy + u": replaces no other registration's font: OK");
        } else {
            refusals.push_back(refusal);
        }
    }
    // The guard of a later uninstall: what it would take must all be ours.
    bool guarded = true;
    for (const Removal& removal : uninstall_removals(key, before, title)) {
        if (removal.own) continue;
        guarded = false;
        refusals.push_back(quoted(removal.name) + u" (" + removal.data +
                           u") is not this title's registration, and an uninstall of " + quoted(title) + u" would remove it");
    }
    if (guarded) {
        log_record(log, RecordType::information, u"Check title " + quoted(title) +
                                                     u": an uninstall would remove only this title's registrations: OK");
    }
    key.reset();
    if (!refusals.empty()) {
        for (const String& refusal : refusals) log_record(log, RecordType::error, u"Refused: " + refusal + u".");
        return log_verdict(log, exit_failed, u"Refused: nothing was changed.");
    }

    bool installed = true;
    for (const PlannedFont& font : plan) installed &= same_contents(font.copy, font.bytes) && registered_as_copy(before, font);
    if (installed) {
        return log_verdict(log, exit_nothing_to_change,
                           u"Nothing to change: every font is installed byte-identical and registered under " + quoted(title) +
                               u"; Typeloader.exe was not run.");
    }

    TypeloaderRun run = run_typeloader_job(log, false, title);
    bool verified = verify_typeloader_run(log, run, u"Install Font : " + title, u"Install FAIL : ");
    std::vector<const PlannedFont*> in_use;
    if (run.started && verified) {
        for (const PlannedFont& font : plan) {
            CopyState state = check_copy(log, font);
            if (state == CopyState::in_use) in_use.push_back(&font);
            verified &= state != CopyState::failed;
        }
    }
    if (run.started) {
        std::vector<RegistryValue> after;
        status = open_font_registration_key(key);
        if (!status) status = read_all_values(key, after);
        key.reset();
        for (const PlannedFont& font : plan) {
            bool registered = !status && registered_as_copy(after, font);
            log_record(log, registered ? RecordType::information : RecordType::error,
                       u"Verify registration " + quoted(font.value_name) + u" holds " + font.copy +
                           (registered ? u": OK" : u": FAILED"));
            verified &= registered;
        }
    }
    if (verified) {
        std::vector<const PlannedFont*> staged;
        for (const PlannedFont* font : in_use) {
            if (!stage_for_restart(log, *font)) {
                verified = false;
                break;
            }
            staged.push_back(font);
        }
        // A failed install schedules nothing: with its staged file gone, a
        // replacement already scheduled finds nothing to move at the restart.
        for (const PlannedFont* font : verified ? std::vector<const PlannedFont*>() : staged) {
            const String staged_copy = staged_replacement(font->copy);
            PlatformStatus status = delete_file(staged_copy);
            log_record(log, status ? RecordType::error : RecordType::warning,
                       u"Staged " + staged_copy + (status ? u" could not be removed (error " + decimal_text(status) + u")."
                                                          : String(u" removed: its replacement at the restart is void.")));
        }
    }
    if (!verified) {
        bool restored = put_back(log, plan, before);
        return log_verdict(log, exit_failed, restored ? u"Failed: the fonts key is put back as it was; the copies stay."
                                                      : u"Failed, and the fonts key could not be put back in full.");
    }
    return log_verdict(log, exit_changed_restart, u"Installed and verified under " + quoted(title) +
                                                      u"; a restart makes the fonts seen by every session.");
}
