#pragma once

#include <cstdint>

// A platform operation's result: the platform's own error code, read at once
// after the failing call (a Win32 error, or an HRESULT where the platform
// gives one). Zero is success; callers act on it, never retry.
using PlatformStatus = uint32_t;

inline constexpr PlatformStatus status_success = 0;
inline constexpr PlatformStatus status_file_not_found = 2;   // ERROR_FILE_NOT_FOUND
inline constexpr PlatformStatus status_access_denied = 5;    // ERROR_ACCESS_DENIED
inline constexpr PlatformStatus status_more_data = 234;      // ERROR_MORE_DATA
inline constexpr PlatformStatus status_no_more_items = 259;  // ERROR_NO_MORE_ITEMS
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), as the known-folder lookup reports a
// folder it cannot find.
inline constexpr PlatformStatus status_hresult_file_not_found = 0x80070002;
// HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND): a system DLL or function is missing.
inline constexpr PlatformStatus status_module_not_found = 0x8007007E;
