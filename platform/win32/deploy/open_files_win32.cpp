#include "platform/deploy/open_files.h"

#include "deploy/digest.h"

#include "platform/growing_buffer.h"
#include "platform/win32/deploy/handle_facts.h"  // <windows.h> first

#include <cstring>
#include <vector>

struct HeldFileHandle;

void CloseHeldFile::operator()(HeldFileHandle* file) const { CloseHandle(reinterpret_cast<HANDLE>(file)); }

namespace {

HANDLE as_handle(const HeldFile& file) { return reinterpret_cast<HANDLE>(file.get()); }

// The entry itself, never a link's target; the handle is then checked to be a
// plain file, and the path too, since Wine reports a link only by path.
PlatformStatus open_plain(const String& path, DWORD access, DWORD share, DWORD disposition, HeldFile& file) {
    // A link to a folder would fail to open as a file: it is named a link first.
    DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) attributes = 0;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return status_stopped_on_link;
    unique_hfile opened(CreateFileW(wide(path), access, share, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!opened) return GetLastError();
    DWORD kind = 0;
    if (PlatformStatus status = handle_attributes(opened.get(), kind)) return status;
    if (kind & FILE_ATTRIBUTE_REPARSE_POINT) return status_stopped_on_link;
    if (kind & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
    file.reset(reinterpret_cast<HeldFileHandle*>(opened.release()));
    return ERROR_SUCCESS;
}

}  // namespace

PlatformStatus open_for_reading(const String& path, HeldFile& file) {
    // READ_CONTROL: its owner and access entries are read through this handle.
    return open_plain(path, GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, OPEN_EXISTING, file);
}

PlatformStatus open_file_size(const HeldFile& file, uint64_t& size) {
    LARGE_INTEGER found;
    if (!GetFileSizeEx(as_handle(file), &found)) return GetLastError();
    size = static_cast<uint64_t>(found.QuadPart);
    return ERROR_SUCCESS;
}

namespace {

// The held handles are this process's own and used by one caller at a time,
// so a read moves the file pointer rather than passing an OVERLAPPED: under
// Wine each read given one costs a further round trip to its server.
PlatformStatus seek(HANDLE file, uint64_t offset) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) ? ERROR_SUCCESS : GetLastError();
}

// Up to `length` bytes from the file pointer; fewer only at the end.
PlatformStatus read_on(HANDLE file, char* into, size_t length, size_t& filled) {
    filled = 0;
    while (filled < length) {
        DWORD got = 0;
        if (!ReadFile(file, into + filled, static_cast<DWORD>(length - filled), &got, nullptr)) return GetLastError();
        if (got == 0) break;
        filled += got;
    }
    return ERROR_SUCCESS;
}

}  // namespace

PlatformStatus read_at(const HeldFile& file, uint64_t offset, size_t length, std::string& bytes) {
    bytes.resize(length);
    size_t filled = 0;
    PlatformStatus status = seek(as_handle(file), offset);
    if (!status) status = read_on(as_handle(file), bytes.data(), length, filled);
    bytes.resize(filled);
    return status;
}

namespace {

// The digest of the whole open file, read piece by piece.
PlatformStatus digest_of_file(HANDLE file, uint64_t& digest) {
    if (PlatformStatus status = seek(file, 0)) return status;
    Digest running;
    std::vector<char> piece(read_piece_size);
    for (;;) {
        size_t got = 0;
        if (PlatformStatus status = read_on(file, piece.data(), piece.size(), got)) return status;
        if (got == 0) break;
        digest_add(running, piece.data(), got);
    }
    digest = digest_value(running);
    return ERROR_SUCCESS;
}

// The path's kind; `same_as_wanted` then compares an entry
// that is a readable plain file.
template <typename Compare>
PlatformStatus measure_path(const String& path, Measure& measure, Compare same_as_wanted) {
    measure = Measure{};
    // Wine shows a link by path only; Windows on the handle too.
    const DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD status = GetLastError();
        return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : status;
    }
    constexpr DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    constexpr DWORD any_sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    unique_hfile entry(CreateFileW(wide(path), GENERIC_READ, any_sharing, nullptr, OPEN_EXISTING, flags, nullptr));
    const bool readable = static_cast<bool>(entry);
    // Held open without sharing by another program: its kind still shows.
    if (!readable) entry.reset(CreateFileW(wide(path), FILE_READ_ATTRIBUTES, any_sharing, nullptr, OPEN_EXISTING, flags, nullptr));
    if (!entry) return GetLastError();
    DWORD own = 0;
    if (PlatformStatus status = handle_attributes(entry.get(), own)) return status;
    const DWORD kind = own | attributes;
    measure.kind = (kind & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryKind::reparse_point
                   : (kind & FILE_ATTRIBUTE_DIRECTORY)   ? EntryKind::folder
                                                         : EntryKind::file;
    if (measure.kind != EntryKind::file || !readable) return ERROR_SUCCESS;
    return same_as_wanted(entry.get(), measure.same);
}

}  // namespace

