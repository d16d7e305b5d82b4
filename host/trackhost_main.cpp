// trackhost: the host daemon. See docs/host.md.
#include <clocale>
#include <cstdio>
#include <string>

#include "host/host_options.h"
#include "project_version.h"
#include "host/track_host.h"
#include "platform/stop_request.h"

int main(int argc, char** argv) {
    // Like any daemon that prints local dates: the modules must be proof
    // against the user's number format.
    std::setlocale(LC_ALL, "");
    // Lines reach a pipe or a journal as they are written.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Before any thread: Ctrl-C and SIGTERM become requests the main thread
    // waits for, so every device can stop cleanly.
    platform::catchStopRequests();

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
