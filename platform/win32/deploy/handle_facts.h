#pragma once

// What an open handle says of its file. GetFileInformationByHandle also asks
// for the volume's serial number, a round trip to the volume on every call:
// these ask only for what each caller needs.

#include "platform/deploy/file_entries.h"
#include "platform/win32/win32_handles.h"  // <windows.h> first

#include <cstring>

inline PlatformStatus handle_attributes(HANDLE file, DWORD& attributes) {
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic))) return GetLastError();
    attributes = basic.FileAttributes;
    return ERROR_SUCCESS;
}

// The 128-bit ID where the file system has one (ReFS); the 64-bit index
// otherwise, which is unique on NTFS. Every identity compared is taken here,
// so that two handles to one file always give one identity.
inline PlatformStatus handle_identity(HANDLE file, FileIdentity& identity) {
    identity = {};
    FILE_ID_INFO id{};
    if (GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof(id))) {
        identity.volume = id.VolumeSerialNumber;
        uint64_t halves[2];
        static_assert(sizeof(halves) == sizeof(id.FileId));
        memcpy(halves, &id.FileId, sizeof(halves));
        identity.id_low = halves[0];
        identity.id_high = halves[1];
        return ERROR_SUCCESS;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) return GetLastError();
    identity.volume = information.dwVolumeSerialNumber;
    identity.id_low = static_cast<uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    return ERROR_SUCCESS;
}
