# Shared by the MinGW-w64 toolchain files, which set ZELOSTREL_MINGW_PREFIX
# and CMAKE_SYSTEM_PROCESSOR first.
#
# The posix thread model: GoogleTest and the tests need std::thread and
# std::mutex, which the win32 model lacks; module and tests use one compiler.
# Every program and DLL is linked statically, so that the only DLLs it needs
# are the system's (no libstdc++, libgcc or winpthread DLL beside it).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZELOSTREL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELOSTREL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELOSTREL_MINGW_PREFIX}-windres)

foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-static")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${ZELOSTREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
