#include "platform/security.h"

#include "platform/win32/win32_handles.h"  // <windows.h> first

#include <aclapi.h>
#include <sddl.h>

namespace {

using unique_security_descriptor = UniqueHandle<PSECURITY_DESCRIPTOR, free_local>;

// Owner Administrators; full access for SYSTEM and Administrators, inherited
// by what is made inside; nothing inherited from the parent (protected).
constexpr wchar_t private_folder_sddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Any right that lets a holder change the folder's contents or its security.
constexpr ACCESS_MASK changing_rights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                        FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                        GENERIC_ALL | MAXIMUM_ALLOWED;

bool is_trusted(PSID sid) {
    return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

// TrustedInstaller, which owns and may change Windows' own folders.
bool is_trusted_installer(PSID sid) {
    static const wchar_t text[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    UniqueHandle<PSID, free_local> installer;
    if (!ConvertStringSidToSidW(text, installer.put())) return false;
    return EqualSid(sid, installer.get());
}

// Wine keeps no owner or access list in the file system: every file belongs
// to the account running Wine, whose Unix mode bits stand in for the access
// list. Under Wine that account counts as trusted too, so that the rest of
// the check (kind, link, write access for others) can be exercised there.
// Windows' own ntdll never has this export.
bool is_wine_account(PSID sid) {
    static const bool under_wine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    if (!under_wine) return false;
    unique_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    alignas(TOKEN_USER) unsigned char buffer[256];
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size)) return false;
    return EqualSid(sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

bool may_own(PSID sid) { return is_trusted(sid) || is_trusted_installer(sid) || is_wine_account(sid); }

}  // namespace

PlatformStatus check_private_folder(const String& path, FolderCheck& result) {
    result = FolderCheck::missing;
    DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD status = GetLastError();
        return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : status;
    }
    // The folder itself, never what a link points at.
    unique_hfile folder(CreateFileW(wide(path), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
    if (!folder) return GetLastError();
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(folder.get(), &information)) return GetLastError();
    // Both the path's and the handle's view: Wine reports a link only by path.
    if ((information.dwFileAttributes | attributes) & FILE_ATTRIBUTE_REPARSE_POINT) {
        result = FolderCheck::reparse_point;
        return ERROR_SUCCESS;
    }
    if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        result = FolderCheck::not_a_folder;
        return ERROR_SUCCESS;
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    unique_security_descriptor descriptor;
    if (PlatformStatus status = GetSecurityInfo(folder.get(), SE_FILE_OBJECT,
                                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                                                &dacl, nullptr, descriptor.put())) {
        return status;
    }
    if (!owner || !may_own(owner)) {
        result = FolderCheck::foreign_owner;
        return ERROR_SUCCESS;
    }
    result = FolderCheck::others_may_change;
    if (!dacl) return ERROR_SUCCESS;  // a null DACL grants everyone everything
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, index, reinterpret_cast<void**>(&header))) return GetLastError();
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;  // applies only to what is inside
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return ERROR_SUCCESS;  // a kind not judged: not trusted
        auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        PSID sid = &allowed->SidStart;
        if ((allowed->Mask & changing_rights) && !may_own(sid)) return ERROR_SUCCESS;
    }
    result = FolderCheck::safe;
    return ERROR_SUCCESS;
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
