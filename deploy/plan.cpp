#include "deploy/plan.h"

#include <algorithm>
#include <map>
#include <set>

#include "deploy/package_entry.h"
#include "deploy/registry_names.h"
#include "deploy/registered_path.h"
#include "fonts/typeloader_contract.h"

CopyNames copy_names_of(const std::vector<FontFacts>& fonts) {
    CopyNames copies;
    for (const FontFacts& font : fonts) {
        copies.paths.insert(comparison_key(font.copy));
        copies.names.insert(comparison_key(file_name_of(font.copy)));
    }
    return copies;
}

bool needs_identity(StringView path, bool refused, const CopyNames& copies) {
    if (refused) return true;
    if (copies.paths.count(comparison_key(path))) return false;
    const StringView name = file_name_of(path);
    return name.find(u'~') != StringView::npos || copies.names.count(comparison_key(name)) > 0;
}

namespace {

// "\??\C:\x" is the Win32 path "C:\x"; "\??\UNC\server\share" is "\\server\share".
String win32_path(StringView path) {
    if (path.starts_with(u"\\??\\UNC\\")) return u"\\\\" + String(path.substr(8));
    if (path.starts_with(u"\\??\\")) return String(path.substr(4));
    return String(path);
}

}  // namespace

std::vector<PendingOperation> parse_pending_operations(StringView units) {
    std::vector<String> strings;
    for (size_t at = 0; at < units.size();) {
        size_t end = units.find(u'\0', at);
        if (end == StringView::npos) end = units.size();
        strings.emplace_back(units.substr(at, end - at));
        at = end + 1;
    }
    std::vector<PendingOperation> operations;
    // An empty source ends the list: it is the terminator's null.
    for (size_t i = 0; i + 1 < strings.size() && !strings[i].empty(); i += 2) {
        StringView to = strings[i + 1];
        const bool replace = to.starts_with(u'!');
        if (replace) to.remove_prefix(1);
        operations.push_back({win32_path(strings[i]), win32_path(to), replace});
    }
    return operations;
}

