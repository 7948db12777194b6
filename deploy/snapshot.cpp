#include "deploy/snapshot.h"

#include "deploy/digest.h"

#include <map>
#include <optional>

#include "deploy/access_rule.h"
#include "deploy/bundle_check.h"
#include "deploy/folder_listing.h"
#include "deploy/font_file.h"
#include "deploy/registered_path.h"

#include "fonts/typeloader_contract.h"
#include "platform/deploy/clock.h"
#include "platform/deploy/open_files.h"
#include "platform/deploy/registry_values.h"
#include "platform/deploy/restart_operations.h"
#include "platform/deploy/security.h"
#include "platform/deploy/side_by_side.h"
#include "platform/process.h"
#include "platform/registry.h"

DeployPlaces deploy_places() {
    DeployPlaces places;
    const String program_folder = executable_folder();
    places.program_folder = program_folder;
    places.typeloader = program_folder + u"\\Typeloader.exe";
    places.font_folder = program_folder + source_folder_suffix;
    const String temporary = temporary_folder();
    if (system_fonts_folder(places.fonts_folder)) places.fonts_folder.clear();
    places.destination = places.fonts_folder.empty() ? fallback_folder(temporary, program_folder) : places.fonts_folder;
    if (!places.fonts_folder.empty()) places.own_folders.push_back(places.fonts_folder);
    for (const String& folder : fallback_folders(temporary, program_folder)) places.own_folders.push_back(folder);
    return places;
}

String registry_text(const std::string& data) {
    String units;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(data[i]) | static_cast<unsigned char>(data[i + 1]) << 8);
        if (unit == u'\0') break;
        units += unit;
    }
    return units;
}

bool bundle_is_trusted(DeployLog& log, const DeployPlaces& places) {
    EntryKind font_folder = EntryKind::missing;
    entry_kind(places.font_folder, font_folder);
    // The fonts themselves are judged through the handle their check reads.
    const std::vector<String> refusals = bundle_refusals(
        places.program_folder, places.typeloader, font_folder == EntryKind::missing ? String() : places.font_folder);
    for (const String& refusal : refusals) log_record(log, RecordType::error, u"Refused: " + refusal + u".");
    if (refusals.empty()) {
        log_record(log, RecordType::information, u"Check the bundle in " + places.program_folder +
                                                     u": only SYSTEM, Administrators and TrustedInstaller may change it: OK");
    }
    return refusals.empty();
}

std::vector<FoundFile> bundle_entries(const DeployPlaces& places) {
    std::vector<FoundFile> entries;
    find_files(places.font_folder + font_pattern_suffix, [&](const FoundFile& found) { entries.push_back(found); });
    return entries;
}

namespace {

// A font another program holds open without sharing is tried again for a
// while: a user who can read the Font folder could otherwise fail every run.
PlatformStatus open_source(const String& path, HeldFile& file) {
    for (uint32_t waited = 0;; waited += source_wait_step_milliseconds) {
        PlatformStatus status = open_for_reading(path, file);
        if (!is_in_use_status(status) || waited >= source_wait_milliseconds) return status;
        sleep_milliseconds(source_wait_step_milliseconds);
    }
}

}  // namespace

// `trust`: whom the font's owner and access list must name alone; none when
// they are not judged.
String entry_refusal(const FoundFile& found, const HeldFile& file, PlatformStatus opened, std::optional<Trust> trust,
                     std::vector<String>& warnings) {
    if (found.name.size() < 4 || !equals_ignoring_ascii_case(StringView(found.name).substr(found.name.size() - 4), u".ttf")) {
        return u"its name does not end in .ttf (it matches *.ttf only through its short name)";
    }
    if (file_title(found.name).empty()) return u"its file title is empty";
    if (opened == status_stopped_on_link) return u"it is a link or another reparse point, not a plain file";
    if (opened == status_access_denied) return u"it is a folder, not a font file";
    if (is_in_use_status(opened)) return u"another program holds it open (error " + decimal_text(opened) + u")";
    if (opened == status_file_not_found || opened == status_path_not_found) return u"it is gone";
    if (opened) return u"it cannot be read (error " + decimal_text(opened) + u")";
    if (trust) {
        // Whoever may change the font could have changed what is checked here.
        ObjectSecurity security;
        if (PlatformStatus status = read_held_file_security(file, security)) {
            return u"its owner and permissions cannot be read (error " + decimal_text(status) + u")";
        }
        if (String reason = access_refusal(security, AccessTarget::object_itself, *trust); !reason.empty()) return reason;
    }
    uint64_t size = 0;
    if (PlatformStatus status = open_file_size(file, size)) return u"it cannot be read (error " + decimal_text(status) + u")";
    FontFileVerdict verdict = inspect_font_file(size, [&](uint64_t offset, size_t length, std::string& bytes) {
        return !read_at(file, offset, length, bytes);
    });
    warnings = verdict.warnings;
    return verdict.refusal;
}

