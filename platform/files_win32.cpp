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

struct ShellFree {
    // SHFree releases the shell allocator's memory without pulling in ole32.
    void operator()(wchar_t* text) const { SHFree(text); }
};

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

bool has_own_module_handle() { return GetModuleHandleW(nullptr) != nullptr; }

void quiet_error_mode() {
    UINT mode = SetErrorMode(0);
    SetErrorMode(mode | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

String full_command_line() { return from_wide(GetCommandLineW()); }

bool split_command_line(const String& command_line, std::vector<String>& arguments) {
    arguments.clear();
    int count = 0;
    std::unique_ptr<wchar_t*, ArgvReleaser> list(CommandLineToArgvW(wide(command_line), &count));
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
    wchar_t* found = nullptr;
    HRESULT status = SHGetKnownFolderPath(FOLDERID_Fonts, 0, nullptr, &found);
    std::unique_ptr<wchar_t, ShellFree> owned(found);
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
