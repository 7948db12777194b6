#include "deploy/plan.h"

#include <algorithm>
#include <map>
#include <set>

#include "deploy/registry_names.h"
#include "deploy/registered_path.h"
#include "fonts/typeloader_contract.h"

bool is_text_type(uint32_t type) { return type == 1 || type == 2; }

String comparison_key(StringView text) {
    String key(text);
    for (char16_t& unit : key) unit = registry_upcase(unit);
    return key;
}

bool same_path(StringView left, StringView right) { return same_registry_name(left, right); }

bool same_value_name(StringView left, StringView right) { return same_registry_name(left, right); }

bool is_own_registration(StringView title, StringView name, StringView data) {
    if (name.size() <= title.size() || !name.starts_with(title) || name[title.size()] != u' ') return false;
    return file_title(file_name_of(data)) == name.substr(title.size() + 1);
}

String identity_key(uint64_t volume, uint64_t id_high, uint64_t id_low) {
    return u"|" + decimal_text(volume) + u"|" + decimal_text(id_high) + u"|" + decimal_text(id_low);
}

String registered_file(StringView fonts_folder, StringView data) {
    if (data.find_first_of(u"\\/") == StringView::npos) return String(fonts_folder) + u"\\" + String(data);
    return String(data);
}

bool is_staged_name_of(StringView path, StringView copy) {
    const size_t base = copy.size() + staged_suffix.size();
    if (path.size() < base || !same_path(path.substr(0, base), String(copy) + String(staged_suffix))) return false;
    StringView rest = path.substr(base);
    if (rest.empty()) return true;
    if (rest.size() < 2 || rest[0] != u'.') return false;
    for (char16_t unit : rest.substr(1)) {
        if (unit < u'0' || unit > u'9') return false;
    }
    return true;
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
        if (same_path(files[i].path, path)) return i;
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
        if (same_path(operation.from, path)) return true;
    }
    return false;
}

bool is_named_by(const std::vector<PendingOperation>& pending, StringView path) {
    for (const PendingOperation& operation : pending) {
        if (same_path(operation.from, path) || same_path(operation.to, path)) return true;
    }
    return false;
}

// The fonts key looked up by name and by the file a value names, as Windows
// compares both: one pass over the values, however many fonts ask.
struct ValueIndex {
    std::map<String, const FontValue*> by_name;
    std::map<String, std::vector<const FontValue*>> by_file;
};

ValueIndex index_values(const DeploySnapshot& snapshot) {
    ValueIndex index;
    for (const FontValue& value : snapshot.values) {
        index.by_name.emplace(comparison_key(value.name), &value);
        if (is_text_type(value.type)) {
            const String key = value.file_key.empty() ? comparison_key(registered_file(snapshot.fonts_folder, value.data))
                                                      : value.file_key;
            index.by_file[key].push_back(&value);
        }
    }
    return index;
}

const FontValue* value_named(const ValueIndex& index, StringView name) {
    auto found = index.by_name.find(comparison_key(name));
    return found == index.by_name.end() ? nullptr : found->second;
}

String key_of(const FontFacts& font) { return font.copy_key.empty() ? comparison_key(font.copy) : font.copy_key; }

// The values whose data names the font's copy, under any spelling.
const std::vector<const FontValue*>& values_naming(const ValueIndex& index, const FontFacts& font) {
    static const std::vector<const FontValue*> none;
    auto found = index.by_file.find(key_of(font));
    return found == index.by_file.end() ? none : found->second;
}

bool registered_as_copy(const DeploySnapshot& snapshot, const ValueIndex& index, const FontFacts& font) {
    const FontValue* value = value_named(index, registration_name(snapshot.title, font.name));
    if (!value || value->type != registration_type) return false;
    for (const FontValue* naming : values_naming(index, font)) {
        if (naming == value) return true;
    }
    return false;
}

String quoted(StringView text) { return u"\"" + String(text) + u"\""; }

}  // namespace

