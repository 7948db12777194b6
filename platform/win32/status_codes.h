#pragma once

// The portable status names stand for Windows' own codes.

#include <windows.h>

#include "platform/status.h"

static_assert(status_success == ERROR_SUCCESS && status_invalid_function == ERROR_INVALID_FUNCTION &&
              status_file_not_found == ERROR_FILE_NOT_FOUND && status_path_not_found == ERROR_PATH_NOT_FOUND &&
              status_access_denied == ERROR_ACCESS_DENIED && status_sharing_violation == ERROR_SHARING_VIOLATION &&
              status_lock_violation == ERROR_LOCK_VIOLATION &&
              status_user_mapped_file == ERROR_USER_MAPPED_FILE && status_more_data == ERROR_MORE_DATA &&
              status_no_more_items == ERROR_NO_MORE_ITEMS && status_already_exists == ERROR_ALREADY_EXISTS &&
              status_resource_type_not_found == ERROR_RESOURCE_TYPE_NOT_FOUND && status_timeout == ERROR_TIMEOUT &&
              status_directory_not_empty == ERROR_DIR_NOT_EMPTY && status_directory_name_invalid == ERROR_DIRECTORY);
static_assert(status_hresult_file_not_found == static_cast<PlatformStatus>(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) &&
              status_module_not_found == static_cast<PlatformStatus>(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)));
// mingw-w64 10 does not define ERROR_STOPPED_ON_SYMLINK (681), which
// status_stopped_on_link stands for.