namespace {

// The digest of the whole held file, read piece by piece.
PlatformStatus digest_held(const HeldFile& file, uint64_t& digest) {
    Digest running;
    std::string piece;
    for (uint64_t offset = 0;; offset += piece.size()) {
        if (PlatformStatus status = read_at(file, offset, read_piece_size, piece)) return status;
        if (piece.empty()) break;
        digest_add(running, piece.data(), piece.size());
    }
    digest = digest_value(running);
    return status_success;
}

}  // namespace

FileState file_state(const String& source, const String& path) {
    EntryKind kind = EntryKind::missing;
    if (entry_kind(path, kind)) return FileState::unreadable;
    if (kind == EntryKind::missing) return FileState::missing;
    if (kind == EntryKind::folder) return FileState::folder;
    if (kind == EntryKind::reparse_point) return FileState::link;
    if (source.empty()) return FileState::other;
    bool same = false;
    PlatformStatus status = same_contents(source, path, same);
    if (status == status_stopped_on_link) return FileState::link;
    // Held open by another program without sharing: its bytes are unknown.
    if (is_in_use_status(status)) return FileState::other;
    if (status) return FileState::unreadable;
    return same ? FileState::same_as_source : FileState::other;
}

namespace {

// The destination folder from one look: its staged files, and the names
// there, so that a copy not among them is known missing without a look of
// its own. Unreadable: every copy is looked at.
struct Listing {
    FolderListing names;
    std::vector<String> staged_files;  // full paths
};

Listing listing_of(const String& folder) {
    Listing listing;
    std::vector<String> names;
    if (folder.empty() || folder_entry_names(folder, names)) return listing;
    listing.names = folder_listing(names);
    for (const String& name : listing.names.staged_names) listing.staged_files.push_back(folder + u"\\" + name);
    return listing;
}

// Who the file at a path is: its identity, or the path's comparison key when
// nothing is there.
String key_of_file(const String& path) {
    FileIdentity identity;
    if (file_identity(path, identity)) return comparison_key(path);
    return identity_key(identity.volume, identity.id_high, identity.id_low);
}

std::optional<String> variable(StringView name) {
    String value;
    if (!environment_variable(name, value)) return std::nullopt;
    return value;
}

// The path Windows opens for a value's data when its text is refused: the
// variables expanded, a bare name in the Fonts folder, the rest as Windows
// reads it, so that its identity still shows which file it names.
String path_as_read(const FontValue& value, StringView fonts_folder) {
    String text;
    for (size_t at = 0; at < value.data.size(); ++at) {
        const size_t end = value.type == registry_expand_string_type && value.data[at] == u'%'
                               ? value.data.find(u'%', at + 1)
                               : String::npos;
        std::optional<String> found = end == String::npos ? std::nullopt : variable(StringView(value.data).substr(at + 1, end - at - 1));
        if (!found) {
            text += value.data[at];
            continue;
        }
        text += *found;
        at = end;
    }
    return registered_file(fonts_folder, text);
}

FileState state_of(const Measure& measure) {
    switch (measure.kind) {
        case EntryKind::missing: return FileState::missing;
        case EntryKind::folder: return FileState::folder;
        case EntryKind::reparse_point: return FileState::link;
        case EntryKind::file: break;
    }
    return measure.same ? FileState::same_as_source : FileState::other;
}

// A copy and its staged files measured against the font's bytes. Its key
// is its path's until some value needs identities (see take_snapshot).
template <typename MeasureAgainstFont>
FontFacts facts_against(const String& name, const String& copy, const Listing& listing, MeasureAgainstFont measure_against_font) {
    FontFacts font{name, String(), copy, FileState::unreadable, {}};
    font.copy_key = comparison_key(copy);
    Measure measure;
    if (listed_as_missing(listing.names, file_name_of(copy))) {
        font.copy_state = FileState::missing;
    } else if (!measure_against_font(copy, measure)) {
        font.copy_state = state_of(measure);
    }
    for (const String& staged : listing.staged_files) {
        if (!is_staged_name_of(staged, copy)) continue;
        Measure staged_measure;
        font.staged.push_back({staged, measure_against_font(staged, staged_measure) ? FileState::unreadable : state_of(staged_measure)});
    }
    return font;
}

// A copy no font of the bundle stands for: its kind only.
FontFacts facts_of(const String& copy, const std::vector<String>& staged_files) {
    FontFacts font{String(file_name_of(copy)), String(), copy, file_state(String(), copy), {}};
    font.copy_key = comparison_key(copy);
    for (const String& staged : staged_files) {
        if (is_staged_name_of(staged, copy)) font.staged.push_back({staged, file_state(String(), staged)});
    }
    return font;
}

// One entry of the Font folder and its copy, read through a handle of its
// own; against a digest taken earlier, the entry itself is not opened.
struct EntryReading {
    std::optional<FontFacts> font;  // none: no font of ours, nothing to measure
    HeldFile source;                // open while the font is one to act on
};

EntryReading read_entry(const FoundFile& entry, const String& destination, const Listing& listing, bool check_entries,
                        std::optional<Trust> trust, std::optional<uint64_t> earlier_digest) {
    EntryReading read;
    const String copy = destination + u"\\" + entry.name;
    if (earlier_digest) {
        read.font = facts_against(entry.name, copy, listing, [&](const String& path, Measure& measure) {
            return measure_against_digest(*earlier_digest, path, measure);
        });
        read.font->digest = *earlier_digest;
        return read;
    }
    HeldFile source;
    PlatformStatus opened = check_entries ? open_source(entry.path, source) : open_for_reading(entry.path, source);
    // An entry that is no font of ours has no copy to measure.
    if (!check_entries && opened) return read;
    std::vector<String> warnings;
    String refusal = check_entries ? entry_refusal(entry, source, opened, trust, warnings) : String();
    uint64_t digest = 0;
    if (check_entries && refusal.empty()) {
        if (PlatformStatus status = digest_held(source, digest)) refusal = u"it cannot be read (error " + decimal_text(status) + u")";
    }
    auto against_source = [&](const String& path, Measure& measure) { return measure_against(source, path, measure); };
    FontFacts font = refusal.empty() ? facts_against(entry.name, copy, listing, against_source)
                                     : FontFacts{entry.name, refusal, copy, FileState::missing, {}};
    font.refusal = refusal;
    font.warnings = warnings;
    font.digest = digest;
    read.font = std::move(font);
    if (refusal.empty()) read.source = std::move(source);
    return read;
}

}  // namespace

