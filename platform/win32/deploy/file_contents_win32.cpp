#include "platform/files.h"

#include "platform/growing_buffer.h"

#include "platform/win32/win32_handles.h"  // <windows.h> first

namespace {

// Opens the entry itself: a link is opened as the link, never its target.
unique_hfile open_entry(const String& path, DWORD access, DWORD share, DWORD disposition) {
    return unique_hfile(CreateFileW(wide(path), access, share, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// A plain file: neither a folder nor a reparse point of any kind.
PlatformStatus require_plain_file(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) return GetLastError();
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return status_stopped_on_link;
    if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

}  // namespace

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

PlatformStatus read_whole_file(const String& path, std::string& bytes) {
    bytes.clear();
    unique_hfile file = open_entry(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (!file) return GetLastError();
    if (PlatformStatus status = require_plain_file(file.get())) return status;
    // Wine reports a link only by path, not through the handle.
    DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return status_stopped_on_link;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr)) return GetLastError();
        if (got == 0) return ERROR_SUCCESS;
        bytes.append(buffer, got);
    }
}

PlatformStatus file_size(const String& path, uint64_t& size) {
    size = 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data)) return GetLastError();
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
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

PlatformStatus append_to_file(const String& path, const std::string& bytes) {
    unique_hfile file = open_entry(path, FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS);
    if (!file) return GetLastError();
    if (PlatformStatus status = require_plain_file(file.get())) return status;
    DWORD attributes = GetFileAttributesW(wide(path));  // Wine shows a link by path only
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return status_stopped_on_link;
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) return GetLastError();
    return written == bytes.size() ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
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

PlatformStatus rename_replacing(const String& from, const String& to) {
    if (MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING)) return ERROR_SUCCESS;
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
