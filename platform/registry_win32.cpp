#include <windows.h>

#include <memory>

#include "platform/registry.h"

namespace {

const wchar_t* wide(const String& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

HKEY as_hkey(RegistryKey key) { return static_cast<HKEY>(key); }

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using OpenKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

}  // namespace

RegistryStatus open_font_registration_key(RegistryKey& key) {
    const String path(font_registration_key_path);
    HKEY opened = nullptr;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0,
                                KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, &opened);
    key = status == ERROR_SUCCESS ? opened : nullptr;
    return status;
}

RegistryStatus count_values(RegistryKey key, uint32_t& count) {
    DWORD values = 0;
    LONG status = RegQueryInfoKeyW(as_hkey(key), nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, &values, nullptr, nullptr, nullptr, nullptr);
    count = status == ERROR_SUCCESS ? values : 0;
    return status;
}

RegistryStatus enumerate_value(RegistryKey key, uint32_t index, String& name, uint32_t& type) {
    // One buffer for the whole scan: the job is single-threaded and a name can
    // be as long as the registry allows.
    static wchar_t buffer[value_name_capacity + 1];
    // The size handed over counts the terminator: told only 16,383, the
    // registry refuses a name of exactly 16,383 units, which install can write.
    DWORD length = value_name_capacity + 1;
    DWORD value_type = 0;
    LONG status = RegEnumValueW(as_hkey(key), index, buffer, &length, nullptr, &value_type,
                                nullptr, nullptr);
    if (status != ERROR_SUCCESS) return status;
    name.assign(reinterpret_cast<const char16_t*>(buffer), length);  // null units included
    type = value_type;
    return status;
}

RegistryStatus delete_value(RegistryKey key, const String& name) {
    return RegDeleteValueW(as_hkey(key), wide(name));
}

void close_key(RegistryKey key) { RegCloseKey(as_hkey(key)); }

bool write_string_value(StringView key_path, const String& name, const String& data) {
    const String path(key_path);
    HKEY created = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &created, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    OpenKey key(created);
    const DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.get(), wide(name), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.c_str()), bytes) == ERROR_SUCCESS;
}
