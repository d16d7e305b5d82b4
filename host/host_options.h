#pragma once
// trackhost's command line, read into a plain struct.
#include <cstdint>
#include <string>

namespace host {

// After a stop request every device gets this long to stop; the host then
// ends without the devices that did not.
constexpr double kDefaultGraceSeconds = 3.0;
constexpr double kMaxGraceSeconds = 3600.0;

struct HostOptions {
    std::string configPath;
    int32_t debugLevel = 0;                      // handed to the modules in the host's logger
    uint64_t cycles = 0;                         // per device; 0 = until stopped
    double seconds = 0.0;                        // 0 = until stopped
    double graceSeconds = kDefaultGraceSeconds;  // what the devices get to stop after a stop request
    bool help = false;
    bool version = false;
    bool check = false;  // check the configuration and its modules, run nothing
};

constexpr char kHostUsage[] =
    "usage: trackhost [--debug LEVEL] [--cycles N] [--seconds S] [--grace S] CONFIG\n"
    "       trackhost --check CONFIG\n"
    "  --debug LEVEL  debug level handed to the modules (0: none)\n"
    "  --cycles N     stop after N measurement cycles of every device\n"
    "  --seconds S    stop after S seconds (decimals allowed)\n"
    "  --grace S      seconds the devices get to stop after a stop request (default 3)\n"
    "  --check        check the configuration and load its modules, then exit\n"
    "                 (0: usable, 1: faults named); nothing is started\n"
    "  --version      the version\n"
    "  Ctrl-C and the system's other stop requests (SIGTERM, SIGHUP...; on Windows\n"
    "  Ctrl-Break and closing the console window) stop the host cleanly.\n";

// False with a message when the command line is not usable. Numbers are
// read the same in every locale.
bool parseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error);

}  // namespace host
