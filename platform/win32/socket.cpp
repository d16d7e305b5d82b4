#include "platform/socket.h"

// Windows Sockets 2 before <windows.h>, which would bring the old version.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "platform/shared_mutex.h"

namespace platform {

static_assert(std::is_same_v<NativeSocket, SOCKET>, "native.h names the socket type");
static_assert(kInvalidNativeSocket == INVALID_SOCKET, "native.h names the invalid socket");

namespace {

sockaddr_in ipv4Address(uint32_t address, uint16_t port) noexcept {
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr.s_addr = htonl(address);
    socketAddress.sin_port = htons(port);
    return socketAddress;
}

ip_mreq groupRequest(uint32_t group, uint32_t interfaceAddress) noexcept {
    ip_mreq request{};
    request.imr_multiaddr.s_addr = htonl(group);
    request.imr_interface.s_addr = htonl(interfaceAddress);
    return request;
}

// The calling thread's last failure: its kind, and the Windows Sockets code
// for the wording.
struct Failure {
    SocketFailure kind = SocketFailure::None;
    int code = 0;
};
thread_local Failure lastFailure;

SocketFailure kindOf(int code) noexcept {
    switch (code) {
        case WSAEADDRINUSE: return SocketFailure::AddressInUse;
        case WSAECONNREFUSED: return SocketFailure::ConnectionRefused;
        case WSAETIMEDOUT: return SocketFailure::TimedOut;
        case WSAHOST_NOT_FOUND:
        case WSANO_DATA: return SocketFailure::HostNotFound;
        default: return SocketFailure::Other;
    }
}

// Records the last Windows Sockets error (or the code given) and passes the
// call's result through.
template <typename Result>
Result recordFailure(Result result, int code = WSAGetLastError()) noexcept {
    lastFailure = Failure{kindOf(code), code};
    return result;
}

bool setBlocking(NativeSocket socket, bool blocking) noexcept {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
}

// Windows has no per-call "don't wait" flag: the socket is switched to
// non-blocking for the one call and back again, keeping the call's own error
// for the result and for reportSocketError.
template <typename Call>
IoResult callWithoutWaiting(NativeSocket socket, int32_t capacity, int32_t& count, Call call) noexcept {
    count = 0;
    if (!setBlocking(socket, false)) return IoResult::Failed;
    const int moved = call();
    const int error = moved == SOCKET_ERROR ? WSAGetLastError() : 0;
    setBlocking(socket, true);
    WSASetLastError(error);
    if (moved != SOCKET_ERROR) {
        count = moved;
        return IoResult::Done;
    }
    if (error == WSAEWOULDBLOCK) return IoResult::WouldBlock;
    // A datagram longer than the buffer: its head is there, as elsewhere.
    if (error == WSAEMSGSIZE && capacity >= 0) {
        count = capacity;
        return IoResult::Done;
    }
    return recordFailure(IoResult::Failed, error);
}

// Without this, a datagram socket whose earlier send met a closed port fails
// its next receive with a connection reset; elsewhere such news is dropped.
void ignorePortUnreachable(NativeSocket socket) noexcept {
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(socket, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
}

}  // namespace

SocketFailure lastSocketFailure() noexcept { return lastFailure.kind; }

const char* lastSocketFailureText(char* buffer, size_t size) noexcept {
    if (buffer == nullptr || size == 0) return buffer;
    if (lastFailure.kind == SocketFailure::None) {
        buffer[0] = '\0';
        return buffer;
    }
    return systemErrorText(lastFailure.code, buffer, size);
}

bool startSocketLibrary() noexcept {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 0), &data) == 0;
}

void stopSocketLibrary() noexcept { WSACleanup(); }

uint32_t lookupIPv4(const char* host) noexcept {
    if (host == nullptr || *host == '\0') return 0;
    // Its own start-up, so a look-up works before the caller's start-up too.
    if (!startSocketLibrary()) return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* results = nullptr;
    uint32_t address = 0;
    const int code = getaddrinfo(host, nullptr, &hints, &results);
    if (code == 0 && results != nullptr) {
        if (results->ai_addr != nullptr && results->ai_addr->sa_family == AF_INET) {
            sockaddr_in found{};
            std::memcpy(&found, results->ai_addr, sizeof found);
            address = ntohl(found.sin_addr.s_addr);
        }
        freeaddrinfo(results);
    }
    if (address == 0) {
        lastFailure = Failure{SocketFailure::HostNotFound, code != 0 ? code : WSAHOST_NOT_FOUND};
    }
    stopSocketLibrary();
    return address;
}

bool openSocket(SocketKind kind, NativeSocket& socket) noexcept {
    const bool datagram = kind == SocketKind::Datagram;
    // Overlapped is what socket() gives; no inheritance, as elsewhere.
    socket = WSASocketW(AF_INET, datagram ? SOCK_DGRAM : SOCK_STREAM, datagram ? IPPROTO_UDP : IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) return recordFailure(false);
    if (datagram) ignorePortUnreachable(socket);
    return true;
}

