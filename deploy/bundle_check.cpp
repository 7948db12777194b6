#include "deploy/bundle_check.h"

#include "deploy/access_rule.h"
#include "deploy/names.h"
#include "platform/deploy/file_entries.h"
#include "platform/deploy/security.h"

namespace {

enum class Expected { folder, file };

// Empty when the object passes; else the sentence that refuses it.
String object_refusal(const String& path, Expected expected, bool judge_created_inside) {
    ObjectSecurity security;
    if (PlatformStatus status = read_object_security(path, security)) {
        if (status == status_file_not_found || status == status_path_not_found) return path + u": it does not exist";
        return with_error(path + u": its owner and permissions cannot be read", status);
    }
    if (security.reparse_point) return path + u": it is a link or another reparse point";
    if (expected == Expected::folder && !security.is_folder) return path + u": it is not a folder";
    if (expected == Expected::file && security.is_folder) return path + u": it is a folder";
    const Trust trust = is_network_path(path) ? Trust::domain_admins_too : Trust::local_only;
    String reason = access_refusal(security, AccessTarget::object_itself, trust);
    // Whoever may change a file made there later could change a font or a DLL added to it.
    if (reason.empty() && judge_created_inside) reason = access_refusal(security, AccessTarget::file_created_inside, trust);
    return reason.empty() ? String() : path + u": " + reason;
}

// Where the root ends: after "X:\", or after "\\server\share\" (each behind an
// optional "\\?\" or "\\.\"; "\\?\UNC\" names a share).
size_t root_length(StringView path) {
    size_t at = 0;
    size_t separators = 1;  // "X:\"
    if (path.starts_with(u"\\\\?\\UNC\\")) {
        at = 8;
        separators = 2;
    } else if (path.starts_with(u"\\\\?\\") || path.starts_with(u"\\\\.\\")) {
        at = 4;
    } else if (path.starts_with(u"\\\\")) {
        at = 2;
        separators = 2;
    }
    for (; separators > 0 && at < path.size(); --separators) {
        const size_t next = path.find(u'\\', at);
        at = next == StringView::npos ? path.size() : next + 1;
    }
    return at;
}

}  // namespace

std::vector<String> folders_on_the_way(StringView path) {
    std::vector<String> folders;
    for (size_t at = path.find(u'\\', root_length(path)); at != StringView::npos; at = path.find(u'\\', at + 1)) {
        folders.emplace_back(path.substr(0, at));
    }
    return folders;
}

std::vector<String> bundle_refusals(const String& program_folder, const String& typeloader_exe, const String& font_folder) {
    std::vector<String> refusals;
    auto judge = [&](const String& path, Expected expected, bool judge_created_inside) {
        if (String refusal = object_refusal(path, expected, judge_created_inside); !refusal.empty()) {
            refusals.push_back(refusal);
        }
    };
    // An empty folder would make every path below relative to the drive's root
    // or the current folder: never taken as the bundle.
    if (program_folder.empty()) {
        refusals.push_back(u"the folder of Typeloader-Deploy.exe and Typeloader.exe is unknown (an empty path)");
    } else {
        for (const String& folder : folders_on_the_way(program_folder)) {
            EntryKind kind = EntryKind::missing;
            if (!entry_kind(folder, kind) && kind == EntryKind::reparse_point) {
                refusals.push_back(folder + u": it is a link or another reparse point, on the way to the bundle");
            }
        }
        judge(program_folder, Expected::folder, true);
    }
    if (!font_folder.empty()) judge(font_folder, Expected::folder, true);
    judge(typeloader_exe, Expected::file, false);
    return refusals;
}
