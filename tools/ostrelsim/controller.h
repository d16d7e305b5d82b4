#pragma once
// The tracking system's controller: listens for commands on a TCP port and
// on a UDP port, answers TCP commands, and decides whether frames flow.
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/server_socket.h"
#include "tools/ostrelsim/command_protocol.h"

namespace ostrelsim {

class Controller {
public:
    static constexpr int kMaxConnections = 8;

    // Every command and connection is logged to log (null: quiet).
    explicit Controller(std::FILE* log) noexcept : log_(log) {}
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    // Opens both ports on all interfaces; port 0 lets the system choose and
    // the chosen port is written back. With udpFollowsTcp the UDP port takes
    // the TCP port's number (when the system chose that number and it is
    // taken for UDP, the system chooses the UDP port too). On failure error
    // says which port and why, and nothing stays open.
    bool open(uint16_t& tcpPort, uint16_t& udpPort, bool udpFollowsTcp, std::string& error);

    // Waits at most the time-out for commands and serves all that came.
    void serve(int32_t timeoutMicros);

    bool sendingFrames() const noexcept { return state_.sendingFrames(); }

private:
    struct Connection {
        platform::ServerSocket* socket = nullptr;
        uint32_t peer = 0;
        CommandSplitter splitter;
    };

    void acceptConnection();
    void readConnection(Connection& connection);
    void readDatagram();
    // Applies the command and logs it; returns the answer for TCP.
    std::string handle(const char* channel, uint32_t peer, std::string_view text, bool tooLong);
    void dropConnection(Connection& connection, const char* why);
    void log(const std::string& line) const;

    std::FILE* log_;
    platform::ServerSocket* listener_ = nullptr;
    platform::ServerSocket* commandPort_ = nullptr;
    Connection connections_[kMaxConnections];
    TrackingState state_;
};

// Dotted quad of a host-order IPv4 address.
std::string dottedQuad(uint32_t address);

// The message for a port that could not be opened.
std::string portErrorMessage(const char* what, uint16_t port, int code);

}  // namespace ostrelsim
