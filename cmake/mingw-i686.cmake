# Cross-build for 32-bit Windows with Debian's MinGW-w64 compilers
# (package g++-mingw-w64-i686). The win32-threads variant: the module starts
# no thread, and this variant needs no thread library beside the DLL.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ZELOSTREL_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZELOSTREL_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${ZELOSTREL_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${ZELOSTREL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELOSTREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
