#include "platform/deploy/open_files.h"
#include "platform/deploy/security.h"

#include "platform/win32/deploy/handle_facts.h"  // <windows.h> first

#include <sddl.h>

#include <vector>

namespace {

using unique_security_descriptor = UniqueHandle<PSECURITY_DESCRIPTOR, free_local>;

// Owner Administrators; full access for SYSTEM and Administrators, inherited
// by what is made inside; nothing inherited from the parent (protected).
constexpr wchar_t private_folder_sddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

PlatformStatus sid_text(PSID sid, String& text) {
    UniqueHandle<wchar_t*, free_local> converted;
    if (!ConvertSidToStringSidW(sid, converted.put())) return GetLastError();
    text = reinterpret_cast<const char16_t*>(converted.get());
    return ERROR_SUCCESS;
}

// The owner and every access entry of the object the handle refers to.
PlatformStatus read_handle_security(HANDLE object, ObjectSecurity& security) {
    // Read into room for any usual descriptor at once: asking for the size
    // first would cost a second look for every font.
    std::vector<unsigned char> descriptor(1024);
    DWORD needed = 0;
    while (!GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor.data(),
                                    static_cast<DWORD>(descriptor.size()), &needed)) {
        const DWORD status = GetLastError();
        if (status != ERROR_INSUFFICIENT_BUFFER || needed <= descriptor.size()) return status;
        descriptor.resize(needed);
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL owner_defaulted = FALSE, dacl_present = FALSE, dacl_defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor.data(), &owner, &owner_defaulted)) return GetLastError();
    if (!GetSecurityDescriptorDacl(descriptor.data(), &dacl_present, &dacl, &dacl_defaulted)) return GetLastError();
    if (!dacl_present) dacl = nullptr;
    security.owner.clear();
    if (owner) {
        if (PlatformStatus status = sid_text(owner, security.owner)) return status;
    }
    security.has_dacl = dacl != nullptr;  // a NULL DACL grants everyone everything
    security.dacl.clear();
    for (DWORD index = 0; dacl && index < dacl->AceCount; ++index) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, index, reinterpret_cast<void**>(&header))) return GetLastError();
        AccessEntry entry;
        entry.flags = header->AceFlags;
        // ACCESS_ALLOWED_ACE and ACCESS_DENIED_ACE share one layout; any other
        // type (object, callback, ...) is kept as one the rule never trusts.
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            entry.allow = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
            entry.mask = ace->Mask;
            if (PlatformStatus status = sid_text(&ace->SidStart, entry.trustee)) return status;
        } else {
            entry.other_type = true;
        }
        security.dacl.push_back(entry);
    }
    return ERROR_SUCCESS;
}

}  // namespace

PlatformStatus read_object_security(const String& path, ObjectSecurity& security) {
    security = ObjectSecurity{};
    DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
    // Both the path's and the handle's view: Wine reports a link only by path.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        security.reparse_point = true;
        return ERROR_SUCCESS;
    }
    // The object itself, never what a link points at; a folder too.
    unique_hfile object(CreateFileW(wide(path), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
    if (!object) return GetLastError();
    DWORD kind = 0;
    if (PlatformStatus status = handle_attributes(object.get(), kind)) return status;
    security.reparse_point = kind & FILE_ATTRIBUTE_REPARSE_POINT;
    security.is_folder = kind & FILE_ATTRIBUTE_DIRECTORY;
    if (security.reparse_point) return ERROR_SUCCESS;
    return read_handle_security(object.get(), security);
}

// A held file is the CreateFileW handle itself (platform/win32/deploy/
// open_files_win32.cpp); the log is opened with READ_CONTROL for this.
PlatformStatus read_held_file_security(const HeldFile& file, ObjectSecurity& security) {
    security = ObjectSecurity{};
    HANDLE object = reinterpret_cast<HANDLE>(file.get());
    DWORD kind = 0;
    if (PlatformStatus status = handle_attributes(object, kind)) return status;
    security.reparse_point = kind & FILE_ATTRIBUTE_REPARSE_POINT;
    security.is_folder = kind & FILE_ATTRIBUTE_DIRECTORY;
    return read_handle_security(object, security);
}

bool is_network_path(const String& path) {
    String rest = path;
    if (rest.starts_with(u"\\\\?\\UNC\\")) return true;
    // \\?\C:\ and \\.\C:\ name a drive's path without the Win32 parsing.
    if (rest.starts_with(u"\\\\?\\") || rest.starts_with(u"\\\\.\\")) rest.erase(0, 4);
    else if (rest.starts_with(u"\\\\") || rest.starts_with(u"//")) return true;
    if (rest.size() < 2 || rest[1] != u':') return false;
    const String root = rest.substr(0, 2) + u"\\";
    return GetDriveTypeW(wide(root)) == DRIVE_REMOTE;
}

PlatformStatus create_private_folder(const String& path) {
    unique_security_descriptor descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(private_folder_sddl, SDDL_REVISION_1, descriptor.put(),
                                                              nullptr)) {
        return GetLastError();
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    if (CreateDirectoryW(wide(path), &attributes)) return ERROR_SUCCESS;
    return GetLastError();
}
