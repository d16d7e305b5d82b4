#pragma once
// Native types of the POSIX implementation, chosen in this one place.
#include <pthread.h>

namespace platform {
using NativeSharedMutex = pthread_mutex_t;
}

// Lets the compiler check printf-style formats against their arguments.
#define ZELOSTREL_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))