namespace {

size_t index_of(const std::vector<NearbyFile>& files, StringView path) {
    for (size_t i = 0; i < files.size(); ++i) {
        if (same_registry_name(files[i].path, path)) return i;
    }
    return files.size();
}

bool is_present(FileState state) { return state != FileState::missing; }

// The operations' order decides: a later move onto a copy wins over an
// earlier deletion, and a move whose source is gone does nothing.
std::vector<NearbyFile> run_pending(std::vector<NearbyFile> files, const std::vector<PendingOperation>& pending) {
    for (const PendingOperation& operation : pending) {
        size_t from = index_of(files, operation.from);
        // A file nobody measured: something is there, with bytes unknown.
        if (from == files.size()) files.push_back({operation.from, FileState::other});
        if (operation.to.empty()) {
            files[from].state = FileState::missing;
            continue;
        }
        if (!is_present(files[from].state)) continue;
        size_t to = index_of(files, operation.to);
        if (to == files.size()) files.push_back({operation.to, FileState::missing});
        if (is_present(files[to].state) && !operation.replace_existing) continue;
        files[to].state = files[from].state;
        files[from].state = FileState::missing;
    }
    return files;
}

// The copy and its staged files; a staged name that an operation uses but
// the snapshot did not find is missing.
std::vector<NearbyFile> files_of(const FontFacts& font, const std::vector<PendingOperation>& pending) {
    std::vector<NearbyFile> files{{font.copy, font.copy_state}};
    files.insert(files.end(), font.staged.begin(), font.staged.end());
    for (const PendingOperation& operation : pending) {
        if (is_staged_name_of(operation.from, font.copy) && index_of(files, operation.from) == files.size()) {
            files.push_back({operation.from, FileState::missing});
        }
    }
    return files;
}

bool is_pending_source(const std::vector<PendingOperation>& pending, StringView path) {
    for (const PendingOperation& operation : pending) {
        if (same_registry_name(operation.from, path)) return true;
    }
    return false;
}

bool is_named_by(const std::vector<PendingOperation>& pending, StringView path) {
    for (const PendingOperation& operation : pending) {
        if (same_registry_name(operation.from, path) || same_registry_name(operation.to, path)) return true;
    }
    return false;
}

// The fonts key looked up by name and by the file a value names, as Windows
// compares both: one pass over the values, however many fonts ask. A file
// with an identity read is found by it; paths and identities never share a map.
struct ValueIndex {
    std::map<String, const FontValue*> by_name;
    std::map<String, std::vector<const FontValue*>> by_path;
    std::map<FileIdentity, std::vector<const FontValue*>> by_identity;
};

ValueIndex index_values(const DeploySnapshot& snapshot) {
    ValueIndex index;
    for (const FontValue& value : snapshot.values) {
        index.by_name.emplace(comparison_key(value.name), &value);
        if (!is_text_type(value.type)) continue;
        if (value.file_identity) {
            index.by_identity[*value.file_identity].push_back(&value);
        } else {
            const String path = value.file_path.empty() ? registered_file(snapshot.fonts_folder, value.data) : value.file_path;
            index.by_path[comparison_key(path)].push_back(&value);
        }
    }
    return index;
}

const FontValue* value_named(const ValueIndex& index, StringView name) {
    auto found = index.by_name.find(comparison_key(name));
    return found == index.by_name.end() ? nullptr : found->second;
}

// The values whose data names the font's copy, under any spelling.
std::vector<const FontValue*> values_naming(const ValueIndex& index, const FontFacts& font) {
    if (font.copy_identity) {
        auto found = index.by_identity.find(*font.copy_identity);
        return found == index.by_identity.end() ? std::vector<const FontValue*>() : found->second;
    }
    auto found = index.by_path.find(comparison_key(font.copy));
    return found == index.by_path.end() ? std::vector<const FontValue*>() : found->second;
}

bool registered_as_copy(const DeploySnapshot& snapshot, const ValueIndex& index, const FontFacts& font) {
    const FontValue* value = value_named(index, registration_name(snapshot.title, font.name));
    if (!value || value->type != registration_type) return false;
    for (const FontValue* naming : values_naming(index, font)) {
        if (naming == value) return true;
    }
    return false;
}

}  // namespace

std::vector<PendingOperation> operations_touching(const std::vector<FontFacts>& fonts,
                                                  const std::vector<PendingOperation>& pending) {
    std::set<String> copies;
    for (const FontFacts& font : fonts) copies.insert(comparison_key(font.copy));
    std::set<String> used;  // paths a later kept operation names
    auto ours = [&](StringView path) {
        return !path.empty() && (copies.count(comparison_key(staged_base(path))) || used.count(comparison_key(path)));
    };
    std::vector<bool> kept(pending.size());
    for (size_t i = pending.size(); i-- > 0;) {
        if (!ours(pending[i].from) && !ours(pending[i].to)) continue;
        kept[i] = true;
        used.insert(comparison_key(pending[i].from));
        if (!pending[i].to.empty()) used.insert(comparison_key(pending[i].to));
    }
    std::vector<PendingOperation> touching;
    for (size_t i = 0; i < pending.size(); ++i) {
        if (kept[i]) touching.push_back(pending[i]);
    }
    return touching;
}

namespace {

// The state of each path after the pending operations have run at the
// restart, from the states they have now.
std::vector<NearbyFile> after_restart(const std::vector<NearbyFile>& now, const std::vector<PendingOperation>& pending) {
    std::vector<NearbyFile> files = run_pending(now, pending);
    files.resize(now.size());
    return files;
}

}  // namespace

namespace {

// The deploy's own operations end the first list, which MoveFileExW writes.
void schedule(std::vector<PendingOperation>& pending, const Action& staging) {
    auto second = std::find_if(pending.begin(), pending.end(), [](const PendingOperation& operation) { return operation.second_list; });
    pending.insert(second, {staging.path, staging.target, true});
}

}  // namespace

