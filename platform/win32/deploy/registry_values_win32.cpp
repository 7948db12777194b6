#include "platform/deploy/registry_values.h"

#include "platform/win32/win32_handles.h"  // <windows.h> first

namespace {

HKEY as_hkey(const RegistryKey& key) { return reinterpret_cast<HKEY>(key.get()); }

}  // namespace

PlatformStatus read_all_values(const RegistryKey& key, std::vector<RegistryValue>& values) {
    values.clear();
    DWORD count = 0, longest_name = 0, largest_data = 0;
    if (PlatformStatus status = RegQueryInfoKeyW(as_hkey(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                 &count, &longest_name, &largest_data, nullptr, nullptr)) {
        return status;
    }
    std::wstring name(value_name_capacity + 1, L'\0');
    std::string data(largest_data, '\0');
    for (DWORD index = 0;; ++index) {
        DWORD name_length = static_cast<DWORD>(name.size());
        DWORD data_size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        PlatformStatus status = RegEnumValueW(as_hkey(key), index, name.data(), &name_length, nullptr, &type,
                                              reinterpret_cast<BYTE*>(data.data()), &data_size);
        if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (status == ERROR_MORE_DATA) {  // a value grew since the size was read
            data.resize(data.size() * 2 + 256);
            --index;
            continue;
        }
        if (status) return status;
        values.push_back({from_wide(name.data(), name_length), type, data.substr(0, data_size)});
    }
}

PlatformStatus put_value(const RegistryKey& key, const RegistryValue& value) {
    return RegSetValueExW(as_hkey(key), wide(value.name), 0, value.type,
                          reinterpret_cast<const BYTE*>(value.data.data()), static_cast<DWORD>(value.data.size()));
}
