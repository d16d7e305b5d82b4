#pragma once
// Peers on loopback for the link's tests: a TCP listener (also one that
// never answers a connect), a fake controller that records the exact bytes
// of each command and plays scripted answers, and a UDP collector that keeps
// every datagram in order. Test-only scaffolding on plain BSD sockets; every
// wait is bounded.
#include <arpa/inet.h>
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

namespace loopback {

constexpr uint32_t kAddress = 0x7F000001;  // 127.0.0.1, host order

inline sockaddr_in socketAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kAddress);
    address.sin_port = htons(port);
    return address;
}

inline uint16_t localPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

inline bool waitReadable(int fd, int milliseconds) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, milliseconds) > 0;
}

// A loopback port that nothing listens on: connecting is refused at once.
inline uint16_t closedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = socketAddress(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    uint16_t port = localPort(fd);
    close(fd);
    return port;
}

// Sends one datagram to 127.0.0.1:port from a throw-away socket.
inline bool sendDatagram(uint16_t port, const std::string& bytes) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = socketAddress(port);
    ssize_t sent = sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    close(fd);
    return sent == static_cast<ssize_t>(bytes.size());
}

class TcpListener {
public:
    explicit TcpListener(int backlog = 4) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address = socketAddress(0);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(fd_, backlog);
        port_ = localPort(fd_);
    }
    ~TcpListener() { close(fd_); }
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    uint16_t port() const { return port_; }
    // The accepted connection, or -1 when none came in time.
    int acceptOne(int milliseconds) { return waitReadable(fd_, milliseconds) ? accept(fd_, nullptr, nullptr) : -1; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A listener whose queue is full and that never accepts: further connects
// get no answer at all (the system drops their handshakes), like a
// controller behind a firewall that drops packets.
class BlackholeListener {
public:
    BlackholeListener() : listener_(0) {
        filler_ = socket(AF_INET, SOCK_STREAM, 0);
        fcntl(filler_, F_SETFL, O_NONBLOCK);
        sockaddr_in address = socketAddress(listener_.port());
        connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        pollfd entry{filler_, POLLOUT, 0};
        poll(&entry, 1, 1000);
    }
    ~BlackholeListener() { close(filler_); }
    uint16_t port() const { return listener_.port(); }

private:
    TcpListener listener_;
    int filler_ = -1;
};

// What the fake controller does after reading one command.
struct Reply {
    enum Kind { Send, Silence, Close } kind;
    std::string bytes;  // sent as they are: include the NUL where wanted
};

inline Reply answer(const std::string& text) { return {Reply::Send, text + std::string(1, '\0')}; }
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
    // Waits (bounded) until n commands have arrived.
    bool waitForCommands(size_t n, int milliseconds = 3000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (commands().size() >= n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

private:
    void serve() {
        int connection = -1;
        for (int tries = 0; connection < 0 && tries < 500 && !stop_; ++tries) connection = listener_.acceptOne(10);
        if (connection < 0) return;
        for (const Reply& reply : script_) {
            std::string command;
            if (!readCommand(connection, command)) break;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                commands_.push_back(command);
            }
            if (reply.kind == Reply::Close) break;
            if (reply.kind == Reply::Send) send(connection, reply.bytes.data(), reply.bytes.size(), MSG_NOSIGNAL);
        }
        // Hold the connection open until the test ends, unless told to close.
        while (!stop_ && (script_.empty() || script_.back().kind != Reply::Close)) waitReadable(connection, 10);
        close(connection);
    }

    bool readCommand(int connection, std::string& command) {
        for (int waits = 0; waits < 500 && !stop_;) {
            if (!waitReadable(connection, 10)) {
                ++waits;
                continue;
            }
            char byte = 0;
            if (recv(connection, &byte, 1, 0) != 1) return false;
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
    std::thread thread_;
};

// A UDP socket on loopback that keeps every datagram, in order.
class UdpCollector {
public:
    UdpCollector() {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address = socketAddress(0);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        port_ = localPort(fd_);
    }
    ~UdpCollector() { close(fd_); }
    uint16_t port() const { return port_; }
    uint16_t lastSenderPort() const { return lastSenderPort_; }

    // Datagrams that arrive within the time (bounded), up to count.
    std::vector<std::string> receive(size_t count, int milliseconds = 2000) {
        std::vector<std::string> datagrams;
        while (datagrams.size() < count && waitReadable(fd_, milliseconds)) {
            char buffer[70000];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            ssize_t length = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (length < 0) break;
            lastSenderPort_ = ntohs(from.sin_port);
            datagrams.emplace_back(buffer, static_cast<size_t>(length));
        }
        return datagrams;
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
    uint16_t lastSenderPort_ = 0;
};

}  // namespace loopback