FileState copy_after_restart(const FontFacts& font, const std::vector<PendingOperation>& pending) {
    return after_restart(files_of(font, pending), pending).front().state;
}

Action staging_for(const FontFacts& font, const std::vector<PendingOperation>& pending) {
    // A staged file that a pending move will bring onto the copy last only
    // needs the font's bytes: no second operation.
    for (size_t i = 0; i < font.staged.size(); ++i) {
        if (!is_pending_source(pending, font.staged[i].path)) continue;
        FontFacts rewritten = font;
        rewritten.staged[i].state = FileState::same_as_source;
        if (copy_after_restart(rewritten, pending) == FileState::same_as_source) {
            return {.kind = ActionKind::stage, .path = font.staged[i].path, .source = font.source, .target = font.copy, .digest = font.digest};
        }
    }
    String staged = font.copy + String(staged_suffix);
    for (uint64_t number = 2; is_named_by(pending, staged); ++number) {
        staged = font.copy + String(staged_suffix) + u"." + decimal_text(number);
    }
    return {.kind = ActionKind::stage, .path = staged, .source = font.source, .target = font.copy, .digest = font.digest, .schedule = true};
}

namespace {

// Why the font cannot be installed as it is, if it cannot.
void add_font_refusals(const DeploySnapshot& snapshot, const ValueIndex& index, const FontFacts& font, std::vector<String>& refusals) {
    const String name = registration_name(snapshot.title, font.name);
    if (!font.refusal.empty()) {
        refusals.push_back(snapshot.font_folder + u"\\" + font.name + u": " + font.refusal);
        return;
    }
    if (font.copy_state == FileState::folder || font.copy_state == FileState::link) {
        refusals.push_back(font.copy + u" is a folder or a link, not a font file");
        return;
    }
    if (font.copy_state == FileState::unreadable) {
        refusals.push_back(font.copy + u" cannot be read");
        return;
    }
    // Only this title's own older copy may be replaced; one the restart
    // deletes anyway is replaced only after that, by a staged file.
    if (font.copy_state == FileState::other && copy_after_restart(font, snapshot.pending) != FileState::missing) {
        bool own = false;
        for (const FontValue* value : values_naming(index, font)) {
            if (!is_own_registration(snapshot.title, value->name, value->data)) {
                refusals.push_back(font.copy + u" holds another font, which the registration " + quoted(value->name) +
                                        u" refers to; the copy would replace it");
                own = true;  // refused once is enough
                break;
            }
            own = true;
        }
        if (!own) refusals.push_back(font.copy + u" holds another font that no registration of this title refers to");
    }
    const FontValue* existing = value_named(index, name);
    if (existing && existing->type != registration_type) {
        refusals.push_back(quoted(name) + u" exists with another type than REG_SZ");
    } else if (existing && !is_own_registration(snapshot.title, existing->name, existing->data)) {
        refusals.push_back(quoted(existing->name) + u" (" + existing->data + u") is not this title's registration, and " +
                                quoted(name) + u" would replace it");
    }
}

std::vector<String> install_refusals(const DeploySnapshot& snapshot, const ValueIndex& index) {
    std::vector<String> refusals;
    if (snapshot.fonts.empty()) refusals.push_back(snapshot.font_folder + u" holds no *.ttf entry");
    if (!snapshot.values_readable) refusals.push_back(u"the fonts key cannot be read");
    for (const FontFacts& font : snapshot.fonts) add_font_refusals(snapshot, index, font, refusals);
    // The guard of a later uninstall: what it would take must all be ours.
    for (const FontValue& value : snapshot.values) {
        if (uninstall_takes(snapshot.title, value.name, value.type) &&
            !is_own_registration(snapshot.title, value.name, value.data)) {
            refusals.push_back(quoted(value.name) + u" (" + value.data + u") is not this title's registration, and an uninstall of " +
                                    quoted(snapshot.title) + u" would remove it");
        }
    }
    return refusals;
}

}  // namespace