PlatformStatus measure_against_digest(uint64_t digest, const String& path, Measure& measure) {
    return measure_path(path, measure, [&](HANDLE entry, bool& same) {
        uint64_t found = 0;
        PlatformStatus status = digest_of_file(entry, found);
        same = !status && found == digest;
        return status;
    });
}

PlatformStatus probe_in_use(const String& path) {
    // Delete access asks every other handle for delete sharing; every sharing
    // is given, so this handle keeps no one out. Never through a link.
    unique_hfile probe(CreateFileW(wide(path), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!probe) return GetLastError();
    return ERROR_SUCCESS;
}

PlatformStatus copy_held_file(const HeldFile& source, const String& to, uint64_t& digest) {
    Digest running;
    unique_hfile target(CreateFileW(wide(to), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!target) return GetLastError();
    std::string piece;
    for (uint64_t offset = 0;; offset += piece.size()) {
        if (PlatformStatus status = read_at(source, offset, read_piece_size, piece)) return status;
        if (piece.empty()) break;
        DWORD written = 0;
        if (!WriteFile(target.get(), piece.data(), static_cast<DWORD>(piece.size()), &written, nullptr)) return GetLastError();
        if (written != piece.size()) return ERROR_WRITE_FAULT;
        digest_add(running, piece.data(), piece.size());
    }
    digest = digest_value(running);
    return ERROR_SUCCESS;
}

PlatformStatus open_log_file(const String& path, HeldFile& file) {
    // DELETE: so that the held log can be renamed at rotation. FILE_READ_DATA:
    // the runs before this one are read from it. Without FILE_WRITE_DATA every
    // write goes to the end, wherever a read left the file pointer.
    return open_plain(path, FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE | DELETE,
                      FILE_SHARE_READ, OPEN_ALWAYS, file);
}

PlatformStatus append_to_open_file(const HeldFile& file, const std::string& bytes) {
    DWORD written = 0;
    if (!WriteFile(as_handle(file), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) return GetLastError();
    return written == bytes.size() ? ERROR_SUCCESS : static_cast<PlatformStatus>(ERROR_WRITE_FAULT);
}

PlatformStatus rename_open_file(const HeldFile& file, const String& new_path) {
    const size_t name_bytes = new_path.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    memcpy(rename->FileName, new_path.data(), name_bytes);
    if (SetFileInformationByHandle(as_handle(file), FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
        return ERROR_SUCCESS;
    }
    return GetLastError();
}

PlatformStatus is_plain_file_at(const HeldFile& file, const String& path, bool& plain) {
    plain = false;
    DWORD kind = 0;
    if (PlatformStatus status = handle_attributes(as_handle(file), kind)) return status;
    if (kind & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return ERROR_SUCCESS;
    DWORD failure = ERROR_SUCCESS;
    String resolved = fetch_growing(MAX_PATH, [&](char16_t* buffer, size_t size) -> size_t {
        DWORD length = GetFinalPathNameByHandleW(as_handle(file), reinterpret_cast<wchar_t*>(buffer), static_cast<DWORD>(size),
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) failure = GetLastError();
        return length;
    });
    if (resolved.empty()) return failure;
    // The resolved path begins with \\?\; a link on the way shows as another path.
    if (resolved.starts_with(u"\\\\?\\")) resolved.erase(0, 4);
    plain = CompareStringOrdinal(wide(resolved), static_cast<int>(resolved.size()), wide(path), static_cast<int>(path.size()),
                                 TRUE) == CSTR_EQUAL;
    return ERROR_SUCCESS;
}
