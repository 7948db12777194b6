#include "platform/process.h"

#include "platform/growing_buffer.h"
#include "platform/win32/system_modules.h"
#include "platform/win32/win32_handles.h"  // <windows.h> first

#include <shellapi.h>

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
