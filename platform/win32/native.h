#pragma once
// Native types of the Windows implementation, chosen in this one place.
// No Windows header is included here: this file reaches every logic file,
// and <windows.h> would bring its macros (min, max, ERROR, DELETE...) along.
// The implementation files check these types against the real ones.
#include <cstdint>

// Declared exactly as <windows.h> declares it, so HMODULE is this type.
struct HINSTANCE__;

namespace platform {
// A mutex the host created: its HANDLE.
struct NativeSharedMutex {
    void* handle;
};
// A mapped view keeps its file-mapping HANDLE open here.
using NativeSharedMemoryHandle = void*;
inline constexpr NativeSharedMemoryHandle kNoSharedMemoryHandle = nullptr;
}  // namespace platform

// Lets the compiler check printf-style formats against their arguments; the
// C++ library selects the C99 printf family, so the GNU rules apply.
#define ZELOSTREL_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(gnu_printf, formatIndex, firstArg)))

// Puts a function into the library's export table.
#define ZELOSTREL_EXPORT __declspec(dllexport)

namespace platform {
// Handle of a loaded library (HMODULE).
using NativeLibraryHandle = HINSTANCE__*;
inline constexpr NativeLibraryHandle kNoNativeLibrary = nullptr;
}  // namespace platform

namespace platform {
// A Windows Sockets SOCKET (an unsigned integer as wide as a pointer).
using NativeSocket = std::uintptr_t;
inline constexpr NativeSocket kInvalidNativeSocket = ~static_cast<NativeSocket>(0);
}  // namespace platform

namespace platform {
// A held instance lock (a HANDLE).
using NativeLockHandle = void*;
inline constexpr NativeLockHandle kNoNativeLock = nullptr;
}  // namespace platform

namespace platform {
// A child process (its process HANDLE).
using NativeProcessHandle = void*;
inline constexpr NativeProcessHandle kNoNativeProcess = nullptr;
}  // namespace platform
