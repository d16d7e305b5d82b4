#pragma once
// Command line of ostrelsim, read into a plain struct by a pure function so
// that every rule can be tested without sockets.
#include <cstdint>
#include <string>

namespace ostrelsim {

enum class Mode { Send, Record, Replay, Info };

// Largest counts per frame: with all of them at their maximum a frame still
// fits the tracking client's default receive buffer.
constexpr int kMaxBodies = 64;
constexpr int kMaxWands = 16;
constexpr int kMaxTools = 16;
constexpr int kMaxInertial = 32;
constexpr int kMaxMarkers = 100;
// Slower rates and speeds make waits that no clock counts down to.
constexpr double kMinRateHz = 0.001;
constexpr double kMaxRateHz = 1000.0;
constexpr double kMinSpeed = 0.001;
constexpr double kMaxSpeed = 100.0;
constexpr uint16_t kDefaultControllerPort = 50105;

struct Endpoint {
    std::string host;  // name or dotted quad, resolved when the mode starts
    uint16_t port = 0;
};

// How datagrams to a multicast group leave (send and replay).
struct MulticastSending {
    int ttl = -1;                  // routers they may cross; -1: the system's default (1)
    std::string interfaceAddress;  // the local interface they leave from; empty: the system's choice
};

struct Options {
    Mode mode = Mode::Send;
    Endpoint to;  // send and replay: where datagrams go
    MulticastSending multicast;
    double seconds = 0.0;  // run time; 0 = until interrupted

    // send
    double rateHz = 60.0;
    int bodies = 3;
    int wands = 1;
    int tools = 0;
    int inertial = 0;
    int markers = 0;
    int format = 2;  // 1: "6df"/"6dmt" lines, 2: "6df2"/"6dmt2" lines
    bool controller = false;
    uint16_t tcpPort = kDefaultControllerPort;  // 0: the system chooses
    uint16_t udpPort = kDefaultControllerPort;
    bool udpPortGiven = false;  // otherwise the UDP port follows the TCP port

    // record
    uint16_t recordPort = 0;
    std::string outPath;

    // replay and info
    std::string inPath;
    double speed = 1.0;
    bool loop = false;
};

struct ParseResult {
    bool ok = false;
    bool helpWanted = false;     // --help: print the usage, exit 0
    bool versionWanted = false;  // --version: print the version, exit 0
    Options options;
    std::string error;  // why the command line was refused (ok false)
};

// argv[0] is the program name and is skipped.
ParseResult parseArguments(int argc, const char* const* argv);

// The usage text, several lines, ending with a line end.
const char* usageText() noexcept;

// "HOST:PORT" with a port from 1 to 65535; false when malformed.
bool parseEndpoint(const std::string& text, Endpoint& endpoint);

}  // namespace ostrelsim
