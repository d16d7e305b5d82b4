#include "platform/server_socket.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

#include <new>

#include "platform/clock.h"
#include "platform/socket.h"
#include "socket_common.h"

namespace platform {

struct ServerSocket {
    NativeSocket descriptor;
};

namespace {

constexpr size_t kMaxWaitSockets = 64;

// Wraps a fresh descriptor; closes it when the handle cannot be allocated.
int adopt(NativeSocket descriptor, ServerSocket*& out) noexcept {
    out = new (std::nothrow) ServerSocket{descriptor};
    if (out == nullptr) {
        closeSocket(descriptor);
        return kServerNoMemory;
    }
    return 0;
}

int bindAndReadPort(NativeSocket descriptor, uint32_t address, uint16_t& port) noexcept {
    int error = posixsocket::bindIPv4(descriptor, address, port);
    if (error != 0) {
        return error == EADDRINUSE ? kServerPortInUse : kServerIoFailed;
    }
    return boundPort(descriptor, port) ? 0 : kServerIoFailed;
}

}  // namespace

int udpBind(ServerSocket*& socketOut, uint32_t address, uint16_t& port) noexcept {
    socketOut = nullptr;
    NativeSocket descriptor = kInvalidNativeSocket;
    if (!openSocket(SocketKind::Datagram, descriptor)) {
        return kServerWaitFailed;
    }
    int result = bindAndReadPort(descriptor, address, port);
    if (result != 0) {
        closeSocket(descriptor);
        return result;
    }
    return adopt(descriptor, socketOut);
}

int udpReceiveFrom(ServerSocket* socketIn, char* buffer, size_t capacity, int32_t timeoutMicros, uint32_t* fromAddress,
                   uint16_t* fromPort) noexcept {
    if (socketIn == nullptr) {
        return kServerIoFailed;
    }
    bool readable = false;
    int ready = waitReadable(&socketIn, 1, &readable, timeoutMicros);
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
    sockaddr_in peer = posixsocket::ipv4Address(address, port);
    ssize_t sent =
        sendto(socketIn->descriptor, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    return (sent >= 0 && static_cast<size_t>(sent) == length) ? 0 : kServerIoFailed;
}

int tcpListen(ServerSocket*& listener, uint32_t address, uint16_t& port) noexcept {
    listener = nullptr;
    NativeSocket descriptor = kInvalidNativeSocket;
    if (!openSocket(SocketKind::Stream, descriptor)) {
        return kServerWaitFailed;
    }
    int result = posixsocket::setBlocking(descriptor, false) && enableAddressReuse(descriptor) ? 0 : kServerIoFailed;
    if (result == 0) {
        result = bindAndReadPort(descriptor, address, port);
    }
    if (result == 0 && listen(descriptor, 16) != 0) {
        result = errno == EADDRINUSE ? kServerPortInUse : kServerIoFailed;
    }
    if (result != 0) {
        closeSocket(descriptor);
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
    NativeSocket descriptor =
        accept4(listener->descriptor, reinterpret_cast<sockaddr*>(&peer), &peerSize, SOCK_CLOEXEC | SOCK_NONBLOCK);
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
    const uint64_t start = monotonicNanos();
    size_t done = 0;
    while (done < length) {
        int32_t sent = 0;
        const auto chunk = static_cast<int32_t>(std::min<size_t>(length - done, INT32_MAX));
        IoResult result = sendNow(connection->descriptor, data + done, chunk, sent);
        if (result == IoResult::Done && sent > 0) {
            done += static_cast<size_t>(sent);
            continue;
        }
        if (result == IoResult::Failed) {
            return kServerIoFailed;
        }
        const auto usedMicros = static_cast<int64_t>((monotonicNanos() - start) / 1000);
        if (usedMicros >= timeoutMicros) {
            return kServerTimeout;
        }
        const auto remaining = static_cast<int32_t>(timeoutMicros - usedMicros);
        if (waitUntilReady(connection->descriptor, WaitFor::Writable, remaining) == WaitResult::Failed) {
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
    timespec timeout = posixsocket::waitTime(timeoutMicros);
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
        closeSocket(socketIn->descriptor);
        delete socketIn;
    }
}

}  // namespace platform
