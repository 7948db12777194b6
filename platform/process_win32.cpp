#include "platform/process.h"

#include "platform/growing_buffer.h"
#include "platform/win32_handles.h"  // <windows.h> first

#include <shellapi.h>

// shell32, ole32 and version.dll (no KnownDLL at all) are not static
// imports. Windows serves a KnownDLL and its
// dependencies from System32 whatever lies beside the executable, but the
// loader resolves static imports before wmain can restrict the search, and
// the import table keeps to the DLLs that are KnownDLLs on every Windows
// (kernel32, advapi32, msvcrt). Loaded here with LOAD_LIBRARY_SEARCH_SYSTEM32,
// after the search is restricted, they cannot come from anywhere else.
HMODULE kept_system_module(SystemModule which) {
    switch (which) {
        case SystemModule::shell32: {
            static const HMODULE shell32 = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
            return shell32;
        }
        case SystemModule::ole32: {
            static const HMODULE ole32 = LoadLibraryExW(L"ole32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
            return ole32;
        }
        case SystemModule::version: {
            static const HMODULE version = LoadLibraryExW(L"version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
            return version;
        }
    }
    return nullptr;
}

PlatformStatus restrict_dll_search_to_system32() {
    if (SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return ERROR_SUCCESS;
    return GetLastError();
}

bool has_own_module_handle() { return GetModuleHandleW(nullptr) != nullptr; }

void quiet_error_mode() {
    static_assert(quiet_error_mode_flags == (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
    UINT mode = SetErrorMode(0);
    SetErrorMode(mode | quiet_error_mode_flags);
}

String full_command_line() { return from_wide(GetCommandLineW()); }

PlatformStatus split_command_line(const String& command_line, std::vector<String>& arguments) {
    arguments.clear();
    auto split = system_function<decltype(CommandLineToArgvW)>(SystemModule::shell32, "CommandLineToArgvW");
    if (!split) return status_module_not_found;
    int count = 0;
    unique_argv list(split(wide(command_line), &count));
    if (!list) return GetLastError();
    for (int i = 0; i < count; ++i) arguments.push_back(from_wide(list.get()[i]));
    return ERROR_SUCCESS;
}

String executable_file() {
    // A path longer than MAX_PATH would be cut by a fixed buffer and point the
    // job at the wrong folder, so the buffer grows until the whole path fits.
    return fetch_growing(MAX_PATH, [](char16_t* buffer, size_t size) -> size_t {
        return GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(buffer), static_cast<DWORD>(size));
    });
}

String executable_folder() {
    String path = executable_file();
    size_t slash = path.rfind(u'\\');
    return slash == String::npos ? String() : path.substr(0, slash);
}
