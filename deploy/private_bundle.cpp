#include "deploy/private_bundle.h"

#include <algorithm>

#include "deploy/deploy_jobs.h"
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

// Removes every file of a folder of our own, then the folder; a missing one
// is fine.
void remove_tree(const String& folder, std::vector<String>& failures) {
    find_files(folder + u"\\*", [&](const FoundFile& found) {
        if (found.name == u"." || found.name == u"..") return;
        EntryKind kind = EntryKind::missing;
        if (!entry_kind(found.path, kind) && kind == EntryKind::folder) {
            remove_tree(found.path, failures);
        } else if (PlatformStatus status = delete_file(found.path)) {
            failures.push_back(found.path + u" (error " + decimal_text(status) + u")");
        }
    });
    PlatformStatus status = remove_folder(folder);
    if (status && status != status_file_not_found && status != status_path_not_found) {
        failures.push_back(folder + u" (error " + decimal_text(status) + u")");
    }
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

bool make_private_bundle(DeployLog& log, const String& typeloader, const std::vector<FoundFile>& entries,
                         const std::vector<uint64_t>& digests, std::vector<HeldFile>& held, PrivateBundle& bundle) {
    bundle.folder = spelled_as_stored(log.folder) + private_bundle_name;
    bundle.typeloader = bundle.folder + u"\\Typeloader.exe";
    bundle.font_folder = bundle.folder + source_folder_suffix;
    std::vector<String> failures;
    remove_tree(bundle.folder, failures);
    PlatformStatus status = failures.empty() ? create_private_folder(bundle.folder) : status_already_exists;
    if (!status) status = create_private_folder(bundle.font_folder);
    String failed = bundle.folder;
    if (!status) {
        failed = typeloader;
        uint64_t ignored = 0;
        status = copy_held(typeloader, bundle.typeloader, ignored);
    }
    bool same = true;
    if (!status) {
        for (const FoundFile& entry : entries) bundle.entries.push_back({entry.name, bundle.font_folder + u"\\" + entry.name});
        std::vector<PlatformStatus> statuses(entries.size());
        std::vector<uint64_t> made(entries.size());
        each_index_side_by_side(entries.size(), [&](size_t i) {
            if (i < held.size() && held[i]) {
                statuses[i] = copy_held_file(held[i], bundle.entries[i].path, made[i]);
                held[i].reset();
            } else {
                statuses[i] = copy_held(entries[i].path, bundle.entries[i].path, made[i]);
            }
        });
        for (size_t i = 0; i < entries.size() && !status && same; ++i) {
            failed = entries[i].path;
            status = statuses[i];
            same = i >= digests.size() || made[i] == digests[i];
        }
    }
    if (status || !same) {
        log_record(log, RecordType::error, u"Private copy of " + failed + u" in " + bundle.folder +
                                               (status ? u" could not be made (error " + decimal_text(status) + u")."
                                                       : String(u": its bytes are not those checked; it changed after its check.")));
        remove_private_bundle(log, bundle);
        return false;
    }
    log_record(log, RecordType::information, u"Private copy of Typeloader.exe and " + decimal_text(entries.size()) +
                                                 u" fonts in " + bundle.folder + u", which only SYSTEM and Administrators may change: OK");
    return true;
}

void remove_private_bundle(DeployLog& log, const PrivateBundle& bundle) {
    // What this run made goes by name; anything else found then, by a walk.
    std::vector<String> failures;
    for (const FoundFile& entry : bundle.entries) delete_file(entry.path);
    delete_file(bundle.typeloader);
    PlatformStatus status = remove_folder(bundle.font_folder);
    if (!status) status = remove_folder(bundle.folder);
    if (status) remove_tree(bundle.folder, failures);
    for (const String& failure : failures) {
        log_record(log, RecordType::warning, u"Private copy " + failure + u" could not be removed.");
    }
}
