#pragma once
// Peers on loopback for the link's and the device's tests, on the serving
// sockets that the simulator uses: a TCP listener, a fake controller that
// records the exact bytes of each command and plays scripted answers, and a
// UDP collector that keeps every datagram in order. Every wait is bounded.
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
    explicit TcpListener(uint32_t address = kAddress, uint16_t port = 0) : port_(port) {
        listening = platform::tcpListen(listener_, address, port_) == 0;
    }
    ~TcpListener() { platform::closeServerSocket(listener_); }
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;
    uint16_t port() const { return port_; }
    // The accepted connection (the caller closes it), or null when none came in time.
    platform::ServerSocket* acceptOne(int32_t micros) {
        platform::ServerSocket* connection = nullptr;
        if (readable(listener_, micros)) platform::tcpAccept(listener_, connection);
        return connection;
    }
    bool listening = false;

private:
    platform::ServerSocket* listener_ = nullptr;
    uint16_t port_;
};

// A loopback port that nothing listens on: connecting is refused at once.
inline uint16_t closedPort() { return TcpListener().port(); }

// One datagram to 127.0.0.1:port from a throw-away socket.
inline bool sendDatagram(uint16_t port, const std::string& bytes) {
    platform::ServerSocket* socket = nullptr;
    uint16_t from = 0;
    bool sent = platform::udpBind(socket, kAddress, from) == 0 &&
                platform::udpSendTo(socket, bytes.data(), bytes.size(), kAddress, port) == 0;
    platform::closeServerSocket(socket);
    return sent;
}

// What the fake controller does after reading one command: send bytes as
// they are (include the NUL where wanted; with a pause, those before
// pauseAt go first), stay silent, or close the connection.
struct Reply {
    enum Kind { Send, Silence, Close } kind;
    std::string bytes;
    size_t pauseAt = 0;
    int pauseMs = 0;
};
inline Reply answer(const std::string& text, size_t pauseAt = 0, int pauseMs = 0) {
    return {Reply::Send, text + std::string(1, '\0'), pauseAt, pauseMs};
}
inline Reply rawAnswer(const std::string& bytes) { return {Reply::Send, bytes}; }

// Accepts one connection and, for every scripted reply, reads one command
// (up to and including its NUL) and plays the reply; then holds the
// connection until it is closed or the controller is destroyed.
class FakeController {
public:
    explicit FakeController(std::vector<Reply> script, uint32_t address = kAddress, uint16_t port = 0)
        : listener_(address, port), script_(std::move(script)) {
        if (listener_.listening) thread_ = std::thread([this] { serve(); });
    }
    ~FakeController() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool listening() const { return listener_.listening; }
    uint16_t port() const { return listener_.port(); }
    std::vector<std::string> commands() {
        std::lock_guard<std::mutex> lock(mutex_);
        return commands_;
    }
    // Waits (bounded) until n commands have arrived.
    bool waitForCommands(size_t n, int milliseconds = 3000) {
        for (int waited = 0; commands().size() < n; waited += 2) {
            if (waited >= milliseconds) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    bool sawClose() const { return closed_; }

private:
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
            if (reply.kind == Reply::Send) {
                const size_t first = reply.pauseMs > 0 ? reply.pauseAt : reply.bytes.size();
                platform::streamSend(connection, reply.bytes.data(), first, 1000000);
                std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
                platform::streamSend(connection, reply.bytes.data() + first, reply.bytes.size() - first, 1000000);
            }
        }
        char byte = 0;
        while (!stop_ && connection != nullptr && (script_.empty() || script_.back().kind != Reply::Close)) {
            if (readable(connection, 10000) && platform::streamReceive(connection, &byte, 1) == platform::kServerPeerClosed) {
                closed_ = true;
                break;
            }
        }
        platform::closeServerSocket(connection);
    }
    bool readCommand(platform::ServerSocket* connection, std::string& command) {
        for (int waits = 0; connection != nullptr && waits < 500 && !stop_;) {
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
    std::atomic<bool> stop_{false}, closed_{false};
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
    uint16_t port_ = 0, lastSenderPort_ = 0;
};

}  // namespace loopback
