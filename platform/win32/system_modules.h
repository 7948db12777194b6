#pragma once

// System DLLs that are not KnownDLLs, loaded at run time from System32 only
// (a static import would be looked for beside the executable first).
// Included only by the Win32 layer.

#include <windows.h>

enum class SystemModule { shell32, ole32, version };

// Loaded on first use and kept for the life of the process: never freed, so
// nothing unloads it inside exit() while the runtime still flushes. Null when
// it cannot be loaded.
HMODULE kept_system_module(SystemModule which);

// The named function of a kept system DLL, or null.
template <typename Function>
Function* system_function(SystemModule module, const char* name) {
    HMODULE loaded = kept_system_module(module);
    if (!loaded) return nullptr;
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(loaded, name)));
}