std::vector<Action> plan_entry_put_back(const DeploySnapshot& before) {
    const PackageState& package = before.package;
    if (package.entry_status) return {{.kind = ActionKind::remove_entry, .path = package.entry_key}};
    return {{.kind = ActionKind::write_entry, .path = package.entry_key, .title = before.title, .values = package.entry}};
}

namespace {

// This title's copy: a removed registration names it, or it (or a staged
// replacement of it) holds the bundle's own bytes, left by an install that
// failed; and nothing else names it, and it lies in a folder of ours.
bool is_removable_copy(const DeploySnapshot& snapshot, const ValueIndex& index, const FontFacts& font,
                       const std::vector<String>& folders) {
    bool named = false, referred = false;
    for (const FontValue* value : values_naming(index, font)) {
        (uninstall_takes(snapshot.title, value->name, value->type) ? named : referred) = true;
    }
    bool ours = named || font.copy_state == FileState::same_as_source;
    for (const NearbyFile& staged : font.staged) ours |= is_present(staged.state);
    bool inside = false;
    for (const String& folder : folders) inside |= !folder.empty() && is_inside_folder(font.copy, folder);
    return ours && inside && !referred && font.copy_state != FileState::folder && font.copy_state != FileState::link;
}

// The staged files and copies of removable copies, each deleted: a staged
// replacement first, as it would bring its copy back at the restart; a copy
// another program holds goes at the restart.
std::vector<Action> copy_removals(const DeploySnapshot& snapshot, const ValueIndex& index, const std::vector<FontFacts>& fonts,
                                  const std::vector<String>& folders) {
    std::vector<Action> staged_files, copies;
    for (const FontFacts& font : fonts) {
        if (!is_removable_copy(snapshot, index, font, folders)) continue;
        for (const NearbyFile& staged : font.staged) {
            if (is_present(staged.state)) staged_files.push_back({.kind = ActionKind::void_staged, .path = staged.path});
        }
        if (!is_present(font.copy_state)) continue;
        FontFacts voided = font;
        for (NearbyFile& staged : voided.staged) staged.state = FileState::missing;
        if (!is_present(copy_after_restart(voided, snapshot.pending))) continue;
        copies.push_back(font.copy_in_use ? Action{.kind = ActionKind::delete_at_restart, .path = font.copy, .refused_now = status_sharing_violation}
                                          : Action{.kind = ActionKind::delete_copy, .path = font.copy});
    }
    staged_files.insert(staged_files.end(), copies.begin(), copies.end());
    return staged_files;
}

// The title's registrations whose font the bundle no longer has.
std::vector<Action> dropped_registrations(const DeploySnapshot& snapshot) {
    std::set<String> kept;
    for (const FontFacts& font : snapshot.fonts) kept.insert(comparison_key(registration_name(snapshot.title, font.name)));
    std::vector<Action> drops;
    for (const FontValue& value : snapshot.values) {
        if (uninstall_takes(snapshot.title, value.name, value.type) && is_own_registration(snapshot.title, value.name, value.data) &&
            !kept.count(comparison_key(value.name))) {
            drops.push_back({.kind = ActionKind::remove_registration, .title = value.name, .value = {value.name, value.type, value.raw}});
        }
    }
    return drops;
}

uint64_t font_bytes(const DeploySnapshot& snapshot) {
    uint64_t bytes = 0;
    for (const FontFacts& font : snapshot.fonts) bytes += font.bytes;
    return bytes;
}

}  // namespace

std::vector<RegistryValue> expected_entry(const DeploySnapshot& snapshot, const InstallRequest& request) {
    return entry_values({snapshot.title, request.version, request.install_date, font_bytes(snapshot), snapshot.package.kept.deploy_program});
}

