#pragma once
// Other programs run as child processes: started with their output going
// into files (so a chatty child never blocks on a full pipe), waited for
// with a time-out, asked to stop as a user would ask, or ended at once.
// For running this project's programs against each other (the tests).
#include <cstdint>
#include <string>
#include <vector>

#include "native.h"

namespace platform {

struct ChildProcess {
    NativeProcessHandle native = kNoNativeProcess;  // empty once collected
    uint32_t id = 0;                                // its process id
    bool isRunning() const noexcept { return native != kNoNativeProcess; }
};

// The exit status of a child that killChildProcess ended: what a POSIX
// shell reports for SIGKILL, on every system.
constexpr int kKilledStatus = 128 + 9;

// Starts the program at argv[0] (a path, not searched for) with the other
// entries as its arguments. Its standard output and error go into the two
// files (created or emptied), its standard input reads nothing; it inherits
// no other handle. `environment` entries "NAME=value" are added to, or
// replace, this process's. False when it could not be started.
bool startChildProcess(const std::vector<std::string>& argv, const std::string& outputPath,
                       const std::string& errorPath, const std::vector<std::string>& environment, ChildProcess& child);

// Waits at most timeoutMillis (0 only looks). True once the child has ended:
// `status` is its exit status, or 128 + the signal that ended it, and the
// child is collected (its handle emptied).
bool waitChildProcess(ChildProcess& child, uint32_t timeoutMillis, int& status) noexcept;

// Asks the child to stop, as a service manager does (SIGTERM) or, on
// Windows, Ctrl-C: each child there has a hidden console of its own, which
// the caller joins for the moment of sending. The caller ignores Ctrl-C from
// then on (its children do not), and is without its own console for that
// moment.
bool requestChildStop(const ChildProcess& child) noexcept;

// Ends the child at once, giving it no chance to clean up.
bool killChildProcess(const ChildProcess& child) noexcept;

}  // namespace platform
