# Cross-build for 32-bit Windows with Debian's MinGW-w64 compilers
# (package g++-mingw-w64-i686-posix), the module's real target.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZELOSTREL_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# SSE2 instead of the x87 unit: x87 keeps intermediates in 80 bits, so pose
# values would differ in their last bits from the 64-bit builds' and the
# records would not be byte-identical. Every CPU that runs Windows 7 has SSE2.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
