# Cross-compilation for 64-bit Windows with Debian's mingw-w64 (POSIX
# threads flavour); tests run under Wine through the emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
# Installed with the package (PREFIX/lib/cmake/TAVOCOM64/), it lets the
# searches confined to the mingw-w64 root find the package's prefix too, so
# that -DCMAKE_PREFIX_PATH=PREFIX works as on Linux.
if(EXISTS "${CMAKE_CURRENT_LIST_DIR}/TAVOCOM64Config.cmake")
  get_filename_component(_tavocom_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
  list(APPEND CMAKE_FIND_ROOT_PATH "${_tavocom_prefix}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(TAVOCOM_WINE NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVOCOM_WINE})
