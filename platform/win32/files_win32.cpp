#include "platform/files.h"

#include "platform/growing_buffer.h"
#include "platform/win32/win32_handles.h"  // <windows.h> first
#include "platform/win32/system_modules.h"

#include <shlobj.h>

namespace {

// FOLDERID_Fonts, spelt out so that no shell library is linked for it.
const KNOWNFOLDERID fonts_folder_id = {0xFD228CB7, 0xAE11, 0x4AE3, {0x86, 0x4C, 0x16, 0xF3, 0x91, 0x0A, 0xB8, 0xFE}};

// Frees the known-folder path with the COM allocator, as SHGetKnownFolderPath
// requires. ole32 is loaded with shell32 already; should CoTaskMemFree still
// not be found, the few bytes are left to the process's end rather than the
// Fonts folder given up.
void free_known_folder_path(wchar_t* path) {
    static const auto free_task_memory = system_function<decltype(CoTaskMemFree)>(SystemModule::ole32, "CoTaskMemFree");
    if (path && free_task_memory) free_task_memory(path);
}

using unique_cotaskmem_string = UniqueHandle<wchar_t*, free_known_folder_path>;

}  // namespace

PlatformStatus system_fonts_folder(String& path) {
    auto known_folder_path = system_function<decltype(SHGetKnownFolderPath)>(SystemModule::shell32, "SHGetKnownFolderPath");
    if (!known_folder_path) return status_module_not_found;
    unique_cotaskmem_string found;
    if (PlatformStatus status = static_cast<PlatformStatus>(known_folder_path(fonts_folder_id, 0, nullptr, found.put()))) {
        return status;
    }
    path = from_wide(found.get());
    return ERROR_SUCCESS;
}

String temporary_folder() {
    // GetTempPath2W gives SYSTEM the system's own temporary folder
    // (C:\Windows\SystemTemp), which other users cannot write; GetTempPathW
    // gives C:\Windows\Temp, where any user may plant a junction. For every
    // other caller the two agree. Windows releases before it lack the call.
    using TempPathFunction = DWORD WINAPI(DWORD, LPWSTR);
    static TempPathFunction* const get_temp_path = [] {
        auto newer = reinterpret_cast<TempPathFunction*>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
        return newer ? newer : &GetTempPathW;
    }();
    return fetch_growing(MAX_PATH, [](char16_t* buffer, size_t size) -> size_t {
        return get_temp_path(static_cast<DWORD>(size), reinterpret_cast<wchar_t*>(buffer));
    });
}

void create_folder(const String& path) { CreateDirectoryW(wide(path), nullptr); }

void copy_file(const String& from, const String& to) { CopyFileW(wide(from), wide(to), FALSE); }

void find_files(const String& pattern, const std::function<void(const FoundFile&)>& each) {
    if (pattern.size() >= finder_pattern_limit) return;

    wchar_t full[MAX_PATH];
    wchar_t* name_part = nullptr;
    DWORD full_length = GetFullPathNameW(wide(pattern), MAX_PATH, full, &name_part);
    if (full_length == 0 || full_length >= MAX_PATH) return;
    String root = from_wide(full, full_length);
    root.erase(root.rfind(u'\\') + 1);  // drive and folder, with the backslash

    WIN32_FIND_DATAW data;
    unique_hfind search(FindFirstFileW(wide(pattern), &data));
    if (!search) return;
    do {
        FoundFile found;
        found.name = from_wide(data.cFileName);
        found.path = root + found.name;
        each(found);
    } while (FindNextFileW(search.get(), &data));
}
