#include "platform/process.h"

#include "platform/win32_handles.h"  // <windows.h> first

#include <shellapi.h>

// shell32 is not a static import: the loader would bring it in before wmain,
// and with it dependencies that are not KnownDLLs (version.dll; profapi.dll
// and wldp.dll on some Windows builds), which it looks for beside the
// executable first. Loaded from System32 by its flag after the search is
// restricted, it cannot come from anywhere else.
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

String executable_folder() {
    // A path longer than MAX_PATH would be cut by a fixed buffer and point the
    // job at the wrong folder, so the buffer doubles until the whole path fits.
    // A truncated path comes back as the full buffer size, terminator dropped.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return String();
        if (length < buffer.size()) {
            String path = from_wide(buffer.data(), length);
            size_t slash = path.rfind(u'\\');
            return slash == String::npos ? String() : path.substr(0, slash);
        }
        buffer.assign(buffer.size() * 2, L'\0');
    }
}