bool closeSocket(NativeSocket socket) noexcept { return closesocket(socket) == 0; }

bool enableAddressReuse(NativeSocket socket) noexcept {
    BOOL on = TRUE;
    return setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) == 0 ||
           recordFailure(false);
}

bool bindIPv4(NativeSocket socket, uint32_t address, uint16_t port) noexcept {
    sockaddr_in local = ipv4Address(address, port);
    return bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 || recordFailure(false);
}

bool boundPort(NativeSocket socket, uint16_t& port) noexcept {
    sockaddr_in local{};
    int length = sizeof local;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) return recordFailure(false);
    port = ntohs(local.sin_port);
    return true;
}

bool joinMulticastGroup(NativeSocket socket, uint32_t group, uint32_t interfaceAddress) noexcept {
    ip_mreq request = groupRequest(group, interfaceAddress);
    return setsockopt(socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&request), sizeof request) ==
               0 ||
           recordFailure(false);
}

bool leaveMulticastGroup(NativeSocket socket, uint32_t group, uint32_t interfaceAddress) noexcept {
    ip_mreq request = groupRequest(group, interfaceAddress);
    return setsockopt(socket, IPPROTO_IP, IP_DROP_MEMBERSHIP, reinterpret_cast<const char*>(&request),
                      sizeof request) == 0;
}

bool setMulticastHops(NativeSocket socket, int32_t hops) noexcept {
    DWORD value = static_cast<DWORD>(hops);
    return setsockopt(socket, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&value), sizeof value) == 0 ||
           recordFailure(false);
}

bool setMulticastInterface(NativeSocket socket, uint32_t interfaceAddress) noexcept {
    in_addr local{};
    local.s_addr = htonl(interfaceAddress);
    return setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&local), sizeof local) == 0 ||
           recordFailure(false);
}

// select on one socket: a Windows fd_set is a list of sockets, so any socket
// value fits, and signals never cut the wait short here.
WaitResult waitUntilReady(NativeSocket socket, WaitFor what, int32_t timeoutMicros) noexcept {
    if (timeoutMicros < 0) return recordFailure(WaitResult::Failed, WSAEINVAL);
    fd_set wanted;
    FD_ZERO(&wanted);
    FD_SET(socket, &wanted);
    // A connect that failed shows in the exception set, not the write set;
    // like an error elsewhere it counts as ready, and the next call reports it.
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(socket, &failed);
    const bool readable = what == WaitFor::Readable;
    timeval wait{};
    wait.tv_sec = static_cast<long>(timeoutMicros / 1000000);
    wait.tv_usec = static_cast<long>(timeoutMicros % 1000000);
    int ready =
        select(0, readable ? &wanted : nullptr, readable ? nullptr : &wanted, readable ? nullptr : &failed, &wait);
    if (ready > 0) return WaitResult::Ready;
    return ready == 0 ? recordFailure(WaitResult::TimedOut, WSAETIMEDOUT) : recordFailure(WaitResult::Failed);
}

bool connectIPv4(NativeSocket socket, uint32_t address, uint16_t port, int32_t timeoutMicros) noexcept {
    if (timeoutMicros < 0) return recordFailure(false, WSAEINVAL);
    if (!setBlocking(socket, false)) return recordFailure(false);
    sockaddr_in peer = ipv4Address(address, port);
    bool connected = ::connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
    if (!connected && WSAGetLastError() != WSAEWOULDBLOCK) {
        recordFailure(false);
    } else if (!connected && waitUntilReady(socket, WaitFor::Writable, timeoutMicros) == WaitResult::Ready) {
        int error = 0;
        int length = sizeof error;
        if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
            error = WSAGetLastError();
        }
        connected = error == 0 || recordFailure(false, error);
    }
    return setBlocking(socket, true) && connected;
}

IoResult receiveNow(NativeSocket socket, char* buffer, int32_t capacity, int32_t& count) noexcept {
    if (capacity < 0) capacity = 0;
    return callWithoutWaiting(socket, capacity, count, [&] { return recv(socket, buffer, capacity, 0); });
}

IoResult sendNow(NativeSocket socket, const char* data, int32_t length, int32_t& count) noexcept {
    if (length < 0) length = 0;
    // Windows raises no signal for a peer that went away: the send fails.
    return callWithoutWaiting(socket, -1, count, [&] { return send(socket, data, length, 0); });
}

IoResult sendNowTo(NativeSocket socket, const char* data, int32_t length, uint32_t address, uint16_t port,
                   int32_t& count) noexcept {
    if (length < 0) length = 0;
    sockaddr_in peer = ipv4Address(address, port);
    return callWithoutWaiting(socket, -1, count, [&] {
        return sendto(socket, data, length, 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    });
}

void reportSocketError(const char* text) noexcept {
    char message[256];
    systemErrorText(WSAGetLastError(), message, sizeof message);
    if (text != nullptr && *text != '\0') {
        std::fprintf(stderr, "%s: %s\n", text, message);
    } else {
        std::fprintf(stderr, "%s\n", message);
    }
}

}  // namespace platform
