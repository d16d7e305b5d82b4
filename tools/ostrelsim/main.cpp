// ostrelsim: a stand-in for the optical tracking system. It sends frames of
// a simulated scene (optionally under a controller's start and stop
// commands), records the datagrams arriving on a port, replays recordings
// and tells what a recording holds. See docs/simulator.md.
#include <cstdio>

#include "platform/stop_request.h"
#include "platform/terminal.h"
#include "project_version.h"
#include "tools/ostrelsim/modes.h"
#include "tools/ostrelsim/options.h"

int main(int argc, char** argv) {
    using namespace ostrelsim;
    platform::endLinesWithNewlineOnly();
    ParseResult parsed = parseArguments(argc, argv);
    if (!parsed.ok) {
        std::fprintf(stderr, "ostrelsim: %s\n%s", parsed.error.c_str(), usageText());
        return kExitUsage;
    }
    if (parsed.helpWanted || parsed.versionWanted) {
        std::fputs(parsed.helpWanted ? usageText() : "ostrelsim " ZELOSTREL_VERSION "\n", stdout);
        return kExitOk;
    }
    // Ctrl-C and termination requests end the run cleanly: the loops look
    // for them, close their files and print what was done.
    platform::catchStopRequests();
    switch (parsed.options.mode) {
        case Mode::Send: return runSend(parsed.options);
        case Mode::Record: return runRecord(parsed.options);
        case Mode::Replay: return runReplay(parsed.options);
        case Mode::Info: return runInfo(parsed.options);
    }
    return kExitUsage;
}