DeploySnapshot take_snapshot(const String& title, const DeployPlaces& places, const std::vector<FoundFile>& entries,
                             const SnapshotReading& reading) {
    const bool check_entries = reading.check_entries;
    DeploySnapshot snapshot;
    snapshot.title = title;
    snapshot.fonts_folder = places.fonts_folder;
    snapshot.font_folder = places.font_folder;
    RegistryKey key;
    std::vector<RegistryValue> values;
    PlatformStatus status = open_font_registration_key(key);
    if (!status) status = read_all_values(key, values);
    key.reset();
    snapshot.values_readable = !status;
    std::vector<ResolvedPath> resolved(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        if (is_text_type(values[i].type)) {
            resolved[i] = resolve_registered_path(registry_text(values[i].data), values[i].type, places.fonts_folder, variable);
        }
    }
    String pending;
    if (!read_pending_file_renames(pending)) snapshot.pending = parse_pending_operations(pending);

    const Listing listing = listing_of(places.destination);
    const std::vector<String>& staged_files = listing.staged_files;
    // Every entry lies in the Font folder: one look at its drive serves them all.
    std::optional<Trust> trust;
    if (reading.check_security) trust = is_network_path(places.font_folder) ? Trust::domain_admins_too : Trust::local_only;
    std::vector<EntryReading> read(entries.size());
    each_index_side_by_side(entries.size(), [&](size_t i) {
        const std::optional<uint64_t> digest = reading.digests && i < reading.digests->size() && !check_entries
                                                   ? std::optional((*reading.digests)[i])
                                                   : std::nullopt;
        read[i] = read_entry(entries[i], places.destination, listing, check_entries, trust, digest);
    });
    for (EntryReading& entry : read) {
        if (!entry.font) continue;
        snapshot.fonts.push_back(std::move(*entry.font));
        if (reading.held) reading.held->push_back(std::move(entry.source));
    }
    // A copy named only by a refused text is never deleted through it.
    std::vector<String> copies = reading.extra_copies;
    for (size_t i = 0; i < values.size(); ++i) {
        if (reading.add_registered_copies && uninstall_takes(title, values[i].name, values[i].type) && resolved[i].refusal.empty()) {
            copies.push_back(resolved[i].path);
        }
    }
    std::map<String, String> measured;  // a copy's path, as compared, to who it is
    for (const FontFacts& font : snapshot.fonts) measured[comparison_key(font.copy)] = font.copy_key;
    for (const String& copy : copies) {
        if (measured.count(comparison_key(copy))) continue;
        snapshot.fonts.push_back(facts_of(copy, staged_files));
        measured[comparison_key(copy)] = snapshot.fonts.back().copy_key;
    }

    snapshot.pending = operations_touching(snapshot.fonts, snapshot.pending);

    // Who each value's file is. A value whose path is a measured copy's is
    // that copy; otherwise only one that could still name a copy is opened:
    // one under a copy's name, a short name (with its "~"), or one whose text
    // is refused. Any other names another file. Only when one is opened are
    // the copies' identities read too: paths alone compare the rest.
    std::map<String, bool> copy_names;
    for (const FontFacts& font : snapshot.fonts) copy_names[comparison_key(file_name_of(font.copy))] = true;
    auto opened_by_identity = [&](size_t i) {
        const StringView name = file_name_of(resolved[i].path);
        if (!resolved[i].refusal.empty()) return true;
        if (measured.count(comparison_key(resolved[i].path))) return false;
        return name.find(u'~') != StringView::npos || copy_names.count(comparison_key(name)) > 0;
    };
    bool identities = false;
    for (size_t i = 0; i < values.size() && !identities; ++i) identities = is_text_type(values[i].type) && opened_by_identity(i);
    for (FontFacts& font : snapshot.fonts) {
        if (identities && font.copy_state != FileState::missing) {
            font.copy_key = measured[comparison_key(font.copy)] = key_of_file(font.copy);
        }
    }
    for (size_t i = 0; i < values.size(); ++i) {
        const RegistryValue& raw = values[i];
        FontValue value{raw.name, raw.type, registry_text(raw.data)};
        value.raw = raw.data;
        if (is_text_type(value.type)) {
            const bool refused = !resolved[i].refusal.empty();
            const String path_key = comparison_key(resolved[i].path);
            if (!refused) value.file = resolved[i].path;
            if (auto copy = measured.find(path_key); !refused && copy != measured.end()) {
                value.file_key = copy->second;
            } else if (opened_by_identity(i)) {
                value.file_key = key_of_file(refused ? path_as_read(value, places.fonts_folder) : resolved[i].path);
            } else {
                value.file_key = path_key;
            }
        }
        snapshot.values.push_back(value);
    }
    return snapshot;
}
