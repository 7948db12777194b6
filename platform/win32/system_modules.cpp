#include "platform/win32/system_modules.h"

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
