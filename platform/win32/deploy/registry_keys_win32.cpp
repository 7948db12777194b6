#include "platform/deploy/registry_keys.h"

#include "platform/win32/win32_handles.h"  // <windows.h> first

namespace {

// The values are read and set through the key; nothing else is asked of it.
constexpr REGSAM value_access = KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY;

// A RegistryKey holds the HKEY itself, as the fonts key's does (registry_win32.cpp).
void hand_over(unique_hkey& opened, RegistryKey& key) { key.reset(reinterpret_cast<RegistryKeyHandle*>(opened.release())); }

}  // namespace

PlatformStatus open_machine_key(StringView path, RegistryKey& key) {
    key.reset();
    const String terminated(path);
    unique_hkey opened;
    if (PlatformStatus status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(terminated), 0, value_access, opened.put())) {
        return status;
    }
    hand_over(opened, key);
    return ERROR_SUCCESS;
}

PlatformStatus create_machine_key(StringView path, RegistryKey& key) {
    key.reset();
    const String terminated(path);
    unique_hkey opened;
    if (PlatformStatus status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(terminated), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                value_access, nullptr, opened.put(), nullptr)) {
        return status;
    }
    hand_over(opened, key);
    return ERROR_SUCCESS;
}

PlatformStatus delete_machine_key(StringView path) {
    const String terminated(path);
    return RegDeleteKeyExW(HKEY_LOCAL_MACHINE, wide(terminated), KEY_WOW64_64KEY, 0);
}
