#pragma once

#include <cstdint>

// A platform operation's result: the platform's own error code, read at once
// after the failing call (a Win32 error, or an HRESULT where the platform
// gives one). Zero is success; callers act on it, never retry. A status is
// checked one way: `if (PlatformStatus status = operation(...))` is failure.
// Every code is Windows' own, tied to it in platform/win32/status_codes.h.
using PlatformStatus = uint32_t;

inline constexpr PlatformStatus status_success = 0;
inline constexpr PlatformStatus status_invalid_function = 1;  // ERROR_INVALID_FUNCTION
inline constexpr PlatformStatus status_file_not_found = 2;   // ERROR_FILE_NOT_FOUND
inline constexpr PlatformStatus status_path_not_found = 3;   // ERROR_PATH_NOT_FOUND
inline constexpr PlatformStatus status_access_denied = 5;    // ERROR_ACCESS_DENIED
inline constexpr PlatformStatus status_sharing_violation = 32;  // ERROR_SHARING_VIOLATION
inline constexpr PlatformStatus status_lock_violation = 33;     // ERROR_LOCK_VIOLATION
inline constexpr PlatformStatus status_stopped_on_link = 681;   // ERROR_STOPPED_ON_SYMLINK
inline constexpr PlatformStatus status_user_mapped_file = 1224;  // ERROR_USER_MAPPED_FILE
inline constexpr PlatformStatus status_more_data = 234;      // ERROR_MORE_DATA
inline constexpr PlatformStatus status_no_more_items = 259;  // ERROR_NO_MORE_ITEMS
inline constexpr PlatformStatus status_already_exists = 183;  // ERROR_ALREADY_EXISTS
inline constexpr PlatformStatus status_resource_type_not_found = 1813;  // ERROR_RESOURCE_TYPE_NOT_FOUND
inline constexpr PlatformStatus status_timeout = 1460;  // ERROR_TIMEOUT
inline constexpr PlatformStatus status_directory_not_empty = 145;  // ERROR_DIR_NOT_EMPTY
inline constexpr PlatformStatus status_directory_name_invalid = 267;  // ERROR_DIRECTORY
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), as the known-folder lookup reports a
// folder it cannot find.
inline constexpr PlatformStatus status_hresult_file_not_found = 0x80070002;
// HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND): a system DLL or function is missing.
inline constexpr PlatformStatus status_module_not_found = 0x8007007E;

// A file that another process holds open (or maps, as a loaded font is)
// refuses to be replaced or deleted with one of these.
inline bool is_in_use_status(PlatformStatus status) {
    return status == status_sharing_violation || status == status_lock_violation || status == status_user_mapped_file;
}
