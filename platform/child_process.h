#pragma once
// Starting another program as a child process and watching it: what it
// prints, and how it ends. Tests use it to meet a tool the way a user does.
#include <cstddef>
#include <cstdint>

namespace platform {

// Owns the child's process id and the read end of its output pipe.
struct ChildProcess;

struct ChildExit {
    bool bySignal;  // ended by a signal rather than by exiting
    int code;       // the exit status, or the signal number
};

// Starts argv[0] with the arguments argv (ending with a null entry); the
// child's standard output and standard error both go into one pipe read with
// readChildOutput. Returns false when the program could not be started.
bool startChild(ChildProcess*& child, const char* const* argv) noexcept;

// A byte count, 0 once the child closed its output, -1 when nothing came
// within the time-out, -2 on failure.
int readChildOutput(ChildProcess* child, char* buffer, size_t capacity, int32_t timeoutMicros) noexcept;

// Asks the child to stop, as Ctrl-C does.
bool interruptChild(ChildProcess* child) noexcept;

// Ends the child at once, without giving it a chance to clean up.
bool killChild(ChildProcess* child) noexcept;

// Waits at most the time-out for the child to end; true with its exit facts
// when it ended.
bool waitChild(ChildProcess* child, uint32_t timeoutMillis, ChildExit& exit) noexcept;

// Kills a child that still runs, collects it and frees the handle; null
// does nothing.
void releaseChild(ChildProcess* child) noexcept;

}  // namespace platform