std::vector<String> package_refusals(const PackageState& package) {
    std::vector<String> refusals;
    if (package.entry_status && package.entry_status != status_file_not_found) {
        refusals.push_back(with_error(u"the Apps & features entry " + package.entry_key + u" cannot be read", package.entry_status));
    } else if (!package.entry_status && !is_own_entry(package.entry)) {
        refusals.push_back(u"the Apps & features entry " + package.entry_key + u" is another product's: it lacks the value " +
                           String(own_entry_mark));
    }
    if (!package.kept_state.refusal.empty()) refusals.push_back(package.kept_state.refusal);
    return refusals;
}

namespace {

// The kept copy and the entry, when the run changes anything else or they
// are not as the install would make them.
std::vector<Action> package_actions(const DeploySnapshot& snapshot, const InstallRequest& request, bool fonts_change) {
    const PackageState& package = snapshot.package;
    const std::vector<RegistryValue> expected = expected_entry(snapshot, request);
    const bool keep = package.kept_state.deploy_program != FileState::same_as_source || package.kept_state.typeloader != FileState::same_as_source;
    const bool entry_differs = package.entry_status || !entry_differences(expected, package.entry).empty();
    std::vector<Action> actions;
    if (!fonts_change && !keep && !entry_differs) return actions;
    if (keep) {
        actions.push_back({.kind = ActionKind::keep_programs, .path = package.kept.folder, .source = package.deploy_source, .digest = package.deploy_digest,
                           .typeloader_digest = package.typeloader_digest});
    }
    actions.push_back({.kind = ActionKind::write_entry, .path = package.entry_key, .title = snapshot.title, .values = expected});
    return actions;
}

}  // namespace

InstallPlan plan_install(const DeploySnapshot& snapshot, const InstallRequest& request) {
    InstallPlan plan;
    const ValueIndex index = index_values(snapshot);
    plan.refusals = install_refusals(snapshot, index);
    const auto held = std::count_if(snapshot.fonts.begin(), snapshot.fonts.end(), [](const FontFacts& font) { return font.held; });
    plan.busy = held > 0 && plan.refusals.size() == static_cast<size_t>(held);
    for (const String& refusal : package_refusals(snapshot.package)) plan.refusals.push_back(refusal);
    if (!plan.refusals.empty()) return plan;
    bool run = false;
    for (const FontFacts& font : snapshot.fonts) {
        const bool registered = registered_as_copy(snapshot, index, font);
        run |= !registered;
        plan.untouched.push_back(registered && font.copy_state == FileState::same_as_source &&
                                 copy_after_restart(font, snapshot.pending) == FileState::same_as_source);
        for (const NearbyFile& staged : font.staged) {
            if (is_present(staged.state) && !is_pending_source(snapshot.pending, staged.path)) {
                plan.actions.push_back({.kind = ActionKind::remove_leftover, .path = staged.path});
            }
        }
    }
    const Repair expected = plan_repair(snapshot);
    // A copy that is not right now is Typeloader.exe's to make.
    if (run || !expected.copies.empty()) plan.actions.push_back({.kind = ActionKind::run_typeloader, .title = snapshot.title});
    plan.stagings = expected.stagings;
    plan.drops = dropped_registrations(snapshot);
    plan.housekeeping = copy_removals(snapshot, index, snapshot.dropped, request.own_folders);
    plan.package = package_actions(snapshot, request, !plan.actions.empty() || !plan.stagings.empty() || !plan.drops.empty() ||
                                                          !plan.housekeeping.empty());
    // Judged with the stagings, since the second list could undo one, or not.
    plan.refusals = unforeseen_restart(with_stagings(snapshot, plan.stagings));
    return plan;
}

Outcome install_outcome(const InstallPlan& plan, const DeploySnapshot& before, bool after_unfinished) {
    if (plan.nothing_to_change()) return restart_pending(before) ? Outcome::restart : after_unfinished ? Outcome::changed : Outcome::unchanged;
    return plan.stagings.empty() ? Outcome::changed : Outcome::restart;
}

