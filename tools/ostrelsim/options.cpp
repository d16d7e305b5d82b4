#include "tools/ostrelsim/options.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

namespace ostrelsim {

namespace {

const char kUsage[] =
    "usage: ostrelsim [send] --to HOST:PORT [--rate HZ] [--bodies N] [--wands N] [--tools N]\n"
    "                 [--inertial N] [--markers N] [--format 1|2] [--seconds S]\n"
    "                 [--controller [--tcp-port P] [--udp-port P]] [--ttl N] [--interface ADDRESS]\n"
    "       ostrelsim record --port P --out FILE [--seconds S]\n"
    "       ostrelsim replay FILE --to HOST:PORT [--speed X] [--loop] [--seconds S] [--ttl N]\n"
    "                 [--interface ADDRESS]\n"
    "       ostrelsim info FILE\n"
    "\n"
    "send     sends simulated tracking frames (default mode); --rate defaults to 60 Hz,\n"
    "         --bodies 3, --wands 1, --format 2 (\"6df2\"/\"6dmt2\"; 1 gives \"6df\"/\"6dmt\").\n"
    "         With --controller frames go out only while tracking is started by the\n"
    "         TCP (--tcp-port, default 50105) or UDP (--udp-port, default the TCP port)\n"
    "         command port; port 0 lets the system choose.\n"
    "record   writes every datagram arriving on UDP port P with its arrival time to FILE.\n"
    "replay   sends a recording again with its recorded pacing (--speed 2: twice as fast).\n"
    "info     tells what a recording holds: datagrams, duration, rate, gaps, first frame.\n"
    "To a multicast group (--to 239.1.2.3:5000): --ttl N (0 to 255; default 1, the local network)\n"
    "and --interface ADDRESS (the local interface that sends; default the system's choice).\n"
    "--seconds S ends the run after S seconds; otherwise Ctrl-C ends it. --version: the version.\n";

constexpr double kAboveZero = std::numeric_limits<double>::denorm_min();

// Numbers are read with from_chars: the same in every locale.
bool readInteger(std::string_view text, long long& value) {
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && !text.empty();
}

bool readReal(std::string_view text, double& value) {
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && !text.empty() && std::isfinite(value);
}

bool readPort(std::string_view text, uint16_t& port, long long lowest) {
    long long value = 0;
    if (!readInteger(text, value) || value < lowest || value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

// Collects the first refusal; later ones are not reported.
class Parser {
public:
    Parser(int argc, const char* const* argv) : argc_(argc), argv_(argv) {}

    ParseResult run();

private:
    bool fail(std::string message) {
        if (result_.error.empty()) {
            result_.error = std::move(message);
        }
        return false;
    }
    bool takeValue(std::string_view name, std::string_view inlineValue, bool hasInline, int& index,
                   std::string_view& value);
    bool applyOption(std::string_view name, std::string_view value);
    bool setCount(std::string_view name, std::string_view value, int maximum, int& field);
    // lowest is allowed; kAboveZero stands for "any number above 0".
    bool setReal(std::string_view name, std::string_view value, double lowest, double highest, const char* range,
                 double& field);
    bool checkModeOptions();

    int argc_;
    const char* const* argv_;
    ParseResult result_;
    Options& options_ = result_.options;
    bool seen_[32] = {};
};

// Options and the modes that accept them; the index doubles as "seen" slot.
struct OptionInfo {
    const char* name;
    bool takesValue;
    bool send, record, replay;
};

constexpr OptionInfo kOptions[] = {
    {"--to", true, true, false, true},        {"--rate", true, true, false, false},
    {"--bodies", true, true, false, false},   {"--wands", true, true, false, false},
    {"--tools", true, true, false, false},    {"--inertial", true, true, false, false},
    {"--markers", true, true, false, false},  {"--format", true, true, false, false},
    {"--seconds", true, true, true, true},    {"--controller", false, true, false, false},
    {"--tcp-port", true, true, false, false}, {"--udp-port", true, true, false, false},
    {"--port", true, false, true, false},     {"--out", true, false, true, false},
    {"--speed", true, false, false, true},    {"--loop", false, false, false, true},
    {"--ttl", true, true, false, true},       {"--interface", true, true, false, true},
};
constexpr int kOptionCount = static_cast<int>(sizeof kOptions / sizeof kOptions[0]);

int findOption(std::string_view name) {
    for (int i = 0; i < kOptionCount; ++i) {
        if (name == kOptions[i].name) {
            return i;
        }
    }
    return -1;
}

struct ModeWord {
    const char* name;
    Mode mode;
};

constexpr ModeWord kModes[] = {
    {"send", Mode::Send}, {"record", Mode::Record}, {"replay", Mode::Replay}, {"info", Mode::Info}};

const ModeWord* findMode(std::string_view name) {
    for (const ModeWord& word : kModes) {
        if (name == word.name) return &word;
    }
    return nullptr;
}

const char* modeName(Mode mode) {
    for (const ModeWord& word : kModes) {
        if (mode == word.mode) return word.name;
    }
    return "send";
}

bool acceptedIn(const OptionInfo& info, Mode mode) {
    switch (mode) {
        case Mode::Send: return info.send;
        case Mode::Record: return info.record;
        case Mode::Replay: return info.replay;
        case Mode::Info: return false;
    }
    return false;
}

ParseResult Parser::run() {
    int index = 1;
    if (index < argc_ && argv_[index][0] != '-') {
        std::string_view word = argv_[index];
        const ModeWord* mode = findMode(word);
        if (mode == nullptr) {
            fail("unknown mode \"" + std::string(word) + "\" (send, record, replay or info)");
            return result_;
        }
        options_.mode = mode->mode;
        ++index;
    }
    for (; index < argc_; ++index) {
        std::string_view argument = argv_[index];
        if (argument == "--help" || argument == "-h" || argument == "--version") {
            (argument == "--version" ? result_.versionWanted : result_.helpWanted) = true;
            result_.ok = true;
            return result_;
        }
        if (argument.size() < 2 || argument.substr(0, 2) != "--") {
            bool takesFile = options_.mode == Mode::Replay || options_.mode == Mode::Info;
            if (takesFile && options_.inPath.empty() && !argument.empty()) {
                options_.inPath = std::string(argument);
                continue;
            }
            fail("unexpected argument \"" + std::string(argument) + "\"");
            return result_;
        }
        size_t equals = argument.find('=');
        std::string_view name = argument.substr(0, equals);
        bool hasInline = equals != std::string_view::npos;
        std::string_view inlineValue = hasInline ? argument.substr(equals + 1) : std::string_view();
        std::string_view value;
        if (!takeValue(name, inlineValue, hasInline, index, value) || !applyOption(name, value)) {
            return result_;
        }
    }
    result_.ok = checkModeOptions();
    return result_;
}

bool Parser::takeValue(std::string_view name, std::string_view inlineValue, bool hasInline, int& index,
                       std::string_view& value) {
    int option = findOption(name);
    if (option < 0) {
        return fail("unknown option " + std::string(name));
    }
    const OptionInfo& info = kOptions[option];
    if (!acceptedIn(info, options_.mode)) {
        return fail(std::string(name) + " does not belong to " + modeName(options_.mode) + " mode");
    }
    if (seen_[option]) {
        return fail(std::string(name) + " given twice");
    }
    seen_[option] = true;
    if (!info.takesValue) {
        return hasInline ? fail(std::string(name) + " takes no value") : true;
    }
    if (hasInline) {
        value = inlineValue;
        return true;
    }
    if (index + 1 >= argc_) {
        return fail(std::string(name) + " needs a value");
    }
    value = argv_[++index];
    return true;
}

bool Parser::setCount(std::string_view name, std::string_view value, int maximum, int& field) {
    long long number = 0;
    if (!readInteger(value, number) || number < 0 || number > maximum) {
        return fail(std::string(name) + " must be a whole number from 0 to " + std::to_string(maximum) + ", not \"" +
                    std::string(value) + "\"");
    }
    field = static_cast<int>(number);
    return true;
}

bool Parser::setReal(std::string_view name, std::string_view value, double lowest, double highest, const char* range,
                     double& field) {
    double number = 0.0;
    if (!readReal(value, number) || !(number >= lowest) || number > highest) {
        return fail(std::string(name) + " must be a number " + range + ", not \"" + std::string(value) + "\"");
    }
    field = number;
    return true;
}

bool Parser::applyOption(std::string_view name, std::string_view value) {
    if (name == "--to") {
        return parseEndpoint(std::string(value), options_.to) ||
               fail("--to needs HOST:PORT with a port from 1 to 65535, not \"" + std::string(value) + "\"");
    }
    if (name == "--rate") return setReal(name, value, kMinRateHz, kMaxRateHz, "from 0.001 to 1000", options_.rateHz);
    if (name == "--bodies") return setCount(name, value, kMaxBodies, options_.bodies);
    if (name == "--wands") return setCount(name, value, kMaxWands, options_.wands);
    if (name == "--tools") return setCount(name, value, kMaxTools, options_.tools);
    if (name == "--inertial") return setCount(name, value, kMaxInertial, options_.inertial);
    if (name == "--markers") return setCount(name, value, kMaxMarkers, options_.markers);
    if (name == "--seconds") {
        return setReal(name, value, kAboveZero, 1e7, "above 0 and at most 10000000", options_.seconds);
    }
    if (name == "--speed") return setReal(name, value, kMinSpeed, kMaxSpeed, "from 0.001 to 100", options_.speed);
    if (name == "--format") {
        if (value != "1" && value != "2") {
            return fail("--format must be 1 or 2, not \"" + std::string(value) + "\"");
        }
        options_.format = value == "1" ? 1 : 2;
        return true;
    }
    if (name == "--controller") {
        options_.controller = true;
        return true;
    }
    if (name == "--loop") {
        options_.loop = true;
        return true;
    }
    if (name == "--tcp-port" || name == "--udp-port" || name == "--port") {
        uint16_t& port = name == "--tcp-port"   ? options_.tcpPort
                         : name == "--udp-port" ? options_.udpPort
                                                : options_.recordPort;
        options_.udpPortGiven = options_.udpPortGiven || name == "--udp-port";
        return readPort(value, port, 0) ||
               fail(std::string(name) + " must be a port from 0 to 65535, not \"" + std::string(value) + "\"");
    }
    if (name == "--ttl") return setCount(name, value, 255, options_.multicast.ttl);
    if (name == "--interface") {
        options_.multicast.interfaceAddress = std::string(value);
        return !value.empty() || fail("--interface needs the address of a local interface");
    }
    if (name == "--out") {
        options_.outPath = std::string(value);
        return !value.empty() || fail("--out needs a file name");
    }
    return fail("unknown option " + std::string(name));
}

bool Parser::checkModeOptions() {
    bool portsGiven = seen_[findOption("--tcp-port")] || seen_[findOption("--udp-port")];
    switch (options_.mode) {
        case Mode::Send:
            if (options_.to.host.empty()) return fail("send needs --to HOST:PORT");
            if (portsGiven && !options_.controller) return fail("--tcp-port and --udp-port need --controller");
            if (!options_.udpPortGiven) options_.udpPort = options_.tcpPort;
            return true;
        case Mode::Record:
            if (!seen_[findOption("--port")]) return fail("record needs --port P");
            if (options_.outPath.empty()) return fail("record needs --out FILE");
            return true;
        case Mode::Replay:
            if (options_.inPath.empty()) return fail("replay needs the recording FILE");
            if (options_.to.host.empty()) return fail("replay needs --to HOST:PORT");
            return true;
        case Mode::Info: return !options_.inPath.empty() || fail("info needs the recording FILE");
    }
    return true;
}

}  // namespace

bool parseEndpoint(const std::string& text, Endpoint& endpoint) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return false;
    }
    uint16_t port = 0;
    if (!readPort(std::string_view(text).substr(colon + 1), port, 1)) {
        return false;
    }
    endpoint.host = text.substr(0, colon);
    endpoint.port = port;
    return true;
}

ParseResult parseArguments(int argc, const char* const* argv) {
    Parser parser(argc, argv);
    return parser.run();
}

const char* usageText() noexcept { return kUsage; }

}  // namespace ostrelsim
