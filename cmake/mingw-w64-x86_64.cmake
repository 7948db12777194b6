# Cross build for 64-bit Windows with Debian's mingw-w64, win32 thread model
# only. The posix flavour links winpthreads (another licence, thread-control
# imports such as SuspendThread and OpenProcess) and gives a different exe,
# so falling back to whichever compiler is found would make the bytes depend
# on the machine. The plain x86_64-w64-mingw32-g++ is an alternatives link
# that may point at either flavour: never use it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

foreach(_tool IN ITEMS gcc g++)
  find_program(_typeloader_${_tool} NAMES x86_64-w64-mingw32-${_tool}-win32 NO_CACHE)
  if(NOT _typeloader_${_tool})
    message(FATAL_ERROR
      "x86_64-w64-mingw32-${_tool}-win32 not found: install Debian's g++-mingw-w64-x86-64-win32 "
      "(bash scripts/install-deps.sh does). Typeloader is built with the win32 thread model only.")
  endif()
endforeach()
set(CMAKE_C_COMPILER ${_typeloader_gcc})
set(CMAKE_CXX_COMPILER ${_typeloader_g++})
find_program(CMAKE_RC_COMPILER NAMES x86_64-w64-mingw32-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
