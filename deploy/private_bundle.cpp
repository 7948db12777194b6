#include "deploy/private_bundle.h"

#include "deploy/deploy_jobs.h"
#include "fonts/typeloader_contract.h"
#include "platform/open_files.h"
#include "platform/security.h"

namespace {

// Copies the file and reads both back: the copy must hold the original's bytes.
PlatformStatus copy_checked(const String& from, const String& to, bool& same) {
    same = false;
    if (PlatformStatus status = copy_file_replacing(from, to)) return status;
    return same_contents(from, to, same);
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

}  // namespace

bool make_private_bundle(DeployLog& log, const String& typeloader, const std::vector<FoundFile>& entries,
                         PrivateBundle& bundle) {
    bundle.folder = log.folder + private_bundle_name;
    bundle.typeloader = bundle.folder + u"\\Typeloader.exe";
    bundle.font_folder = bundle.folder + source_folder_suffix;
    std::vector<String> failures;
    remove_tree(bundle.folder, failures);
    PlatformStatus status = failures.empty() ? create_private_folder(bundle.folder) : status_already_exists;
    if (!status) status = create_private_folder(bundle.font_folder);
    bool same = true;
    String failed = bundle.folder;
    if (!status) {
        failed = typeloader;
        status = copy_checked(typeloader, bundle.typeloader, same);
    }
    for (size_t i = 0; i < entries.size() && !status && same; ++i) {
        FoundFile copy{entries[i].name, bundle.font_folder + u"\\" + entries[i].name};
        failed = entries[i].path;
        status = copy_checked(entries[i].path, copy.path, same);
        bundle.entries.push_back(copy);
    }
    if (status || !same) {
        log_record(log, RecordType::error, u"Private copy of " + failed + u" in " + bundle.folder +
                                               (status ? u" could not be made (error " + decimal_text(status) + u")."
                                                       : String(u" differs from it: the original changed meanwhile.")));
        remove_private_bundle(log, bundle);
        return false;
    }
    log_record(log, RecordType::information, u"Private copy of Typeloader.exe and " + decimal_text(entries.size()) +
                                                 u" fonts in " + bundle.folder + u", which only SYSTEM and Administrators may change: OK");
    return true;
}

void remove_private_bundle(DeployLog& log, const PrivateBundle& bundle) {
    std::vector<String> failures;
    remove_tree(bundle.folder, failures);
    for (const String& failure : failures) {
        log_record(log, RecordType::warning, u"Private copy " + failure + u" could not be removed.");
    }
}