std::vector<Action> planned_actions(const InstallPlan& plan) {
    std::vector<Action> all = plan.actions;
    for (const std::vector<Action>* part : {&plan.stagings, &plan.drops, &plan.package, &plan.housekeeping}) {
        all.insert(all.end(), part->begin(), part->end());
    }
    return all;
}

std::vector<String> package_mismatches(const InstallPlan& plan, const std::vector<RegistryValue>& values, const PackageState& package) {
    std::vector<String> mismatches;
    std::set<String> names;
    for (const RegistryValue& value : values) names.insert(comparison_key(value.name));
    for (const Action& drop : plan.drops) {
        if (names.count(comparison_key(drop.value.name))) mismatches.push_back(u"registration " + quoted(drop.value.name) + u" is still there");
    }
    for (const Action& action : plan.package) {
        if (action.kind == ActionKind::keep_programs) {
            if (package.kept_state.deploy_program != FileState::same_as_source) mismatches.push_back(package.kept.deploy_program + u" is not this program");
            if (package.kept_state.typeloader != FileState::same_as_source) mismatches.push_back(package.kept.typeloader + u" is not the checked Typeloader.exe");
        } else if (package.entry_status) {
            mismatches.push_back(with_error(u"the Apps & features entry " + action.path + u" cannot be read", package.entry_status));
        } else {
            for (const String& name : entry_differences(action.values, package.entry)) {
                mismatches.push_back(u"the Apps & features entry's value " + quoted(name) + u" is not as written");
            }
        }
    }
    return mismatches;
}

Repair plan_repair(const DeploySnapshot& after) {
    Repair repair;
    std::vector<PendingOperation> pending = after.pending;
    for (const FontFacts& font : after.fonts) {
        if (copy_after_restart(font, pending) == FileState::same_as_source) continue;
        if (font.copy_state != FileState::same_as_source && !font.copy_tried && !font.copy_in_use) {
            repair.copies.push_back({.kind = ActionKind::copy_again, .path = font.copy, .source = font.source});
            continue;
        }
        const Action staging = staging_for(font, pending);
        if (staging.schedule) schedule(pending, staging);
        repair.stagings.push_back(staging);
    }
    return repair;
}

DeploySnapshot with_stagings(DeploySnapshot snapshot, const std::vector<Action>& stagings) {
    for (const Action& staging : stagings) {
        for (FontFacts& font : snapshot.fonts) {
            if (!same_registry_name(font.copy, staging.target)) continue;
            std::erase_if(font.staged, [&](const NearbyFile& file) { return same_registry_name(file.path, staging.path); });
            font.staged.push_back({staging.path, FileState::same_as_source});
        }
        if (staging.schedule) schedule(snapshot.pending, staging);
    }
    return snapshot;
}

std::vector<String> install_mismatches(const DeploySnapshot& after) {
    std::vector<String> mismatches;
    const ValueIndex index = index_values(after);
    if (!after.values_readable) mismatches.push_back(u"the fonts key cannot be read");
    for (const String& reason : unforeseen_restart(after)) mismatches.push_back(reason);
    for (const FontFacts& font : after.fonts) {
        const String name = registration_name(after.title, font.name);
        if (!registered_as_copy(after, index, font)) mismatches.push_back(u"registration " + quoted(name) + u" does not hold " + font.copy);
        FileState state = copy_after_restart(font, after.pending);
        if (state != FileState::same_as_source) {
            mismatches.push_back(font.copy + (font.copy_state == FileState::same_as_source
                                                  ? u" is the font now, but not after the restart"
                                                  : u" is not the font, now nor after the restart"));
        }
    }
    return mismatches;
}

std::vector<String> unplanned_registrations(const DeploySnapshot& before, const DeploySnapshot& after) {
    const ValueIndex earlier = index_values(before);
    std::map<String, bool> planned;
    for (const FontFacts& font : before.fonts) planned[comparison_key(registration_name(before.title, font.name))] = true;
    const String title_key = comparison_key(before.title);
    std::vector<String> unplanned;
    for (const FontValue& value : after.values) {
        const String key = comparison_key(value.name);
        if (key.starts_with(title_key) && !planned.count(key) && !value_named(earlier, value.name)) unplanned.push_back(value.name);
    }
    return unplanned;
}

