#include "tools/ostrelsim/controller.h"

namespace ostrelsim {

namespace {

constexpr int32_t kAnswerTimeoutMicros = 200000;
constexpr size_t kReadChunk = 512;
// Bounded work per wake-up, so that one chatty client cannot hold the frames.
constexpr int kReadsPerWakeUp = 16;

const char* stateText(bool sending) { return sending ? "frames on" : "frames off"; }

}  // namespace

std::string dottedQuad(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFFu) + "." +
           std::to_string((address >> 8) & 0xFFu) + "." + std::to_string(address & 0xFFu);
}

std::string portErrorMessage(const char* what, uint16_t port, int code) {
    std::string text = std::string(what) + " port " + std::to_string(port);
    if (code == platform::kServerPortInUse) {
        return text + " is already in use by another program";
    }
    return text + " cannot be opened (error " + std::to_string(code) + ")";
}

Controller::~Controller() {
    for (Connection& connection : connections_) {
        platform::closeServerSocket(connection.socket);
    }
    platform::closeServerSocket(listener_);
    platform::closeServerSocket(commandPort_);
}

bool Controller::open(uint16_t& tcpPort, uint16_t& udpPort, bool udpFollowsTcp, std::string& error) {
    uint16_t askedTcp = tcpPort;
    int result = platform::tcpListen(listener_, 0, tcpPort);
    if (result != 0) {
        error = portErrorMessage("TCP command", askedTcp, result);
        return false;
    }
    if (udpFollowsTcp) {
        udpPort = tcpPort;
    }
    uint16_t askedUdp = udpPort;
    result = platform::udpBind(commandPort_, 0, udpPort);
    if (result == platform::kServerPortInUse && udpFollowsTcp && askedTcp == 0) {
        udpPort = 0;
        result = platform::udpBind(commandPort_, 0, udpPort);
    }
    if (result != 0) {
        error = portErrorMessage("UDP command", askedUdp, result);
        platform::closeServerSocket(listener_);
        listener_ = nullptr;
        return false;
    }
    return true;
}

void Controller::serve(int32_t timeoutMicros) {
    platform::ServerSocket* sockets[2 + kMaxConnections] = {listener_, commandPort_};
    for (int i = 0; i < kMaxConnections; ++i) {
        sockets[2 + i] = connections_[i].socket;
    }
    bool readable[2 + kMaxConnections] = {};
    if (platform::waitReadable(sockets, 2 + kMaxConnections, readable, timeoutMicros) <= 0) {
        return;
    }
    if (readable[0]) acceptConnection();
    if (readable[1]) readDatagram();
    for (int i = 0; i < kMaxConnections; ++i) {
        if (readable[2 + i] && connections_[i].socket == sockets[2 + i]) {
            readConnection(connections_[i]);
        }
    }
}

void Controller::acceptConnection() {
    platform::ServerSocket* socket = nullptr;
    uint32_t peer = 0;
    if (platform::tcpAccept(listener_, socket, &peer) != 0) {
        return;
    }
    for (Connection& connection : connections_) {
        if (connection.socket == nullptr) {
            connection.socket = socket;
            connection.peer = peer;
            connection.splitter = CommandSplitter();
            log("TCP client " + dottedQuad(peer) + " connected");
            return;
        }
    }
    log("TCP client " + dottedQuad(peer) + " refused: " + std::to_string(kMaxConnections) +
        " clients are connected already");
    platform::closeServerSocket(socket);
}

void Controller::readConnection(Connection& connection) {
    char chunk[kReadChunk];
    for (int reads = 0; reads < kReadsPerWakeUp && connection.socket != nullptr; ++reads) {
        int count = platform::streamReceive(connection.socket, chunk, sizeof chunk);
        if (count == platform::kServerTimeout) {
            return;
        }
        if (count <= 0) {
            dropConnection(connection, count == platform::kServerPeerClosed ? "disconnected" : "failed");
            return;
        }
        bool answerFailed = false;
        connection.splitter.feed(chunk, static_cast<size_t>(count), [&](std::string_view text, bool tooLong) {
            if (answerFailed) {
                return;
            }
            std::string answer = handle("TCP", connection.peer, text, tooLong);
            // The answer goes out with its terminating NUL.
            answerFailed =
                platform::streamSend(connection.socket, answer.c_str(), answer.size() + 1, kAnswerTimeoutMicros) != 0;
        });
        if (answerFailed) {
            dropConnection(connection, "does not take answers");
            return;
        }
    }
}

void Controller::readDatagram() {
    char datagram[kMaxCommandLength + 2];
    uint32_t peer = 0;
    int count = platform::udpReceiveFrom(commandPort_, datagram, sizeof datagram, 0, &peer);
    bool tooLong = count == platform::kServerTruncated;
    if (count < 0 && !tooLong) {
        return;
    }
    size_t length = tooLong ? sizeof datagram : static_cast<size_t>(count);
    std::string_view text(datagram, length);
    text = text.substr(0, text.find('\0'));
    tooLong = tooLong || text.size() > kMaxCommandLength;
    // No answer over UDP: the client's data port, where an answer would go,
    // expects frames only.
    handle("UDP", peer, text, tooLong);
}

std::string Controller::handle(const char* channel, uint32_t peer, std::string_view text, bool tooLong) {
    std::string head = std::string(channel) + " command \"" + printableCommand(text) + "\" from " + dottedQuad(peer);
    if (tooLong) {
        log(head + ": too long, ignored");
        return errorAnswer(kErrorCommandTooLong, "command too long");
    }
    Command command = interpretCommand(text);
    if (command == Command::Unknown) {
        log(head + ": unknown, ignored");
        return answerFor(command);
    }
    bool before = state_.sendingFrames();
    state_.apply(command);
    bool after = state_.sendingFrames();
    log(head + ": " + (before == after ? std::string("still ") : std::string()) + stateText(after));
    return answerFor(command);
}

void Controller::dropConnection(Connection& connection, const char* why) {
    log("TCP client " + dottedQuad(connection.peer) + " " + why);
    platform::closeServerSocket(connection.socket);
    connection.socket = nullptr;
}

void Controller::log(const std::string& line) const {
    if (log_ != nullptr) {
        std::fprintf(log_, "ostrelsim: %s\n", line.c_str());
        std::fflush(log_);
    }
}

}  // namespace ostrelsim
