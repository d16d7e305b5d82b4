#pragma once
// Native types of the POSIX implementation, chosen in this one place.
#include <pthread.h>

namespace platform {
using NativeSharedMutex = pthread_mutex_t;
// A mapped view needs no open descriptor on POSIX; other systems keep one.
using NativeSharedMemoryHandle = int;
constexpr NativeSharedMemoryHandle kNoSharedMemoryHandle = -1;
}  // namespace platform

// Lets the compiler check printf-style formats against their arguments.
#define ZELOSTREL_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))

// Gives a function default visibility so that the loader finds it.
#define ZELOSTREL_EXPORT __attribute__((visibility("default")))

namespace platform {
// Handle of an open dynamic library (dlopen).
using NativeLibraryHandle = void*;
inline constexpr NativeLibraryHandle kNoNativeLibrary = nullptr;
}  // namespace platform

namespace platform {
// A socket is a file descriptor here.
using NativeSocket = int;
inline constexpr NativeSocket kInvalidNativeSocket = -1;
}  // namespace platform

namespace platform {
// A held lock is an open descriptor with a flock on it.
using NativeLockHandle = int;
inline constexpr NativeLockHandle kNoNativeLock = -1;
}  // namespace platform

namespace platform {
// A child process is its process id here.
using NativeProcessHandle = int;
inline constexpr NativeProcessHandle kNoNativeProcess = -1;
}  // namespace platform