std::vector<String> unforeseen_restart(const DeploySnapshot& snapshot) {
    std::vector<String> reasons;
    for (const UnreadPending& unread : snapshot.pending_unread) {
        reasons.push_back(with_error(u"the restart-time operations in " + unread.value + u" cannot be read", unread.status));
    }
    std::vector<PendingOperation> second_first = snapshot.pending;
    std::stable_partition(second_first.begin(), second_first.end(), [](const PendingOperation& operation) { return operation.second_list; });
    for (const FontFacts& font : snapshot.fonts) {
        const std::vector<NearbyFile> now = files_of(font, snapshot.pending);
        const std::vector<NearbyFile> first = after_restart(now, snapshot.pending), second = after_restart(now, second_first);
        for (size_t i = 0; i < now.size(); ++i) {
            if (first[i].state == second[i].state) continue;
            reasons.push_back(now[i].path + u" after the restart depends on which of PendingFileRenameOperations and "
                                            u"PendingFileRenameOperations2 runs first, which Windows does not document");
        }
    }
    return reasons;
}

bool restart_pending(const DeploySnapshot& snapshot) {
    for (const FontFacts& font : snapshot.fonts) {
        const std::vector<NearbyFile> now = files_of(font, snapshot.pending);
        const std::vector<NearbyFile> later = after_restart(now, snapshot.pending);
        for (size_t i = 0; i < now.size(); ++i) {
            if (later[i].state != now[i].state) return true;
        }
    }
    return false;
}

std::vector<Action> plan_keep_aside(const DeploySnapshot& before, const String& aside_folder) {
    std::vector<Action> actions;
    for (const FontFacts& font : before.fonts) {
        if (font.copy_state == FileState::other) {
            actions.push_back({.kind = ActionKind::keep_aside, .path = font.copy, .target = aside_folder + u"\\" + font.name});
        }
    }
    return actions;
}

std::vector<Action> plan_put_back(const DeploySnapshot& before, const DeploySnapshot& after,
                                  const std::optional<std::vector<RegistryValue>>& now, const std::vector<String>& wrote,
                                  const String& aside_folder) {
    std::vector<Action> actions;
    std::vector<String> names;
    for (const FontFacts& font : before.fonts) names.push_back(registration_name(before.title, font.name));
    for (const String& name : unplanned_registrations(before, after)) names.push_back(name);
    for (const Action& drop : dropped_registrations(before)) names.push_back(drop.value.name);
    std::map<String, const RegistryValue*> current;
    if (now) {
        for (const RegistryValue& value : *now) current.emplace(comparison_key(value.name), &value);
    } else {
        names.clear();  // no value is touched
    }
    const ValueIndex earlier = index_values(before);
    for (const String& name : names) {
        const FontValue* old = value_named(earlier, name);
        auto found = current.find(comparison_key(name));
        const RegistryValue* value = found == current.end() ? nullptr : found->second;
        if (old && !(value && value->type == old->type && value->data == old->raw)) {
            actions.push_back({.kind = ActionKind::restore_value, .title = name, .value = {old->name, old->type, old->raw}});
        } else if (!old && value) {
            actions.push_back({.kind = ActionKind::remove_value, .title = name, .value = {value->name}});
        }
    }
    // A staged file gone voids its move at the restart.
    for (const String& path : wrote) actions.push_back({.kind = ActionKind::remove_file, .path = path});
    std::map<String, const FontFacts*> copies_before;
    for (const FontFacts& font : before.fonts) copies_before.emplace(comparison_key(font.copy), &font);
    for (const FontFacts& font : after.fonts) {
        auto found = copies_before.find(comparison_key(font.copy));
        if (found == copies_before.end()) continue;
        const FileState was = found->second->copy_state;
        if (was == FileState::missing && font.copy_state != FileState::missing) {
            actions.push_back({.kind = ActionKind::remove_file, .path = font.copy});
        } else if (was == FileState::other && font.copy_state != FileState::other) {
            actions.push_back({.kind = ActionKind::restore_file, .path = font.copy, .source = aside_folder + u"\\" + found->second->name});
        }
    }
    return actions;
}


