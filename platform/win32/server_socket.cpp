#include "platform/server_socket.h"

// Windows Sockets 2 before <windows.h>, which would bring the old version.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <new>

#include "platform/clock.h"
#include "platform/socket.h"

namespace platform {

// Each socket holds one start-up of the socket library, so that a program
// needs no start-up of its own to serve.
struct ServerSocket {
    NativeSocket descriptor;
};

namespace {

constexpr size_t kMaxWaitSockets = 64;
static_assert(kMaxWaitSockets <= FD_SETSIZE, "every socket fits one fd_set");

int adopt(NativeSocket descriptor, ServerSocket*& out) noexcept {
    out = new (std::nothrow) ServerSocket{descriptor};
    if (out == nullptr) {
        closeSocket(descriptor);
        stopSocketLibrary();
        return kServerNoMemory;
    }
    return 0;
}

// A socket of the given kind, with the library started for it.
int openServing(SocketKind kind, NativeSocket& descriptor) noexcept {
    if (!startSocketLibrary()) {
        return kServerWaitFailed;
    }
    if (!openSocket(kind, descriptor)) {
        stopSocketLibrary();
        return kServerWaitFailed;
    }
    return 0;
}

void closeServing(NativeSocket descriptor) noexcept {
    closeSocket(descriptor);
    stopSocketLibrary();
}

int bindAndReadPort(NativeSocket descriptor, uint32_t address, uint16_t& port) noexcept {
    if (!bindIPv4(descriptor, address, port)) {
        return lastSocketFailure() == SocketFailure::AddressInUse ? kServerPortInUse : kServerIoFailed;
    }
    return boundPort(descriptor, port) ? 0 : kServerIoFailed;
}

bool setBlocking(NativeSocket descriptor, bool blocking) noexcept {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(descriptor, FIONBIO, &nonBlocking) == 0;
}

timeval waitTime(int64_t micros) noexcept {
    if (micros < 0) micros = 0;
    timeval wait{};
    wait.tv_sec = static_cast<long>(micros / 1000000);
    wait.tv_usec = static_cast<long>(micros % 1000000);
    return wait;
}

}  // namespace

// UDP sockets stay blocking: they are only read after the wait found them
// readable, and a send waits for room as elsewhere.
int udpBind(ServerSocket*& socketOut, uint32_t address, uint16_t& port) noexcept {
    socketOut = nullptr;
    NativeSocket descriptor = kInvalidNativeSocket;
    int result = openServing(SocketKind::Datagram, descriptor);
    if (result != 0) {
        return result;
    }
    result = bindAndReadPort(descriptor, address, port);
    if (result != 0) {
        closeServing(descriptor);
        return result;
    }
    return adopt(descriptor, socketOut);
}

int udpReceiveFrom(ServerSocket* socketIn, char* buffer, size_t capacity, int32_t timeoutMicros, uint32_t* fromAddress,
                   uint16_t* fromPort) noexcept {
    if (socketIn == nullptr || capacity > INT32_MAX) {
        return kServerIoFailed;
    }
    bool readable = false;
    int ready = waitReadable(&socketIn, 1, &readable, timeoutMicros);
    if (ready <= 0) {
        return ready == 0 ? kServerTimeout : kServerWaitFailed;
    }
    sockaddr_in peer{};
    int peerSize = sizeof peer;
    int length = recvfrom(socketIn->descriptor, buffer, static_cast<int>(capacity), 0,
                          reinterpret_cast<sockaddr*>(&peer), &peerSize);
    // A datagram longer than the buffer fails the call, with its head kept.
    const bool truncated = length == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE;
    if (length == SOCKET_ERROR && !truncated) {
        return kServerIoFailed;
    }
    if (fromAddress != nullptr) {
        *fromAddress = ntohl(peer.sin_addr.s_addr);
    }
    if (fromPort != nullptr) {
        *fromPort = ntohs(peer.sin_port);
    }
    return truncated ? kServerTruncated : length;
}

int udpSendTo(ServerSocket* socketIn, const char* data, size_t length, uint32_t address, uint16_t port) noexcept {
    if (socketIn == nullptr || length > INT32_MAX) {
        return kServerIoFailed;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = htonl(address);
    peer.sin_port = htons(port);
    int sent = sendto(socketIn->descriptor, data, static_cast<int>(length), 0, reinterpret_cast<const sockaddr*>(&peer),
                      sizeof peer);
    return sent != SOCKET_ERROR && static_cast<size_t>(sent) == length ? 0 : kServerIoFailed;
}

// No address-reuse option: on Windows it would let this socket take a port
// from a live listener. A listener and its connections do not block: the
// accepted sockets inherit that.
int tcpListen(ServerSocket*& listener, uint32_t address, uint16_t& port) noexcept {
    listener = nullptr;
    NativeSocket descriptor = kInvalidNativeSocket;
    int result = openServing(SocketKind::Stream, descriptor);
    if (result != 0) {
        return result;
    }
    result = setBlocking(descriptor, false) ? bindAndReadPort(descriptor, address, port) : kServerIoFailed;
    if (result == 0 && listen(descriptor, 16) != 0) {
        result = WSAGetLastError() == WSAEADDRINUSE ? kServerPortInUse : kServerIoFailed;
    }
    if (result != 0) {
        closeServing(descriptor);
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
    int peerSize = sizeof peer;
    NativeSocket descriptor = accept(listener->descriptor, reinterpret_cast<sockaddr*>(&peer), &peerSize);
    if (descriptor == INVALID_SOCKET) {
        // The client may have gone again between readiness and accept.
        const int error = WSAGetLastError();
        return error == WSAEWOULDBLOCK || error == WSAECONNRESET ? kServerTimeout : kServerIoFailed;
    }
    // Not inherited by child processes, as the sockets of socket.h.
    SetHandleInformation(reinterpret_cast<HANDLE>(descriptor), HANDLE_FLAG_INHERIT, 0);
    if (!startSocketLibrary()) {
        closeSocket(descriptor);
        return kServerIoFailed;
    }
    if (peerAddress != nullptr) {
        *peerAddress = ntohl(peer.sin_addr.s_addr);
    }
    return adopt(descriptor, connection);
}

int streamReceive(ServerSocket* connection, char* buffer, size_t capacity) noexcept {
    if (connection == nullptr || capacity > INT32_MAX) {
        return kServerIoFailed;
    }
    int count = recv(connection->descriptor, buffer, static_cast<int>(capacity), 0);
    if (count > 0) {
        return count;
    }
    if (count == 0) {
        return capacity == 0 ? 0 : kServerPeerClosed;
    }
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        return kServerTimeout;
    }
    return error == WSAECONNRESET || error == WSAECONNABORTED ? kServerPeerClosed : kServerIoFailed;
}

int streamSend(ServerSocket* connection, const char* data, size_t length, int32_t timeoutMicros) noexcept {
    if (connection == nullptr) {
        return kServerIoFailed;
    }
    const uint64_t start = monotonicNanos();
    size_t done = 0;
    while (done < length) {
        const size_t left = length - done;
        int sent = send(connection->descriptor, data + done, left > INT32_MAX ? INT32_MAX : static_cast<int>(left), 0);
        if (sent > 0) {
            done += static_cast<size_t>(sent);
            continue;
        }
        if (sent == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
            return kServerIoFailed;  // also a peer that went away: no signal here
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

// select takes no empty set: with no socket to watch, the wait is a sleep.
int waitReadable(ServerSocket* const* sockets, size_t count, bool* readable, int32_t timeoutMicros) noexcept {
    if (count > kMaxWaitSockets) {
        return kServerWaitFailed;
    }
    fd_set wanted;
    FD_ZERO(&wanted);
    for (size_t i = 0; i < count; ++i) {
        readable[i] = false;
        if (sockets[i] != nullptr) {
            FD_SET(sockets[i]->descriptor, &wanted);
        }
    }
    if (wanted.fd_count == 0) {
        Sleep(timeoutMicros > 0 ? static_cast<DWORD>((timeoutMicros + 999) / 1000) : 0);
        return 0;
    }
    timeval timeout = waitTime(timeoutMicros);
    int ready = select(0, &wanted, nullptr, nullptr, &timeout);
    if (ready == SOCKET_ERROR) {
        return kServerWaitFailed;
    }
    int found = 0;
    for (size_t i = 0; i < count; ++i) {
        // A closed or failed connection is readable: the receive reports it.
        if (sockets[i] != nullptr && FD_ISSET(sockets[i]->descriptor, &wanted)) {
            readable[i] = true;
            ++found;
        }
    }
    return found;
}

void closeServerSocket(ServerSocket* socketIn) noexcept {
    if (socketIn != nullptr) {
        closeServing(socketIn->descriptor);
        delete socketIn;
    }
}

}  // namespace platform
