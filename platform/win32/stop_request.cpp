#include "platform/stop_request.h"

#include <windows.h>

namespace platform {

namespace {

// Set by the console's handler thread, taken by waitStopRequest. Auto-reset:
// each request is reported once, as a collected signal is elsewhere.
HANDLE stopEvent = nullptr;

// Runs on a thread the system starts for each console event. For a closed
// window, a log-off or a shut-down the system ends the process as soon as
// this returns (and after some seconds in any case): it waits there so that
// the program's own clean end, not the system, finishes the process.
BOOL WINAPI onConsoleEvent(DWORD event) {
    SetEvent(stopEvent);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        Sleep(INFINITE);
    }
    return TRUE;
}

}  // namespace

// Ctrl-C, Ctrl-Break and a closed console window. A process started in a
// new process group ignores Ctrl-C until it asks for it again (the first call).
bool catchStopRequests() noexcept {
    if (stopEvent == nullptr) {
        stopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    return stopEvent != nullptr && SetConsoleCtrlHandler(nullptr, FALSE) && SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool waitStopRequest(uint32_t timeoutMillis) noexcept {
    if (stopEvent == nullptr) {
        Sleep(timeoutMillis == INFINITE ? INFINITE - 1 : timeoutMillis);
        return false;
    }
    return WaitForSingleObject(stopEvent, timeoutMillis == INFINITE ? INFINITE - 1 : timeoutMillis) == WAIT_OBJECT_0;
}

// Windows raises no signal for a reader that went away; the write just fails.
bool ignoreBrokenOutput() noexcept { return true; }

}  // namespace platform
