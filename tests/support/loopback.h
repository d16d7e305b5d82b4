#pragma once
// Peers on loopback, on the simulator's serving sockets: a TCP listener and a fake controller. Every wait is bounded.
#include <atomic>
#include <chrono>
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

struct TcpListener {
    explicit TcpListener(uint32_t address = kAddress, uint16_t wanted = 0) : port(wanted) {
        listening = platform::tcpListen(socket, address, port) == 0;
    }
    ~TcpListener() { platform::closeServerSocket(socket); }
    // The caller closes the connection; null when none came in time.
    platform::ServerSocket* acceptOne(int32_t micros) {
        platform::ServerSocket* connection = nullptr;
        if (readable(socket, micros)) platform::tcpAccept(socket, connection);
        return connection;
    }
    platform::ServerSocket* socket = nullptr;
    uint16_t port;
    bool listening;
};

// A loopback port that nothing listens on: connecting is refused at once.
inline uint16_t closedPort() { return TcpListener().port; }

inline bool sendDatagram(uint16_t port, const std::string& bytes) {
    platform::ServerSocket* socket = nullptr;
    uint16_t from = 0;
    const bool sent = platform::udpBind(socket, kAddress, from) == 0 &&
                      platform::udpSendTo(socket, bytes.data(), bytes.size(), kAddress, port) == 0;
    platform::closeServerSocket(socket);
    return sent;
}

// After a command: the bytes (pausing pauseMs at pauseAt), or close. Reply{"x"} has no terminating NUL, answer() has.
struct Reply {
    std::string bytes;
    size_t pauseAt = 0;
    int pauseMs = 0;
    bool close = false;
};
inline Reply answer(const std::string& text, size_t pauseAt = 0, int pauseMs = 0) {
    return {text + std::string(1, '\0'), pauseAt, pauseMs};
}

// Accepts one connection, records each command (bytes up to its NUL), plays the next reply; holds on till one closes.
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
    uint16_t port() const { return listener_.port; }
    std::vector<std::string> commands() {
        std::lock_guard<std::mutex> lock(mutex_);
        return commands_;
    }
    bool waitFor(size_t commands, bool close = false, int milliseconds = 3000) {
        for (int waited = 0; this->commands().size() < commands || (close && !closed_); waited += 2) {
            if (waited >= milliseconds) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

private:
    void serve() {
        platform::ServerSocket* connection = nullptr;
        for (int tries = 0; connection == nullptr && tries < 500 && !stop_; ++tries)
            connection = listener_.acceptOne(10000);
        std::string pending;
        size_t replied = 0;
        for (int idle = 0; connection != nullptr && !stop_ && idle < 3000;) {
            char byte = 0;
            const int count =
                readable(connection, 10000) ? platform::streamReceive(connection, &byte, 1) : platform::kServerTimeout;
            if (count == platform::kServerTimeout) {
                ++idle;
                continue;
            }
            if (count != 1) break;
            pending.push_back(byte);
            if (byte != '\0' || replied >= script_.size()) continue;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                commands_.push_back(pending);
            }
            const Reply& reply = script_[replied++];
            pending.clear();
            if (reply.close) break;
            const size_t first = reply.pauseMs > 0 ? reply.pauseAt : reply.bytes.size();
            platform::streamSend(connection, reply.bytes.data(), first, 1000000);
            std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
            platform::streamSend(connection, reply.bytes.data() + first, reply.bytes.size() - first, 1000000);
        }
        closed_ = true;
        platform::closeServerSocket(connection);
    }

    TcpListener listener_;
    std::vector<Reply> script_;
    std::mutex mutex_;
    std::vector<std::string> commands_;
    std::atomic<bool> stop_{false}, closed_{false};
    std::thread thread_;
};

}  // namespace loopback
