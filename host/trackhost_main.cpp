// trackhost: the host daemon. See docs/host.md.
#include <clocale>
#include <cstdio>
#include <exception>
#include <string>

#include "host/host_options.h"
#include "project_version.h"
#include "host/track_host.h"
#include "platform/stop_request.h"
#include "platform/terminal.h"

namespace {

int runHost(int argc, char** argv) {
    host::HostOptions options;
    std::string error;
    if (!host::parseHostOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "trackhost: %s\n%s", error.c_str(), host::kHostUsage);
        return host::kExitRefused;
    }
    if (options.help || options.version) {
        std::fputs(options.help ? host::kHostUsage : "trackhost " ZELOSTREL_VERSION "\n", stdout);
        return host::kExitOk;
    }
    host::TrackHost trackHost(options);
    return options.check ? trackHost.check() : trackHost.run();
}

}  // namespace

int main(int argc, char** argv) {
    // Like any daemon that prints local dates: the modules must be proof
    // against the user's number format.
    std::setlocale(LC_ALL, "");
    // Lines reach a pipe or a journal as they are written, alike everywhere.
    platform::writeOutputLineByLine();
    platform::endLinesWithNewlineOnly();
    // Before any thread: Ctrl-C, SIGTERM, a closed terminal and the other
    // stop signals (on Windows Ctrl-C, Ctrl-Break, a closed console window)
    // become requests the main thread waits for, so every device can stop
    // cleanly; a log reader that goes away stops nothing.
    platform::catchStopRequests();
    platform::ignoreBrokenOutput();
    // Unwinding runs the host's clean-up (devices deleted, storage removed).
    try {
        return runHost(argc, argv);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "trackhost: unexpected failure: %s\n", failure.what());
    } catch (...) {
        std::fprintf(stderr, "trackhost: unexpected failure\n");
    }
    return host::kExitAbandoned;
}
