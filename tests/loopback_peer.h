#pragma once
// Peers on loopback for the link's tests, built on the serving sockets that
// the simulator uses: a TCP listener, a fake controller that records the
// exact bytes of each command and plays scripted answers, a UDP collector
// that keeps every datagram in order, and a listener that never answers a
// connect. Every wait is bounded.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/server_socket.h"

namespace loopback {

constexpr uint32_t kAddress = 0x7F000001;  // 127.0.0.1, host order

inline bool readable(platform::ServerSocket* socket, int32_t micros) {
    bool ready = false;
    return platform::waitReadable(&socket, 1, &ready, micros) > 0;
}

class TcpListener {
public:
    TcpListener() { platform::tcpListen(listener_, kAddress, port_); }
    ~TcpListener() { platform::closeServerSocket(listener_); }
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    uint16_t port() const { return port_; }
    // The accepted connection (the caller closes it), or null when none
    // came in time.
    platform::ServerSocket* acceptOne(int32_t micros) {
        platform::ServerSocket* connection = nullptr;
        if (readable(listener_, micros)) platform::tcpAccept(listener_, connection);
        return connection;
    }

private:
    platform::ServerSocket* listener_ = nullptr;
    uint16_t port_ = 0;
};

// A loopback port that nothing listens on: connecting is refused at once.
inline uint16_t closedPort() { return TcpListener().port(); }

// Sends one datagram to 127.0.0.1:port from a throw-away socket.
inline bool sendDatagram(uint16_t port, const std::string& bytes) {
    platform::ServerSocket* socket = nullptr;
    uint16_t from = 0;
    bool sent = platform::udpBind(socket, kAddress, from) == 0 &&
                platform::udpSendTo(socket, bytes.data(), bytes.size(), kAddress, port) == 0;
    platform::closeServerSocket(socket);
    return sent;
}

// A listener whose queue (of length 0) is full and that never accepts:
// further connects get no answer at all (the system drops their
// handshakes), like a controller behind a firewall that drops packets.
class BlackholeListener {
public:
    BlackholeListener() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(kAddress);
        socklen_t length = sizeof address;
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 0);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        fcntl(filler_, F_SETFL, O_NONBLOCK);
        connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        pollfd entry{filler_, POLLOUT, 0};
        poll(&entry, 1, 1000);
    }
    ~BlackholeListener() {
        close(filler_);
        close(listener_);
    }
    uint16_t port() const { return port_; }

private:
    int listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int filler_ = socket(AF_INET, SOCK_STREAM, 0);
    uint16_t port_ = 0;
};

// What the fake controller does after reading one command.
struct Reply {
    enum Kind { Send, Silence, Close } kind;
    std::string bytes;  // sent as they are: include the NUL where wanted
    size_t pauseAt = 0;  // with a pause: the bytes before it go first
    int pauseMs = 0;
};

inline Reply answer(const std::string& text) { return {Reply::Send, text + std::string(1, '\0')}; }
// The answer in two pieces, the second after a pause (0: all of it late).
inline Reply paused(const std::string& text, size_t at, int ms) {
    return {Reply::Send, text + std::string(1, '\0'), at, ms};
}
inline Reply rawAnswer(const std::string& bytes) { return {Reply::Send, bytes}; }
inline Reply silence() { return {Reply::Silence, {}}; }
inline Reply closeConnection() { return {Reply::Close, {}}; }

// Accepts one connection and, for every scripted reply, reads one command
// (up to and including its NUL) and plays the reply.
class FakeController {
public:
    explicit FakeController(std::vector<Reply> script) : script_(std::move(script)) {
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeController() {
        stop_ = true;
        thread_.join();
    }
    uint16_t port() const { return listener_.port(); }

    // Every command received so far, byte for byte (NUL included).
    std::vector<std::string> commands() {
        std::lock_guard<std::mutex> lock(mutex_);
        return commands_;
    }
    // Waits (bounded) until n commands have arrived, or n replies have gone.
    bool waitForCommands(size_t n, int milliseconds = 3000) {
        return waitFor([&] { return commands().size() >= n; }, milliseconds);
    }
    bool waitForReplies(size_t n, int milliseconds = 3000) {
        return waitFor([&] { return replies_.load() >= n; }, milliseconds);
    }

private:
    template <class Done>
    static bool waitFor(Done done, int milliseconds) {
        for (int waited = 0; waited < milliseconds; waited += 2) {
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    void send(platform::ServerSocket* connection, const Reply& reply) {
        if (reply.pauseMs > 0) {
            if (reply.pauseAt > 0) platform::streamSend(connection, reply.bytes.data(), reply.pauseAt, 1000000);
            std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
        }
        const size_t from = reply.pauseMs > 0 ? reply.pauseAt : 0;
        platform::streamSend(connection, reply.bytes.data() + from, reply.bytes.size() - from, 1000000);
        ++replies_;
    }

    void serve() {
        platform::ServerSocket* connection = nullptr;
        for (int tries = 0; connection == nullptr && tries < 500 && !stop_; ++tries) {
            connection = listener_.acceptOne(10000);
        }
        for (const Reply& reply : script_) {
            std::string command;
            if (!readCommand(connection, command)) break;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                commands_.push_back(command);
            }
            if (reply.kind == Reply::Close) break;
            if (reply.kind == Reply::Send) send(connection, reply);
        }
        // Hold the connection open until the test ends, unless told to close.
        while (!stop_ && (script_.empty() || script_.back().kind != Reply::Close)) readable(connection, 10000);
        platform::closeServerSocket(connection);
    }

    bool readCommand(platform::ServerSocket* connection, std::string& command) {
        for (int waits = 0; waits < 500 && !stop_;) {
            char byte = 0;
            const int count = platform::streamReceive(connection, &byte, 1);
            if (count == platform::kServerTimeout) {
                waits += readable(connection, 10000) ? 0 : 1;
                continue;
            }
            if (count != 1) return false;
            command.push_back(byte);
            if (byte == '\0') return true;
        }
        return false;
    }

    TcpListener listener_;
    std::vector<Reply> script_;
    std::mutex mutex_;
    std::vector<std::string> commands_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> replies_{0};
    std::thread thread_;
};

// A UDP socket on loopback that keeps every datagram, in order.
class UdpCollector {
public:
    UdpCollector() { platform::udpBind(socket_, kAddress, port_); }
    ~UdpCollector() { platform::closeServerSocket(socket_); }
    uint16_t port() const { return port_; }
    uint16_t lastSenderPort() const { return lastSenderPort_; }

    // Datagrams that arrive within the time (bounded), up to count.
    std::vector<std::string> receive(size_t count, int32_t micros = 2000000) {
        std::vector<std::string> datagrams;
        std::vector<char> buffer(70000);
        while (datagrams.size() < count) {
            int length = platform::udpReceiveFrom(socket_, buffer.data(), buffer.size(), micros, nullptr, &lastSenderPort_);
            if (length < 0) break;
            datagrams.emplace_back(buffer.data(), static_cast<size_t>(length));
        }
        return datagrams;
    }

private:
    platform::ServerSocket* socket_ = nullptr;
    uint16_t port_ = 0;
    uint16_t lastSenderPort_ = 0;
};

}  // namespace loopback
