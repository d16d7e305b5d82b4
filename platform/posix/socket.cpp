#include "platform/socket.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/shared_mutex.h"
#include "socket_common.h"

namespace platform {
namespace {

using posixsocket::ipv4Address;

ip_mreq groupRequest(uint32_t group, uint32_t interfaceAddress) noexcept {
    ip_mreq request{};
    request.imr_multiaddr.s_addr = htonl(group);
    request.imr_interface.s_addr = htonl(interfaceAddress);
    return request;
}

int64_t nowMicros() noexcept { return static_cast<int64_t>(monotonicNanos() / 1000); }

// The calling thread's last failure: its kind, and the system's code for
// the wording (an errno value, or a getaddrinfo code for HostNotFound).
struct Failure {
    SocketFailure kind = SocketFailure::None;
    int code = 0;
};
thread_local Failure lastFailure;

SocketFailure kindOf(int code) noexcept {
    switch (code) {
        case EADDRINUSE: return SocketFailure::AddressInUse;
        case ECONNREFUSED: return SocketFailure::ConnectionRefused;
        case ETIMEDOUT: return SocketFailure::TimedOut;
        default: return SocketFailure::Other;
    }
}

// Records errno (or the code given) and passes the call's result through.
template <typename Result>
Result recordFailure(Result result, int code = errno) noexcept {
    lastFailure = Failure{kindOf(code), code};
    return result;
}

IoResult ioResult(ssize_t moved, int32_t& count) noexcept {
    if (moved >= 0) {
        count = static_cast<int32_t>(moved);
        return IoResult::Done;
    }
    count = 0;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? IoResult::WouldBlock : recordFailure(IoResult::Failed);
}

}  // namespace

SocketFailure lastSocketFailure() noexcept { return lastFailure.kind; }

const char* lastSocketFailureText(char* buffer, size_t size) noexcept {
    if (buffer == nullptr || size == 0) return buffer;
    if (lastFailure.kind == SocketFailure::None) {
        buffer[0] = '\0';
    } else if (lastFailure.kind == SocketFailure::HostNotFound) {
        std::snprintf(buffer, size, "%s", gai_strerror(lastFailure.code));
    } else {
        systemErrorText(lastFailure.code, buffer, size);
    }
    return buffer;
}

bool startSocketLibrary() noexcept { return true; }

void stopSocketLibrary() noexcept {}

uint32_t lookupIPv4(const char* host) noexcept {
    if (host == nullptr || *host == '\0') return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* results = nullptr;
    const int code = getaddrinfo(host, nullptr, &hints, &results);
    uint32_t address = 0;
    if (code == 0 && results != nullptr && results->ai_addr != nullptr && results->ai_addr->sa_family == AF_INET) {
        sockaddr_in found{};
        std::memcpy(&found, results->ai_addr, sizeof found);
        address = ntohl(found.sin_addr.s_addr);
    }
    if (results != nullptr) freeaddrinfo(results);
    if (address == 0) {
        lastFailure = Failure{SocketFailure::HostNotFound, code != 0 ? code : EAI_NONAME};
    }
    return address;
}

bool openSocket(SocketKind kind, NativeSocket& socket) noexcept {
    int type = kind == SocketKind::Datagram ? SOCK_DGRAM : SOCK_STREAM;
    socket = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    return socket >= 0 || recordFailure(false);
}

bool closeSocket(NativeSocket socket) noexcept {
    // After EINTR the descriptor is already released on Linux; retrying
    // could close a descriptor that another thread just opened.
    return ::close(socket) == 0 || errno == EINTR;
}

bool enableAddressReuse(NativeSocket socket) noexcept {
    int on = 1;
    return setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 || recordFailure(false);
}

bool bindIPv4(NativeSocket socket, uint32_t address, uint16_t port) noexcept {
    const int code = posixsocket::bindIPv4(socket, address, port);
    return code == 0 || recordFailure(false, code);
}

bool boundPort(NativeSocket socket, uint16_t& port) noexcept {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) return recordFailure(false);
    port = ntohs(local.sin_port);
    return true;
}

