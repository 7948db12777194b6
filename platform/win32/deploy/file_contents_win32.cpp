#include "platform/files.h"

#include "platform/growing_buffer.h"
#include "platform/win32/win32_handles.h"  // <windows.h> first

PlatformStatus entry_kind(const String& path, EntryKind& kind) {
    // GetFileAttributesW reports a link's own attributes.
    DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD status = GetLastError();
        kind = EntryKind::missing;
        return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : status;
    }
    kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryKind::reparse_point
           : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? EntryKind::folder
                                                       : EntryKind::file;
    return ERROR_SUCCESS;
}

PlatformStatus copy_file_replacing(const String& from, const String& to) {
    // COPY_FILE_COPY_SYMLINK: a link at the source is copied as a link, never
    // followed (the caller has refused links before).
    if (CopyFileExW(wide(from), wide(to), nullptr, nullptr, nullptr, COPY_FILE_COPY_SYMLINK)) return ERROR_SUCCESS;
    return GetLastError();
}

PlatformStatus delete_file(const String& path) {
    if (DeleteFileW(wide(path))) return ERROR_SUCCESS;
    return GetLastError();
}

PlatformStatus file_identity(const String& path, FileIdentity& identity) {
    identity = {};
    unique_hfile entry(CreateFileW(wide(path), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!entry) return GetLastError();
    // The 128-bit ID where the file system has one (ReFS); the 64-bit index
    // otherwise, which is unique on NTFS.
    FILE_ID_INFO id{};
    if (GetFileInformationByHandleEx(entry.get(), FileIdInfo, &id, sizeof(id))) {
        identity.volume = id.VolumeSerialNumber;
        uint64_t halves[2];
        static_assert(sizeof(halves) == sizeof(id.FileId));
        memcpy(halves, &id.FileId, sizeof(halves));
        identity.id_low = halves[0];
        identity.id_high = halves[1];
        return ERROR_SUCCESS;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(entry.get(), &information)) return GetLastError();
    identity.volume = information.dwVolumeSerialNumber;
    identity.id_low = static_cast<uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    return ERROR_SUCCESS;
}

bool environment_variable(StringView name, String& value) {
    const String terminated(name);
    DWORD failure = ERROR_SUCCESS;
    value = fetch_growing(MAX_PATH, [&](char16_t* buffer, size_t size) -> size_t {
        SetLastError(ERROR_SUCCESS);
        DWORD length = GetEnvironmentVariableW(wide(terminated), reinterpret_cast<wchar_t*>(buffer), static_cast<DWORD>(size));
        if (length == 0) failure = GetLastError();
        return length;
    });
    return failure == ERROR_SUCCESS;
}

PlatformStatus remove_folder(const String& path) {
    if (RemoveDirectoryW(wide(path))) return ERROR_SUCCESS;
    return GetLastError();
}

PlatformStatus replace_at_restart(const String& staged, const String& target) {
    if (MoveFileExW(wide(staged), wide(target), MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) return ERROR_SUCCESS;
    return GetLastError();
}

PlatformStatus delete_at_restart(const String& path) {
    if (MoveFileExW(wide(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return ERROR_SUCCESS;
    return GetLastError();
}


PlatformStatus system_windows_folder(String& path) {
    wchar_t buffer[MAX_PATH + 1];
    UINT length = GetSystemWindowsDirectoryW(buffer, MAX_PATH + 1);
    if (length == 0) return GetLastError();
    if (length > MAX_PATH) return ERROR_INSUFFICIENT_BUFFER;
    path = from_wide(buffer, length);
    while (!path.empty() && path.back() == u'\\') path.pop_back();
    return ERROR_SUCCESS;
}
