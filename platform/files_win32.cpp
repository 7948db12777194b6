#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <memory>

#include "platform/files.h"

namespace {

const wchar_t* wide(const String& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

String from_wide(const wchar_t* text) { return String(reinterpret_cast<const char16_t*>(text)); }

String from_wide(const wchar_t* text, size_t length) {
    return String(reinterpret_cast<const char16_t*>(text), length);
}

struct ArgvReleaser {
    void operator()(wchar_t** list) const { LocalFree(list); }
};

// shell32 is not a static import: the loader would bring it in before wmain,
// and with it dependencies that are not KnownDLLs (version.dll; profapi.dll
// and wldp.dll on some Windows builds), which it looks for beside the
// executable first. Loaded here, after the search is restricted, and from
// System32 by name, it cannot come from anywhere else.
struct ModuleFreer {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using LoadedModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

// The shell32 function of that name, or null when shell32 or the function
// cannot be had. shell32 stays loaded until the process exits.
template <typename Function>
Function* shell_function(const char* name) {
    static const LoadedModule shell32(LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!shell32) return nullptr;
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(shell32.get(), name)));
}

// FOLDERID_Fonts, spelt out so that no shell library is linked for it.
const KNOWNFOLDERID fonts_folder_id = {0xFD228CB7, 0xAE11, 0x4AE3, {0x86, 0x4C, 0x16, 0xF3, 0x91, 0x0A, 0xB8, 0xFE}};

struct FindCloser {
    void operator()(HANDLE handle) const { FindClose(handle); }
};
using FindHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;

// Calls `fill(buffer, size)` with a growing buffer until the result fits.
// `fill` returns the length written, or a value >= size when it did not fit.
template <typename Fill>
String fetch_growing(DWORD first_size, Fill fill) {
    std::wstring buffer(first_size, L'\0');
    for (;;) {
        DWORD written = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (written == 0) return String();
        if (written < buffer.size()) return from_wide(buffer.data(), written);
        buffer.assign(buffer.size() > written ? buffer.size() * 2 : written + 1, L'\0');
    }
}

}  // namespace

bool restrict_dll_search_to_system32() {
    return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

bool has_own_module_handle() { return GetModuleHandleW(nullptr) != nullptr; }

void quiet_error_mode() {
    UINT mode = SetErrorMode(0);
    SetErrorMode(mode | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

String full_command_line() { return from_wide(GetCommandLineW()); }

bool split_command_line(const String& command_line, std::vector<String>& arguments) {
    arguments.clear();
    auto split = shell_function<decltype(CommandLineToArgvW)>("CommandLineToArgvW");
    if (!split) return false;
    int count = 0;
    std::unique_ptr<wchar_t*, ArgvReleaser> list(split(wide(command_line), &count));
    if (!list) return false;
    for (int i = 0; i < count; ++i) arguments.push_back(from_wide(list.get()[i]));
    return true;
}

String executable_folder() {
    // A path longer than MAX_PATH would be cut by a fixed buffer and point the
    // job at the wrong folder, so the buffer grows until the whole path fits.
    String path = fetch_growing(MAX_PATH, [](wchar_t* buffer, DWORD size) {
        DWORD length = GetModuleFileNameW(nullptr, buffer, size);
        return length == size ? size : length;  // a full buffer means truncated
    });
    size_t slash = path.rfind(u'\\');
    return slash == String::npos ? String() : path.substr(0, slash);
}

int32_t system_fonts_folder(String& path) {
    auto known_folder_path = shell_function<decltype(SHGetKnownFolderPath)>("SHGetKnownFolderPath");
    // SHFree releases the shell allocator's memory without pulling in ole32.
    auto shell_free = shell_function<decltype(SHFree)>("SHFree");
    if (!known_folder_path || !shell_free) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    wchar_t* found = nullptr;
    HRESULT status = known_folder_path(fonts_folder_id, 0, nullptr, &found);
    auto release = [shell_free](wchar_t* text) { shell_free(text); };
    std::unique_ptr<wchar_t, decltype(release)> owned(found, release);
    if (status != S_OK) return status;
    path = from_wide(found);
    return 0;
}

String temporary_folder() {
    return fetch_growing(MAX_PATH, [](wchar_t* buffer, DWORD size) {
        // Too small a buffer gives the size needed, terminator included.
        return GetTempPathW(size, buffer);
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
    FindHandle search(FindFirstFileW(wide(pattern), &data));
    if (search.get() == INVALID_HANDLE_VALUE) {
        search.release();
        return;
    }
    do {
        FoundFile found;
        found.name = from_wide(data.cFileName);
        found.path = root + found.name;
        found.title = file_title(found.name);
        each(found);
    } while (FindNextFileW(search.get(), &data));
}
