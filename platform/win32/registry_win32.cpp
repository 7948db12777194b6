#include "platform/registry.h"

#include "platform/win32/win32_handles.h"

static_assert(registry_string_type == REG_SZ);
static_assert(registry_expand_string_type == REG_EXPAND_SZ);
static_assert(registry_dword_type == REG_DWORD);

namespace {

HKEY as_hkey(const RegistryKey& key) { return reinterpret_cast<HKEY>(key.get()); }

}  // namespace

void CloseRegistryKey::operator()(RegistryKeyHandle* key) const { RegCloseKey(reinterpret_cast<HKEY>(key)); }

PlatformStatus open_font_registration_key(RegistryKey& key) {
    const String path(font_registration_key_path);
    unique_hkey opened;
    if (PlatformStatus status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0,
                                              KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, opened.put())) {
        return status;
    }
    key.reset(reinterpret_cast<RegistryKeyHandle*>(opened.release()));
    return ERROR_SUCCESS;
}

PlatformStatus count_values(const RegistryKey& key, uint32_t& count) {
    DWORD values = 0;
    PlatformStatus status = RegQueryInfoKeyW(as_hkey(key), nullptr, nullptr, nullptr, nullptr, nullptr,
                                             nullptr, &values, nullptr, nullptr, nullptr, nullptr);
    count = status ? 0 : values;
    return status;
}

PlatformStatus enumerate_value(const RegistryKey& key, uint32_t index, String& name, uint32_t& type) {
    // One buffer for the whole scan: the job is single-threaded and a name can
    // be as long as the registry allows.
    static wchar_t buffer[value_name_capacity + 1];
    // The size handed over counts the terminator: told only 16,383, the
    // registry refuses a name of exactly 16,383 units, which install can write.
    DWORD length = value_name_capacity + 1;
    DWORD value_type = 0;
    if (PlatformStatus status = RegEnumValueW(as_hkey(key), index, buffer, &length, nullptr, &value_type,
                                              nullptr, nullptr)) {
        return status;
    }
    name = from_wide(buffer, length);  // null units included
    type = value_type;
    return ERROR_SUCCESS;
}

PlatformStatus delete_value(const RegistryKey& key, const String& name) {
    return RegDeleteValueW(as_hkey(key), wide(name));
}

PlatformStatus write_string_value(StringView key_path, const String& name, const String& data) {
    const String path(key_path);
    unique_hkey key;
    if (PlatformStatus status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                KEY_WRITE, nullptr, key.put(), nullptr)) {
        return status;
    }
    const DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.get(), wide(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), bytes);
}
