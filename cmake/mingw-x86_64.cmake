# Cross-build for 64-bit Windows (package g++-mingw-w64-x86-64-posix). Not a
# shipped target: it runs the Windows tests on machines whose processor or
# kernel runs no 32-bit code, where Wine can start only 64-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZELOSTREL_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
