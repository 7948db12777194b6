#include "deploy/snapshot.h"

#include "deploy/digest.h"

#include <map>
#include <iterator>
#include <optional>
#include <set>

#include "deploy/access_rule.h"
#include "deploy/bundle_check.h"
#include "deploy/folder_listing.h"
#include "deploy/font_file.h"
#include "deploy/kept_copy.h"
#include "deploy/package_entry.h"
#include "deploy/registered_path.h"
#include "deploy/waiting.h"
#include "platform/deploy/clock.h"

#include "fonts/typeloader_contract.h"
#include "platform/deploy/open_files.h"
#include "platform/process.h"
#include "platform/deploy/programs.h"
#include "platform/deploy/registry_keys.h"
#include "platform/registry.h"
#include "platform/deploy/restart_operations.h"
#include "platform/deploy/security.h"
#include "platform/deploy/side_by_side.h"

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

std::string registry_string_data(StringView text) {
    std::string data;
    for (char16_t unit : String(text) + u'\0') {
        data += static_cast<char>(unit & 0xFF);
        data += static_cast<char>(unit >> 8);
    }
    return data;
}

namespace {

// Windows parses the file to read its version: only a file of a trusted bundle.
void log_version(DeployLog& log, const String& path) {
    String version;
    PlatformStatus status = file_version(path, version);
    log_record(log, status ? RecordType::warning : RecordType::information,
               path + u" version " + (status ? with_error(u"unknown", status) : version));
}

}  // namespace

namespace {

// Why a file opened for its check cannot be trusted: what opening it said,
// then who may change it, read through the handle.
String held_file_refusal(const String& path, PlatformStatus opened, const HeldFile& file, Trust trust, StringView what) {
    if (opened == status_stopped_on_link) return u"it is a link or another reparse point, not a plain file";
    // A folder cannot be opened as a file: Windows answers access denied.
    EntryKind kind = EntryKind::missing;
    if (opened == status_access_denied && !entry_kind(path, kind) && kind == EntryKind::folder) return u"it is a folder, not " + String(what);
    if (is_in_use_status(opened)) return with_error(u"another program holds it open", opened);
    if (opened == status_file_not_found || opened == status_path_not_found) return u"it is gone";
    if (opened) return with_error(u"it cannot be read", opened);
    // Whoever may change the file could have changed what is checked here.
    ObjectSecurity security;
    if (PlatformStatus status = read_held_file_security(file, security)) return with_error(u"its owner and permissions cannot be read", status);
    return access_refusal(security, AccessTarget::object_itself, trust);
}

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

// Typeloader.exe judged through the handle that keeps it as it is until its
// private copy is made: a file swapped in after the check by path is never run.
String hold_program(const String& path, CheckedFont& program) {
    program = {{String(file_name_of(path)), path}, 0, HeldFile()};
    const PlatformStatus opened = open_for_reading(path, program.held);
    String refusal = held_file_refusal(path, opened, program.held, is_network_path(path) ? Trust::domain_admins_too : Trust::local_only, u"a program");
    if (refusal.empty()) {
        if (PlatformStatus status = digest_held(program.held, program.digest)) refusal = with_error(u"it cannot be read", status);
    }
    if (!refusal.empty()) program.held.reset();
    return refusal.empty() ? refusal : path + u": " + refusal;
}

}  // namespace

bool bundle_is_trusted(DeployLog& log, const DeployPlaces& places, CheckedFont& typeloader) {
    EntryKind font_folder = EntryKind::missing;
    entry_kind(places.font_folder, font_folder);
    // The fonts themselves are judged through the handle their check reads.
    std::vector<String> refusals = bundle_refusals(
        places.program_folder, places.typeloader, font_folder == EntryKind::missing ? String() : places.font_folder);
    if (refusals.empty()) {
        if (String refusal = hold_program(places.typeloader, typeloader); !refusal.empty()) refusals.push_back(refusal);
    }
    log_refusals(log, refusals);
    if (refusals.empty()) {
        log_record(log, RecordType::information, u"Check the bundle in " + places.program_folder +
                                                     u": only SYSTEM, Administrators and TrustedInstaller may change it: OK");
        log_version(log, executable_file());
        log_version(log, places.typeloader);
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
    return try_while_held([&] { return open_for_reading(path, file); }, is_in_use_status, source_wait_milliseconds,
                          source_wait_step_milliseconds);
}

// Why the entry is no font to install, read through its handle; `trust` is
// whom its owner and access list must name alone.
String entry_refusal(const FoundFile& found, const HeldFile& file, PlatformStatus opened, Trust trust, std::vector<String>& warnings) {
    if (found.name.size() < 4 || !equals_ignoring_ascii_case(StringView(found.name).substr(found.name.size() - 4), u".ttf")) {
        return u"its name does not end in .ttf (it matches *.ttf only through its short name)";
    }
    if (file_title(found.name).empty()) return u"its file title is empty";
    if (String refusal = held_file_refusal(found.path, opened, file, trust, u"a font file"); !refusal.empty()) return refusal;
    uint64_t size = 0;
    if (PlatformStatus status = open_file_size(file, size)) return with_error(u"it cannot be read", status);
    FontFileVerdict verdict = inspect_font_file(size, [&](uint64_t offset, size_t length, std::string& bytes) {
        return !read_at(file, offset, length, bytes);
    });
    warnings = verdict.warnings;
    return verdict.refusal;
}


}  // namespace

