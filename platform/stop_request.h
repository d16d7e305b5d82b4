#pragma once
// The user's request to end a long-running program: Ctrl-C, the service
// manager's termination request, a closed terminal, and the other signals
// whose default is to end the process. On Windows: Ctrl-C, Ctrl-Break and a
// closed console window (also a log-off or shut-down), which the system
// lets a program answer for some seconds only.
#include <cstdint>

namespace platform {

// Turns stop requests from something that ends the process into something
// waitStopRequest reports. Call it before starting any thread, so that every
// thread inherits it and only the waiting thread sees the requests.
bool catchStopRequests() noexcept;

// Waits up to the given milliseconds; true when a stop request arrived.
bool waitStopRequest(uint32_t timeoutMillis) noexcept;

// Writing to an output whose reader went away then fails like any other
// write instead of ending the process. Only for programs whose output is a
// log, not their result: a pipeline's reader that quits should end a tool.
bool ignoreBrokenOutput() noexcept;

}  // namespace platform
