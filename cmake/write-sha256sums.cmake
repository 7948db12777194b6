# Writes SHA256SUMS at the root of an install tree (the CPack staging folder
# or a `cmake --install --prefix` folder): one "<sha256>  <relative path>"
# line per file, as `sha256sum` prints them, sorted by path, so that
# `sha256sum -c SHA256SUMS` checks the unpacked bundle.
if(NOT DEFINED TYPELOADER_SUMS_ROOT OR TYPELOADER_SUMS_ROOT STREQUAL "")
  set(TYPELOADER_SUMS_ROOT "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
endif()
# The files that the install rules before this one put there; a folder that
# held other files before gets no line for them.
set(_files "")
foreach(_abs IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
  file(RELATIVE_PATH _rel "${TYPELOADER_SUMS_ROOT}" "${_abs}")
  list(APPEND _files "${_rel}")
endforeach()
list(REMOVE_ITEM _files SHA256SUMS)
list(REMOVE_DUPLICATES _files)
if(_files STREQUAL "")
  message(FATAL_ERROR "SHA256SUMS: no installed file to sum under ${TYPELOADER_SUMS_ROOT}")
endif()
list(SORT _files)
set(_sums "")
foreach(_f IN LISTS _files)
  file(SHA256 "${TYPELOADER_SUMS_ROOT}/${_f}" _h)
  string(APPEND _sums "${_h}  ${_f}\n")
endforeach()
file(WRITE "${TYPELOADER_SUMS_ROOT}/SHA256SUMS" "${_sums}")
message(STATUS "Checksums: ${TYPELOADER_SUMS_ROOT}/SHA256SUMS")