UninstallPlan plan_uninstall(const DeploySnapshot& snapshot, const std::vector<String>& folders) {
    UninstallPlan plan;
    const ValueIndex index = index_values(snapshot);
    if (!snapshot.values_readable) {
        plan.refusals.push_back(u"the fonts key cannot be read");
        return plan;
    }
    plan.refusals = unforeseen_restart(snapshot);
    for (const String& refusal : package_refusals(snapshot.package)) plan.refusals.push_back(refusal);
    for (const FontValue& value : snapshot.values) {
        if (!uninstall_takes(snapshot.title, value.name, value.type)) continue;
        if (is_own_registration(snapshot.title, value.name, value.data)) {
            plan.removals.push_back(value.name);
        } else {
            plan.refusals.push_back(quoted(value.name) + u" (" + value.data +
                                    u") is not this title's registration, and Typeloader.exe would remove it");
        }
    }
    if (!plan.refusals.empty()) return plan;
    if (!plan.removals.empty()) plan.registrations.push_back({.kind = ActionKind::run_typeloader, .uninstall = true, .title = snapshot.title});
    plan.files = copy_removals(snapshot, index, snapshot.fonts, folders);
    const PackageState& package = snapshot.package;
    if (!package.entry_status) plan.package.push_back({.kind = ActionKind::remove_entry, .path = package.entry_key});
    // A folder left with only a program renamed aside goes at the restart already.
    if (package.kept_state.deploy_program != FileState::missing || package.kept_state.typeloader != FileState::missing) {
        plan.package.push_back({.kind = ActionKind::remove_kept_copy, .path = package.kept.folder});
    }
    return plan;
}

std::vector<Action> planned_actions(const UninstallPlan& plan) {
    std::vector<Action> all = plan.registrations;
    for (const std::vector<Action>* part : {&plan.files, &plan.package}) all.insert(all.end(), part->begin(), part->end());
    return all;
}

std::optional<Action> deletion_at_restart(const Action& deletion, PlatformStatus refused_now) {
    if (!is_in_use_status(refused_now) && refused_now != status_access_denied) return std::nullopt;
    return Action{.kind = ActionKind::delete_at_restart, .path = deletion.path, .refused_now = refused_now};
}

std::vector<String> registrations_left(const std::vector<String>& removals, const DeploySnapshot& after) {
    std::vector<String> mismatches;
    const ValueIndex index = index_values(after);
    if (!after.values_readable) mismatches.push_back(u"the fonts key cannot be read");
    for (const String& name : removals) {
        if (value_named(index, name)) mismatches.push_back(u"registration " + quoted(name) + u" is still there");
    }
    return mismatches;
}

std::vector<String> uninstall_mismatches(const UninstallPlan& plan, const DeploySnapshot& after) {
    std::vector<String> mismatches = registrations_left(plan.removals, after);
    for (const String& reason : unforeseen_restart(after)) mismatches.push_back(reason);
    std::set<String> deleted, voided;
    for (const Action& action : plan.files) {
        (action.kind == ActionKind::void_staged ? voided : deleted).insert(comparison_key(action.path));
    }
    for (const FontFacts& font : after.fonts) {
        if (deleted.count(comparison_key(font.copy)) && is_present(copy_after_restart(font, after.pending))) {
            mismatches.push_back(font.copy + u" is still there after the restart");
        }
        for (const NearbyFile& staged : font.staged) {
            if (voided.count(comparison_key(staged.path)) && is_present(staged.state)) mismatches.push_back(staged.path + u" is still there");
        }
    }
    return mismatches;
}
