#include "deploy/private_bundle.h"

#include <algorithm>

#include "fonts/typeloader_contract.h"
#include "platform/deploy/open_files.h"
#include "platform/deploy/security.h"
#include "platform/deploy/side_by_side.h"

namespace {

// Copies the file through a handle that keeps others from writing it
// meanwhile: the copy holds the bytes read, and nothing else.
PlatformStatus copy_held(const String& from, const String& to, uint64_t& digest) {
    HeldFile source;
    if (PlatformStatus status = open_for_reading(from, source)) return status;
    return copy_held_file(source, to, digest);
}

struct Failure {
    String path;
    PlatformStatus status;
};

// Removes what lies at the path in a folder of our own: a folder with all
// it holds, a file, or a link as the link itself (a folder link by
// RemoveDirectory, a file link by DeleteFile), never walking through a link
// to what it points at. A missing entry is fine.
void remove_tree(const String& path, std::vector<Failure>& failures) {
    EntryKind kind = EntryKind::missing;
    PlatformStatus status = entry_kind(path, kind);
    if (!status && kind == EntryKind::folder) {
        find_files(path + u"\\*", [&](const FoundFile& found) {
            if (found.name != u"." && found.name != u"..") remove_tree(found.path, failures);
        });
        status = remove_folder(path);
    } else if (!status && kind == EntryKind::reparse_point) {
        status = remove_folder(path);
        if (status) status = delete_file(path);
    } else if (!status && kind == EntryKind::file) {
        status = delete_file(path);
    }
    if (status && status != status_file_not_found && status != status_path_not_found) failures.push_back({path, status});
}

// The path with each folder's name spelled as stored. Where names are
// case-sensitive beneath (Wine's C:\windows\logs), a path spelled otherwise is
// found only by reading the parent folder, again for every file opened under it.
String spelled_as_stored(const String& path) {
    size_t end = path.find(u'\\');
    if (end == String::npos) return path;
    String stored = path.substr(0, end);
    while (end < path.size()) {
        const size_t next = std::min(path.find(u'\\', end + 1), path.size());
        const String spelled = stored + path.substr(end, next - end);
        stored = spelled;
        find_files(spelled, [&](const FoundFile& found) { stored = found.path; });
        end = next;
    }
    return stored;
}

}  // namespace

namespace {

// Copies every font side by side through the handle its check read; the
// first font in order whose copy failed, or holds other bytes, is `failed`.
PlatformStatus copy_fonts(std::vector<CheckedFont>& fonts, const PrivateBundle& bundle, String& failed, bool& same) {
    std::vector<PlatformStatus> statuses(fonts.size());
    std::vector<uint64_t> made(fonts.size());
    each_index_side_by_side(fonts.size(), [&](size_t i) {
        if (fonts[i].held) {
            statuses[i] = copy_held_file(fonts[i].held, bundle.fonts[i].entry.path, made[i]);
            fonts[i].held.reset();
        } else {
            statuses[i] = copy_held(fonts[i].entry.path, bundle.fonts[i].entry.path, made[i]);
        }
    });
    for (size_t i = 0; i < fonts.size(); ++i) {
        failed = fonts[i].entry.path;
        same = made[i] == fonts[i].digest;
        if (statuses[i] || !same) return statuses[i];
    }
    return status_success;
}

}  // namespace

bool make_private_bundle(DeployLog& log, CheckedFont& typeloader, std::vector<CheckedFont>& fonts, PrivateBundle& bundle) {
    bundle.folder = spelled_as_stored(log.folder) + private_bundle_name;
    bundle.typeloader = bundle.folder + u"\\Typeloader.exe";
    bundle.font_folder = bundle.folder + source_folder_suffix;
    bundle.aside_folder = bundle.folder + u"\\Aside";
    std::vector<Failure> left;
    remove_tree(bundle.folder, left);
    // A folder a run that ended abnormally left, which cannot be emptied.
    PlatformStatus status = left.empty() ? create_private_folder(bundle.folder) : left.front().status;
    if (!status) status = create_private_folder(bundle.font_folder);
    if (!status) status = create_private_folder(bundle.aside_folder);
    String failed = left.empty() ? bundle.folder : left.front().path;
    bool same = true;
    if (!status) {
        failed = typeloader.entry.path;
        uint64_t made = 0;
        status = typeloader.held ? copy_held_file(typeloader.held, bundle.typeloader, made)
                                 : copy_held(typeloader.entry.path, bundle.typeloader, made);
        typeloader.held.reset();
        same = made == typeloader.digest;
    }
    if (!status && same) {
        for (const CheckedFont& font : fonts) {
            bundle.fonts.push_back({{font.entry.name, bundle.font_folder + u"\\" + font.entry.name}, font.digest, HeldFile()});
        }
        status = copy_fonts(fonts, bundle, failed, same);
    }
    if (status || !same) {
        log_record(log, RecordType::error, u"Private copy of " + failed + u" in " + bundle.folder +
                                               (status ? with_error(u" could not be made", status) + u"."
                                                       : String(u": its bytes are not those checked; it changed after its check.")));
        remove_private_bundle(log, bundle);
        return false;
    }
    // A record that cannot be written stops the run at its next step.
    log_record(log, RecordType::information, u"Private copy of Typeloader.exe and " + decimal_text(fonts.size()) + u" fonts in " +
                                                 bundle.folder + u", which only SYSTEM and Administrators may change: OK");
    return true;
}

namespace {

void log_left(DeployLog& log, const std::vector<Failure>& failures) {
    for (const Failure& failure : failures) {
        log_record(log, RecordType::warning, with_error(u"Private copy " + failure.path, failure.status) + u" could not be removed.");
    }
}

}  // namespace

void remove_unfinished_private_bundle(DeployLog& log) {
    std::vector<Failure> failures;
    remove_tree(spelled_as_stored(log.folder) + private_bundle_name, failures);
    log_left(log, failures);
}

void remove_private_bundle(DeployLog& log, const PrivateBundle& bundle) {
    // What this run made goes by name; anything else found then, by a walk.
    std::vector<Failure> failures;
    for (const CheckedFont& font : bundle.fonts) delete_file(font.entry.path);
    delete_file(bundle.typeloader);
    PlatformStatus status = remove_folder(bundle.font_folder);
    if (!status) status = remove_folder(bundle.aside_folder);
    if (!status) status = remove_folder(bundle.folder);
    if (status) remove_tree(bundle.folder, failures);
    log_left(log, failures);
}
