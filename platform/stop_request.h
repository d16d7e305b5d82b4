#pragma once
// The user's request to end a long-running program: Ctrl-C, or the service
// manager's termination request.
#include <cstdint>

namespace platform {

// Turns stop requests from something that ends the process into something
// waitStopRequest reports. Call it before starting any thread, so that every
// thread inherits it and only the waiting thread sees the requests.
bool catchStopRequests() noexcept;

// Waits up to the given milliseconds; true when a stop request arrived.
bool waitStopRequest(uint32_t timeoutMillis) noexcept;

}  // namespace platform
