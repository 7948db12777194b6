#include "platform/deploy/file_entries.h"

#include "platform/growing_buffer.h"
#include "platform/win32/deploy/handle_facts.h"  // <windows.h> first
#include "platform/win32/system_modules.h"

#include <shlobj.h>

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
    return handle_identity(entry.get(), identity);
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

PlatformStatus folder_entry_names(const String& folder, std::vector<String>& names) {
    names.clear();
    WIN32_FIND_DATAW data;
    unique_hfind search(FindFirstFileW(wide(folder + u"\\*"), &data));
    if (!search) return GetLastError();
    do {
        String name = from_wide(data.cFileName);
        if (name == u"." || name == u"..") continue;
        names.push_back(std::move(name));
        if (data.cAlternateFileName[0] != L'\0') names.push_back(from_wide(data.cAlternateFileName));
    } while (FindNextFileW(search.get(), &data));
    const DWORD status = GetLastError();
    return status == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : status;
}

PlatformStatus remove_folder(const String& path) {
    if (RemoveDirectoryW(wide(path))) return ERROR_SUCCESS;
    return GetLastError();
}

PlatformStatus replace_file(const String& from, const String& to) {
    if (MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return ERROR_SUCCESS;
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

namespace {

// FOLDERID_ProgramFiles, spelt out as files_win32.cpp spells FOLDERID_Fonts.
const KNOWNFOLDERID program_files_folder_id = {0x905E63B6, 0xC1BF, 0x494E, {0xB2, 0x9C, 0x65, 0xB7, 0x32, 0xD3, 0xD2, 0x1A}};

// The known-folder path goes back to the COM allocator, looked up at its one
// call: a function kept in a static would be set up on first use, which the
// deploy's objects keep to the reviewed few (tests/release/test_binary.py).
void free_task_memory(wchar_t* path) {
    const auto free_path = system_function<decltype(CoTaskMemFree)>(SystemModule::ole32, "CoTaskMemFree");
    if (path && free_path) free_path(path);
}

using unique_task_string = UniqueHandle<wchar_t*, free_task_memory>;

}  // namespace

PlatformStatus program_files_folder(String& path) {
    auto known_folder_path = system_function<decltype(SHGetKnownFolderPath)>(SystemModule::shell32, "SHGetKnownFolderPath");
    if (!known_folder_path) return status_module_not_found;
    unique_task_string found;
    if (PlatformStatus status = static_cast<PlatformStatus>(known_folder_path(program_files_folder_id, 0, nullptr, found.put()))) {
        return status;
    }
    path = from_wide(found.get());
    while (!path.empty() && path.back() == u'\\') path.pop_back();
    return ERROR_SUCCESS;
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