namespace {

// The copy a staged name belongs to ("<copy>.Typeloader-Deploy" or
// "<copy>.Typeloader-Deploy.<n>"), or the path itself.
StringView staged_base(StringView path) {
    StringView base = path;
    const size_t dot = base.rfind(u'.');
    if (dot != StringView::npos && dot + 1 < base.size() &&
        std::all_of(base.begin() + dot + 1, base.end(), [](char16_t unit) { return unit >= u'0' && unit <= u'9'; })) {
        base = base.substr(0, dot);
    }
    if (base.size() <= staged_suffix.size() || !same_path(base.substr(base.size() - staged_suffix.size()), staged_suffix)) return path;
    return base.substr(0, base.size() - staged_suffix.size());
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

std::vector<NearbyFile> after_restart(const std::vector<NearbyFile>& now, const std::vector<PendingOperation>& pending) {
    std::vector<NearbyFile> files = run_pending(now, pending);
    files.resize(now.size());
    return files;
}

FileState copy_after_restart(const FontFacts& font, const std::vector<PendingOperation>& pending) {
    return after_restart(files_of(font, pending), pending).front().state;
}

Staging staging_for(const FontFacts& font, const std::vector<PendingOperation>& pending) {
    // A staged file that a pending move will bring onto the copy last only
    // needs the font's bytes: no second operation.
    for (size_t i = 0; i < font.staged.size(); ++i) {
        if (!is_pending_source(pending, font.staged[i].path)) continue;
        FontFacts rewritten = font;
        rewritten.staged[i].state = FileState::same_as_source;
        if (copy_after_restart(rewritten, pending) == FileState::same_as_source) {
            return {font.copy, font.staged[i].path, false};
        }
    }
    String staged = font.copy + String(staged_suffix);
    for (uint64_t number = 2; is_named_by(pending, staged); ++number) {
        staged = font.copy + String(staged_suffix) + u"." + decimal_text(number);
    }
    return {font.copy, staged, true};
}

InstallPlan plan_install(const DeploySnapshot& snapshot) {
    InstallPlan plan;
    const ValueIndex index = index_values(snapshot);
    if (snapshot.fonts.empty()) plan.refusals.push_back(snapshot.font_folder + u" holds no *.ttf entry");
    if (!snapshot.values_readable) plan.refusals.push_back(u"the fonts key cannot be read");
    for (const FontFacts& font : snapshot.fonts) {
        const String name = registration_name(snapshot.title, font.name);
        if (!font.refusal.empty()) {
            plan.refusals.push_back(snapshot.font_folder + u"\\" + font.name + u": " + font.refusal);
            continue;
        }
        if (font.copy_state == FileState::folder || font.copy_state == FileState::link) {
            plan.refusals.push_back(font.copy + u" is a folder or a link, not a font file");
            continue;
        }
        if (font.copy_state == FileState::unreadable) {
            plan.refusals.push_back(font.copy + u" cannot be read");
            continue;
        }
        // Only this title's own older copy may be replaced; one the restart
        // deletes anyway is replaced only after that, by a staged file.
        if (font.copy_state == FileState::other && copy_after_restart(font, snapshot.pending) != FileState::missing) {
            bool own = false;
            for (const FontValue* value : values_naming(index, font)) {
                if (!is_own_registration(snapshot.title, value->name, value->data)) {
                    plan.refusals.push_back(font.copy + u" holds another font, which the registration " + quoted(value->name) +
                                            u" refers to; the copy would replace it");
                    own = true;  // refused once is enough
                    break;
                }
                own = true;
            }
            if (!own) plan.refusals.push_back(font.copy + u" holds another font that no registration of this title refers to");
        }
        const FontValue* existing = value_named(index, name);
        if (existing && existing->type != registration_type) {
            plan.refusals.push_back(quoted(name) + u" exists with another type than REG_SZ");
        } else if (existing && !is_own_registration(snapshot.title, existing->name, existing->data)) {
            plan.refusals.push_back(quoted(existing->name) + u" (" + existing->data + u") is not this title's registration, and " +
                                    quoted(name) + u" would replace it");
        }
    }
    // The guard of a later uninstall: what it would take must all be ours.
    for (const FontValue& value : snapshot.values) {
        if (uninstall_takes(snapshot.title, value.name, value.type) &&
            !is_own_registration(snapshot.title, value.name, value.data)) {
            plan.refusals.push_back(quoted(value.name) + u" (" + value.data + u") is not this title's registration, and an uninstall of " +
                                    quoted(snapshot.title) + u" would remove it");
        }
    }
    if (!plan.refusals.empty()) return plan;

    for (const FontFacts& font : snapshot.fonts) {
        const bool registered = registered_as_copy(snapshot, index, font);
        plan.run_typeloader |= !registered;
        if (copy_after_restart(font, snapshot.pending) != FileState::same_as_source) {
            // Right now but not after the restart: only a staged file helps.
            if (font.copy_state == FileState::same_as_source) {
                plan.stagings.push_back(staging_for(font, snapshot.pending));
            } else {
                plan.run_typeloader = true;
            }
        }
        for (const NearbyFile& staged : font.staged) {
            if (is_present(staged.state) && !is_pending_source(snapshot.pending, staged.path)) plan.leftovers.push_back(staged.path);
        }
    }
    return plan;
}

std::vector<String> install_mismatches(const DeploySnapshot& after) {
    std::vector<String> mismatches;
    const ValueIndex index = index_values(after);
    if (!after.values_readable) mismatches.push_back(u"the fonts key cannot be read");
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

UninstallPlan plan_uninstall(const DeploySnapshot& snapshot, const std::vector<String>& folders) {
    UninstallPlan plan;
    const ValueIndex index = index_values(snapshot);
    if (!snapshot.values_readable) {
        plan.refusals.push_back(u"the fonts key cannot be read");
        return plan;
    }
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

    for (const FontFacts& font : snapshot.fonts) {
        // This title's copy: a removed registration names it, or it holds
        // the bundle's own bytes (left by an install that failed).
        bool named = false, referred = false;
        for (const FontValue* value : values_naming(index, font)) {
            (uninstall_takes(snapshot.title, value->name, value->type) ? named : referred) = true;
        }
        bool ours = named || font.copy_state == FileState::same_as_source;
        for (const NearbyFile& staged : font.staged) ours |= is_present(staged.state);
        if (!ours) continue;
        bool inside = false;
        for (const String& folder : folders) inside |= !folder.empty() && is_inside_folder(font.copy, folder);
        if (!inside || referred || font.copy_state == FileState::folder || font.copy_state == FileState::link) continue;
        // A staged replacement would bring the copy back at the restart.
        for (const NearbyFile& staged : font.staged) {
            if (is_present(staged.state)) plan.voided.push_back(staged.path);
        }
        if (is_present(font.copy_state)) {
            FontFacts voided = font;
            for (NearbyFile& staged : voided.staged) staged.state = FileState::missing;
            if (is_present(copy_after_restart(voided, snapshot.pending))) plan.copies.push_back(font.copy);
        }
    }
    return plan;
}

std::vector<String> uninstall_mismatches(const UninstallPlan& plan, const DeploySnapshot& after) {
    std::vector<String> mismatches;
    const ValueIndex index = index_values(after);
    if (!after.values_readable) mismatches.push_back(u"the fonts key cannot be read");
    for (const String& name : plan.removals) {
        if (value_named(index, name)) mismatches.push_back(u"registration " + quoted(name) + u" is still there");
    }
    for (const FontFacts& font : after.fonts) {
        bool planned = false;
        for (const String& copy : plan.copies) planned |= same_path(copy, font.copy);
        if (planned && is_present(copy_after_restart(font, after.pending))) {
            mismatches.push_back(font.copy + u" is still there after the restart");
        }
        for (const NearbyFile& staged : font.staged) {
            for (const String& voided : plan.voided) {
                if (same_path(voided, staged.path) && is_present(staged.state)) mismatches.push_back(staged.path + u" is still there");
            }
        }
    }
    return mismatches;
}