bool joinMulticastGroup(NativeSocket socket, uint32_t group, uint32_t interfaceAddress) noexcept {
    ip_mreq request = groupRequest(group, interfaceAddress);
    if (setsockopt(socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0) return recordFailure(false);
#ifdef IP_MULTICAST_ALL
    // Linux hands a group's datagrams to every socket on the port once any
    // socket of the machine joined the group anywhere; a socket that chose
    // its interface wants only its own memberships.
    int off = 0;
    if (interfaceAddress != 0 && setsockopt(socket, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) != 0) {
        return recordFailure(false);
    }
#endif
    return true;
}

bool leaveMulticastGroup(NativeSocket socket, uint32_t group, uint32_t interfaceAddress) noexcept {
    ip_mreq request = groupRequest(group, interfaceAddress);
    return setsockopt(socket, IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof request) == 0;
}

bool setMulticastHops(NativeSocket socket, int32_t hops) noexcept {
    int value = hops;
    return setsockopt(socket, IPPROTO_IP, IP_MULTICAST_TTL, &value, sizeof value) == 0 || recordFailure(false);
}

bool setMulticastInterface(NativeSocket socket, uint32_t interfaceAddress) noexcept {
    in_addr local{};
    local.s_addr = htonl(interfaceAddress);
    return setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local) == 0 || recordFailure(false);
}

WaitResult waitUntilReady(NativeSocket socket, WaitFor what, int32_t timeoutMicros) noexcept {
    if (timeoutMicros < 0) return recordFailure(WaitResult::Failed, EINVAL);
    // poll, not select: a descriptor number above FD_SETSIZE (a busy host
    // process) must not write outside an fd_set.
    pollfd entry{};
    entry.fd = socket;
    entry.events = what == WaitFor::Readable ? POLLIN : POLLOUT;
    const int64_t deadline = nowMicros() + timeoutMicros;
    int64_t remaining = timeoutMicros;
    for (;;) {
        timespec wait = posixsocket::waitTime(remaining);
        entry.revents = 0;
        int ready = ppoll(&entry, 1, &wait, nullptr);
        if (ready > 0) {
            // An error or hang-up condition counts as ready: the receive or
            // send that follows reports what it is.
            return (entry.revents & POLLNVAL) ? recordFailure(WaitResult::Failed, EBADF) : WaitResult::Ready;
        }
        if (ready == 0) return recordFailure(WaitResult::TimedOut, ETIMEDOUT);
        if (errno != EINTR) return recordFailure(WaitResult::Failed);
        remaining = deadline - nowMicros();
        if (remaining < 0) return recordFailure(WaitResult::TimedOut, ETIMEDOUT);
    }
}

bool connectIPv4(NativeSocket socket, uint32_t address, uint16_t port, int32_t timeoutMicros) noexcept {
    if (timeoutMicros < 0) return recordFailure(false, EINVAL);
    if (!posixsocket::setBlocking(socket, false)) return recordFailure(false);
    sockaddr_in peer = ipv4Address(address, port);
    bool connected = ::connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
    if (!connected && errno != EINPROGRESS && errno != EINTR) {
        recordFailure(false);
    } else if (!connected && waitUntilReady(socket, WaitFor::Writable, timeoutMicros) == WaitResult::Ready) {
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        connected = error == 0 || recordFailure(false, error);
    }
    return posixsocket::setBlocking(socket, true) && connected;
}

IoResult receiveNow(NativeSocket socket, char* buffer, int32_t capacity, int32_t& count) noexcept {
    if (capacity < 0) capacity = 0;
    ssize_t received;
    do {
        received = recv(socket, buffer, static_cast<size_t>(capacity), MSG_DONTWAIT);
    } while (received < 0 && errno == EINTR);
    return ioResult(received, count);
}

IoResult sendNow(NativeSocket socket, const char* data, int32_t length, int32_t& count) noexcept {
    if (length < 0) length = 0;
    ssize_t sent;
    do {
        sent = send(socket, data, static_cast<size_t>(length), MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return ioResult(sent, count);
}

IoResult sendNowTo(NativeSocket socket, const char* data, int32_t length, uint32_t address, uint16_t port,
                   int32_t& count) noexcept {
    if (length < 0) length = 0;
    sockaddr_in peer = ipv4Address(address, port);
    ssize_t sent;
    do {
        sent = sendto(socket, data, static_cast<size_t>(length), MSG_DONTWAIT | MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    } while (sent < 0 && errno == EINTR);
    return ioResult(sent, count);
}

void reportSocketError(const char* text) noexcept { std::perror(text); }

}  // namespace platform
