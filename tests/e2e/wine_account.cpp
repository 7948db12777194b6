// Linked only into the test bed's Typeloader-Deploy.exe, never shipped.
//
// Wine keeps no owner or access list for a file: every file belongs to the
// account running Wine, and the Unix mode bits stand in for the access list.
// The deploy trusts only SYSTEM, Administrators and TrustedInstaller, so under
// Wine it would refuse every bundle. This link names that account
// Administrators wherever the security reader turns a SID into text, so the
// rest of the checks (kind, link, write access for others) run under Wine.
//
// The reader calls ConvertSidToStringSidW through its import pointer
// __imp_ConvertSidToStringSidW. Defined here, that pointer is taken before
// libadvapi32.a's, so the product's objects are linked unchanged.
#include "platform/win32/win32_handles.h"  // <windows.h> first

#include <cwchar>
#include <vector>

namespace {

using ConvertSid = BOOL(WINAPI*)(PSID, LPWSTR*);

// Read before main, while only one thread runs; empty when unreadable.
std::vector<unsigned char> read_own_account() {
    std::vector<unsigned char> user(256);
    unique_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, user.data(), static_cast<DWORD>(user.size()), &size)) return {};
    return user;
}

const std::vector<unsigned char> own_account = read_own_account();

BOOL WINAPI text_of_sid(PSID sid, LPWSTR* text) {
    const wchar_t administrators[] = L"S-1-5-32-544";
    if (!own_account.empty() && EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(own_account.data())->User.Sid)) {
        *text = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, sizeof(administrators)));
        if (!*text) return FALSE;
        wmemcpy(*text, administrators, sizeof(administrators) / sizeof(wchar_t));
        return TRUE;
    }
    // advapi32 is loaded: the exe imports it.
    static_assert(sizeof(FARPROC) == sizeof(ConvertSid));
    auto convert = reinterpret_cast<ConvertSid>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "ConvertSidToStringSidW")));
    if (!convert) return FALSE;
    return convert(sid, text);
}

}  // namespace

extern "C" {
ConvertSid __imp_ConvertSidToStringSidW = text_of_sid;
}
