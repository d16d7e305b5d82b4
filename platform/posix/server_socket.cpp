#include "platform/server_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <new>

#include "native.h"

namespace platform {

struct ServerSocket {
    NativeSocket descriptor;
};

namespace {

constexpr size_t kMaxWaitSockets = 64;

sockaddr_in socketAddress(uint32_t address, uint16_t port) noexcept {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = htonl(address);
    result.sin_port = htons(port);
    return result;
}

timespec toTimespec(int32_t timeoutMicros) noexcept {
    if (timeoutMicros < 0) {
        timeoutMicros = 0;
    }
    timespec timeout{};
    timeout.tv_sec = static_cast<time_t>(timeoutMicros / 1000000);
    timeout.tv_nsec = static_cast<long>(timeoutMicros % 1000000) * 1000L;
    return timeout;
}

// 1 ready, 0 time-out (or a signal), negative on failure.
int waitFor(NativeSocket descriptor, short events, int32_t timeoutMicros) noexcept {
    pollfd entry{descriptor, events, 0};
    timespec timeout = toTimespec(timeoutMicros);
    int ready = ppoll(&entry, 1, &timeout, nullptr);
    if (ready < 0) {
        return errno == EINTR ? 0 : -1;
    }
    return ready;
}

// Wraps a fresh descriptor; closes it when the handle cannot be allocated.
int adopt(NativeSocket descriptor, ServerSocket*& out) noexcept {
    out = new (std::nothrow) ServerSocket{descriptor};
    if (out == nullptr) {
        close(descriptor);
        return kServerNoMemory;
    }
    return 0;
}

int bindAndReadPort(NativeSocket descriptor, uint32_t address, uint16_t& port) noexcept {
    sockaddr_in local = socketAddress(address, port);
    if (bind(descriptor, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return errno == EADDRINUSE ? kServerPortInUse : kServerIoFailed;
    }
    socklen_t size = sizeof local;
    if (getsockname(descriptor, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        return kServerIoFailed;
    }
    port = ntohs(local.sin_port);
    return 0;
}

}  // namespace

int udpBind(ServerSocket*& socketOut, uint32_t address, uint16_t& port) noexcept {
    socketOut = nullptr;
    NativeSocket descriptor = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        return kServerWaitFailed;
    }
    int result = bindAndReadPort(descriptor, address, port);
    if (result != 0) {
        close(descriptor);
        return result;
    }
    return adopt(descriptor, socketOut);
}

int udpReceiveFrom(ServerSocket* socketIn, char* buffer, size_t capacity, int32_t timeoutMicros,
                   uint32_t* fromAddress, uint16_t* fromPort) noexcept {
    if (socketIn == nullptr) {
        return kServerIoFailed;
    }
    int ready = waitFor(socketIn->descriptor, POLLIN, timeoutMicros);
    if (ready <= 0) {
        return ready == 0 ? kServerTimeout : kServerWaitFailed;
    }
    sockaddr_in peer{};
    socklen_t peerSize = sizeof peer;
    // MSG_TRUNC makes the call report the datagram's full length.
    ssize_t length = recvfrom(socketIn->descriptor, buffer, capacity, MSG_TRUNC | MSG_DONTWAIT,
                              reinterpret_cast<sockaddr*>(&peer), &peerSize);
    if (length < 0) {
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? kServerTimeout : kServerIoFailed;
    }
    if (fromAddress != nullptr) {
        *fromAddress = ntohl(peer.sin_addr.s_addr);
    }
    if (fromPort != nullptr) {
        *fromPort = ntohs(peer.sin_port);
    }
    if (static_cast<size_t>(length) > capacity) {
        return kServerTruncated;
    }
    return static_cast<int>(length);
}

int udpSendTo(ServerSocket* socketIn, const char* data, size_t length, uint32_t address, uint16_t port) noexcept {
    if (socketIn == nullptr) {
        return kServerIoFailed;
    }
    sockaddr_in peer = socketAddress(address, port);
    ssize_t sent = sendto(socketIn->descriptor, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&peer),
                          sizeof peer);
    return (sent >= 0 && static_cast<size_t>(sent) == length) ? 0 : kServerIoFailed;
}

int tcpListen(ServerSocket*& listener, uint32_t address, uint16_t& port) noexcept {
    listener = nullptr;
    NativeSocket descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (descriptor < 0) {
        return kServerWaitFailed;
    }
    int on = 1;
    int result = setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 ? 0 : kServerIoFailed;
    if (result == 0) {
        result = bindAndReadPort(descriptor, address, port);
    }
    if (result == 0 && listen(descriptor, 16) != 0) {
        result = errno == EADDRINUSE ? kServerPortInUse : kServerIoFailed;
    }
    if (result != 0) {
        close(descriptor);
        return result;
    }
    return adopt(descriptor, listener);
}

int tcpAccept(ServerSocket* listener, ServerSocket*& connection, uint32_t* peerAddress) noexcept {
    connection = nullptr;
    if (listener == nullptr) {
        return kServerIoFailed;
    }
    sockaddr_in peer{};
    socklen_t peerSize = sizeof peer;
    NativeSocket descriptor = accept4(listener->descriptor, reinterpret_cast<sockaddr*>(&peer), &peerSize,
                             SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (descriptor < 0) {
        // The client may have gone again between readiness and accept.
        bool nothingPending = errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED || errno == EINTR;
        return nothingPending ? kServerTimeout : kServerIoFailed;
    }
    if (peerAddress != nullptr) {
        *peerAddress = ntohl(peer.sin_addr.s_addr);
    }
    return adopt(descriptor, connection);
}

int streamReceive(ServerSocket* connection, char* buffer, size_t capacity) noexcept {
    if (connection == nullptr) {
        return kServerIoFailed;
    }
    ssize_t count = recv(connection->descriptor, buffer, capacity, MSG_DONTWAIT);
    if (count > 0) {
        return static_cast<int>(count);
    }
    if (count == 0) {
        return capacity == 0 ? 0 : kServerPeerClosed;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        return kServerTimeout;
    }
    return errno == ECONNRESET ? kServerPeerClosed : kServerIoFailed;
}

int streamSend(ServerSocket* connection, const char* data, size_t length, int32_t timeoutMicros) noexcept {
    if (connection == nullptr) {
        return kServerIoFailed;
    }
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    size_t done = 0;
    while (done < length) {
        ssize_t sent = send(connection->descriptor, data + done, length - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            done += static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return kServerIoFailed;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        int64_t usedMicros = (now.tv_sec - start.tv_sec) * 1000000LL + (now.tv_nsec - start.tv_nsec) / 1000;
        if (usedMicros >= timeoutMicros) {
            return kServerTimeout;
        }
        if (waitFor(connection->descriptor, POLLOUT, static_cast<int32_t>(timeoutMicros - usedMicros)) < 0) {
            return kServerWaitFailed;
        }
    }
    return 0;
}

int waitReadable(ServerSocket* const* sockets, size_t count, bool* readable, int32_t timeoutMicros) noexcept {
    if (count > kMaxWaitSockets) {
        return kServerWaitFailed;
    }
    pollfd entries[kMaxWaitSockets];
    for (size_t i = 0; i < count; ++i) {
        // A negative descriptor makes poll skip the entry.
        entries[i] = pollfd{sockets[i] != nullptr ? sockets[i]->descriptor : -1, POLLIN, 0};
        readable[i] = false;
    }
    timespec timeout = toTimespec(timeoutMicros);
    int ready = ppoll(entries, count, &timeout, nullptr);
    if (ready < 0) {
        return errno == EINTR ? 0 : kServerWaitFailed;
    }
    int found = 0;
    for (size_t i = 0; i < count; ++i) {
        // Errors and hang-ups count as readable: the receive then reports them.
        if (entries[i].fd >= 0 && (entries[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
            readable[i] = true;
            ++found;
        }
    }
    return found;
}

void closeServerSocket(ServerSocket* socketIn) noexcept {
    if (socketIn != nullptr) {
        close(socketIn->descriptor);
        delete socketIn;
    }
}

}  // namespace platform