namespace {

FileState state_of(const Measure& measure) {
    switch (measure.kind) {
        case EntryKind::missing: return FileState::missing;
        case EntryKind::folder: return FileState::folder;
        case EntryKind::reparse_point: return FileState::link;
        case EntryKind::file: break;
    }
    return measure.same ? FileState::same_as_source : FileState::other;
}

// What lies at the path, its bytes not compared.
FileState kind_state(const String& path) {
    Measure measure;
    if (entry_kind(path, measure.kind)) return FileState::unreadable;
    return state_of(measure);
}

}  // namespace

FileState state_against(uint64_t digest, const String& path) {
    Measure measure;
    return measure_against_digest(digest, path, measure) ? FileState::unreadable : state_of(measure);
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

// Who the file at a path is: none when nothing can be opened there.
std::optional<FileIdentity> identity_of(const String& path) {
    FileIdentity identity;
    if (file_identity(path, identity)) return std::nullopt;
    return identity;
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

// A copy and its staged files measured against the font's bytes, known by
// their digest.
FontFacts facts_against(const FoundFile& entry, uint64_t digest, const String& destination, const Listing& listing) {
    const String copy = destination + u"\\" + entry.name;
    FontFacts font{entry.name, String(), copy, FileState::missing, {}};
    font.source = entry.path;
    font.digest = digest;
    if (!listed_as_missing(listing.names, file_name_of(copy))) font.copy_state = state_against(digest, copy);
    for (const String& staged : listing.staged_files) {
        if (is_staged_name_of(staged, copy)) font.staged.push_back({staged, state_against(digest, staged)});
    }
    return font;
}

// A copy no font of the bundle stands for: its kind only.
FontFacts facts_of(const String& copy, const std::vector<String>& staged_files) {
    FontFacts font{String(file_name_of(copy)), String(), copy, kind_state(copy), {}};
    for (const String& staged : staged_files) {
        if (is_staged_name_of(staged, copy)) font.staged.push_back({staged, kind_state(staged)});
    }
    return font;
}

// One entry checked through a handle of its own, kept while it is a font to act on.
void check_entry(const FoundFile& entry, const String& destination, const Listing& listing, Trust trust, FontFacts& font,
                 CheckedFont& checked) {
    HeldFile source;
    const PlatformStatus opened = open_source(entry.path, source);
    std::vector<String> warnings;
    String refusal = entry_refusal(entry, source, opened, trust, warnings);
    uint64_t digest = 0, bytes = 0;
    if (refusal.empty()) {
        PlatformStatus status = open_file_size(source, bytes);
        if (!status) status = digest_held(source, digest);
        if (status) refusal = with_error(u"it cannot be read", status);
    }
    font = refusal.empty() ? facts_against(entry, digest, destination, listing)
                           : FontFacts{entry.name, refusal, destination + u"\\" + entry.name, FileState::missing, {}};
    font.bytes = bytes;
    font.warnings = warnings;
    font.held = is_in_use_status(opened);
    checked = {entry, digest, refusal.empty() ? std::move(source) : HeldFile()};
}

// The machine but the bundle's fonts: the fonts key, the restart-time
// operations and the destination folder's listing.
struct Surroundings {
    FontsKeyReading key;
    std::vector<ResolvedPath> resolved;  // one per value
    Listing listing;
};

// Both lists, the first's operations first; one that cannot be read is
// named, not taken for an empty list.
void read_pending(DeploySnapshot& snapshot) {
    for (StringView value : pending_renames_values) {
        String units;
        if (PlatformStatus status = read_pending_file_renames(value, units)) {
            snapshot.pending_unread.push_back({String(value), status});
            continue;
        }
        for (PendingOperation& operation : parse_pending_operations(units)) {
            operation.second_list = value != pending_renames_values[0];
            snapshot.pending.push_back(operation);
        }
    }
}

Surroundings read_surroundings(DeploySnapshot& snapshot, const String& title, const DeployPlaces& places) {
    snapshot.title = title;
    snapshot.fonts_folder = places.fonts_folder;
    snapshot.font_folder = places.font_folder;
    Surroundings read{read_fonts_key(), {}, listing_of(places.destination)};
    snapshot.values_readable = !read.key.opened && !read.key.read;
    for (const RegistryValue& value : read.key.values) {
        read.resolved.push_back(is_text_type(value.type) ? resolve_registered_path(registry_text(value.data), value.type, places.fonts_folder, variable)
                                                         : ResolvedPath{});
    }
    read_pending(snapshot);
    return read;
}

// The copies besides the fonts', then the values, each with who its file is.
// Identities are read only when some value needs one (needs_identity): paths
// alone compare the rest.
void complete_snapshot(DeploySnapshot& snapshot, const Surroundings& read, const std::vector<String>& copies, const DeployPlaces& places) {
    std::set<String> measured;  // the copies' paths, as compared
    for (const FontFacts& font : snapshot.fonts) measured.insert(comparison_key(font.copy));
    for (const String& copy : copies) {
        if (measured.insert(comparison_key(copy)).second) snapshot.fonts.push_back(facts_of(copy, read.listing.staged_files));
    }
    snapshot.pending = operations_touching(snapshot.fonts, snapshot.pending);
    const CopyNames names = copy_names_of(snapshot.fonts);
    const std::vector<RegistryValue>& values = read.key.values;
    bool identities = false;
    for (size_t i = 0; i < values.size() && !identities; ++i) {
        identities = is_text_type(values[i].type) && needs_identity(read.resolved[i].path, !read.resolved[i].refusal.empty(), names);
    }
    std::map<String, const FontFacts*> copy_at;  // a copy's path, as compared
    for (FontFacts& font : snapshot.fonts) {
        if (identities && font.copy_state != FileState::missing) font.copy_identity = identity_of(font.copy);
        copy_at.emplace(comparison_key(font.copy), &font);
    }
    for (size_t i = 0; i < values.size(); ++i) {
        FontValue value{values[i].name, values[i].type, registry_text(values[i].data)};
        value.raw = values[i].data;
        const ResolvedPath& resolved = read.resolved[i];
        const bool refused = !resolved.refusal.empty();
        if (is_text_type(value.type)) {
            value.file_path = refused ? path_as_read(value, places.fonts_folder) : resolved.path;
            auto copy = copy_at.find(comparison_key(resolved.path));
            if (!refused && copy != copy_at.end()) {
                value.file_path = copy->second->copy;
                value.file_identity = copy->second->copy_identity;
            } else if (needs_identity(resolved.path, refused, names)) {
                value.file_identity = identity_of(value.file_path);
            }
        }
        snapshot.values.push_back(value);
    }
}

}  // namespace

FontsKeyReading read_fonts_key() {
    FontsKeyReading reading;
    RegistryKey key;
    reading.opened = open_font_registration_key(key);
    if (!reading.opened) reading.read = read_all_values(key, reading.values);
    return reading;
}

namespace {

// The files the title's registrations name, but those of the bundle's fonts:
// copies an install deletes when the bundle no longer has their font. A
// copy named only by a refused text is never deleted through it.
std::vector<String> copies_of_other_registrations(const String& title, const Surroundings& read, const std::vector<FoundFile>& entries) {
    std::set<String> bundle;
    for (const FoundFile& entry : entries) bundle.insert(comparison_key(registration_name(title, entry.name)));
    std::vector<String> copies;
    for (size_t i = 0; i < read.key.values.size(); ++i) {
        const RegistryValue& value = read.key.values[i];
        if (uninstall_takes(title, value.name, value.type) && read.resolved[i].refusal.empty() && !bundle.count(comparison_key(value.name))) {
            copies.push_back(read.resolved[i].path);
        }
    }
    return copies;
}

// Whether another program holds each copy that is to be replaced or deleted.
void probe_copies(std::vector<FontFacts>& fonts, bool (*acted_on)(FileState)) {
    for (FontFacts& font : fonts) {
        if (acted_on(font.copy_state)) font.copy_in_use = is_in_use_status(probe_in_use(font.copy));
    }
}

bool is_other(FileState state) { return state == FileState::other; }
bool is_there(FileState state) { return state != FileState::missing; }

// The snapshot's fonts past the first `count`, moved to its dropped ones.
void move_past_to_dropped(DeploySnapshot& snapshot, size_t count) {
    if (snapshot.fonts.size() <= count) return;
    snapshot.dropped.assign(std::make_move_iterator(snapshot.fonts.begin() + static_cast<std::ptrdiff_t>(count)),
                            std::make_move_iterator(snapshot.fonts.end()));
    snapshot.fonts.resize(count);
}

}  // namespace

DeploySnapshot read_checking(const String& title, const DeployPlaces& places, const std::vector<FoundFile>& entries,
                             std::vector<CheckedFont>& checked) {
    DeploySnapshot snapshot;
    const Surroundings read = read_surroundings(snapshot, title, places);
    // Every entry lies in the Font folder: one look at its drive serves them all.
    const Trust trust = is_network_path(places.font_folder) ? Trust::domain_admins_too : Trust::local_only;
    snapshot.fonts.resize(entries.size());
    checked.resize(entries.size());
    each_index_side_by_side(entries.size(), [&](size_t i) {
        check_entry(entries[i], places.destination, read.listing, trust, snapshot.fonts[i], checked[i]);
    });
    complete_snapshot(snapshot, read, copies_of_other_registrations(title, read, entries), places);
    move_past_to_dropped(snapshot, entries.size());
    probe_copies(snapshot.fonts, is_other);
    probe_copies(snapshot.dropped, is_there);
    return snapshot;
}

DeploySnapshot read_against_checked(const String& title, const DeployPlaces& places, const std::vector<CheckedFont>& fonts) {
    DeploySnapshot snapshot;
    const Surroundings read = read_surroundings(snapshot, title, places);
    snapshot.fonts.resize(fonts.size());
    each_index_side_by_side(fonts.size(), [&](size_t i) {
        snapshot.fonts[i] = facts_against(fonts[i].entry, fonts[i].digest, places.destination, read.listing);
    });
    complete_snapshot(snapshot, read, {}, places);
    return snapshot;
}

DeploySnapshot read_for_removal(const String& title, const DeployPlaces& places, const std::vector<FoundFile>& entries,
                                const std::vector<String>& copies) {
    DeploySnapshot snapshot;
    const Surroundings read = read_surroundings(snapshot, title, places);
    // An entry that cannot be read is no font of ours: no copy to measure.
    std::vector<std::optional<FontFacts>> measured(entries.size());
    each_index_side_by_side(entries.size(), [&](size_t i) {
        HeldFile source;
        uint64_t digest = 0;
        if (open_for_reading(entries[i].path, source) || digest_held(source, digest)) return;
        measured[i] = facts_against(entries[i], digest, places.destination, read.listing);
    });
    for (std::optional<FontFacts>& font : measured) {
        if (font) snapshot.fonts.push_back(std::move(*font));
    }
    // A copy named only by a refused text is never deleted through it.
    std::vector<String> all = copies;
    for (size_t i = 0; i < read.key.values.size(); ++i) {
        const RegistryValue& value = read.key.values[i];
        if (uninstall_takes(title, value.name, value.type) && read.resolved[i].refusal.empty()) all.push_back(read.resolved[i].path);
    }
    complete_snapshot(snapshot, read, all, places);
    probe_copies(snapshot.fonts, is_there);
    return snapshot;
}

PackageState read_package(const String& title, const CheckedFont& typeloader) {
    PackageState package;
    package.entry_key = entry_key_path(title);
    {
        RegistryKey key;
        package.entry_status = open_machine_key(package.entry_key, key);
        if (!package.entry_status) package.entry_status = read_all_values(key, package.entry);
    }
    package.deploy_source = executable_file();
    package.typeloader_digest = typeloader.digest;
    HeldFile program;
    PlatformStatus status = open_for_reading(package.deploy_source, program);
    if (!status) status = digest_held(program, package.deploy_digest);
    if (status) package.kept_state.refusal = with_error(package.deploy_source + u" cannot be read", status);
    String program_files;
    if (PlatformStatus located = program_files_folder(program_files)) {
        package.kept_state.refusal = with_error(u"the Program Files folder cannot be located", located);
        return package;
    }
    package.kept = kept_copy_of(program_files, title);
    const String unreadable = package.kept_state.refusal;
    package.kept_state = read_kept_copy(package.kept, package.deploy_digest, package.typeloader_digest);
    if (package.kept_state.refusal.empty()) package.kept_state.refusal = unreadable;
    return package;
}
