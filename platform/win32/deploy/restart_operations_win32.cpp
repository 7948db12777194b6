#include "platform/deploy/restart_operations.h"

#include "platform/win32/win32_handles.h"  // <windows.h> first

PlatformStatus read_pending_file_renames(StringView value, String& units) {
    units.clear();
    unique_hkey key;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_QUERY_VALUE,
                                   key.put());
    if (status != ERROR_SUCCESS) return status;
    const String name(value);
    std::string data;
    for (DWORD size = 4096;;) {
        data.resize(size);
        DWORD type = 0;
        status = RegQueryValueExW(key.get(), wide(name), nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &size);
        if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
        if (status == ERROR_MORE_DATA) continue;  // size now holds what it needs
        if (status != ERROR_SUCCESS) return status;
        if (type != REG_MULTI_SZ) return ERROR_SUCCESS;
        units.assign(reinterpret_cast<const char16_t*>(data.data()), size / sizeof(char16_t));
        return ERROR_SUCCESS;
    }
}
