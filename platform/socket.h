#pragma once
// The operating system's IPv4 socket calls that the tracking-system link is
// built from, one call per function, with outcomes in this module's terms
// (no errno or WSAGetLastError leaves this layer). The link's socket layer
// (link/socket_layer.h) composes them into its operations and result codes.
// Addresses are IPv4 in host byte order, ports in host byte order; both are
// turned into network order only where a socket address is filled in.
#include <cstddef>
#include <cstdint>

#include "native.h"

namespace platform {

enum class SocketKind { Datagram, Stream };

enum class WaitFor { Readable, Writable };

enum class WaitResult {
    Ready,
    TimedOut,
    Failed,  // the wait itself failed, or the time-out was negative
};

enum class IoResult {
    Done,        // count holds the bytes moved (0 for an empty datagram or a closed stream)
    WouldBlock,  // nothing queued to read, or no room to write, right now
    Failed,
};

// Starts the system's socket library where there is one (Windows Sockets
// 2.0) and releases one start-up; nothing elsewhere. Start-ups and releases
// must be matched one to one.
bool startSocketLibrary() noexcept;
void stopSocketLibrary() noexcept;

// IPv4 address of a host name or dotted quad (a dotted quad needs no name
// look-up); 0 when it cannot be resolved.
uint32_t lookupIPv4(const char* host) noexcept;

// Creates a blocking socket that is not inherited by child processes.
bool openSocket(SocketKind kind, NativeSocket& socket) noexcept;
bool closeSocket(NativeSocket socket) noexcept;

bool enableAddressReuse(NativeSocket socket) noexcept;
bool bindIPv4(NativeSocket socket, uint32_t address, uint16_t port) noexcept;
bool boundPort(NativeSocket socket, uint16_t& port) noexcept;
// Joins or leaves a multicast group on the local interface that has the
// address interfaceAddress; 0 leaves the choice to the system. A socket that
// joined on a chosen interface takes the group's datagrams only from there,
// even where another socket of the machine joined elsewhere.
bool joinMulticastGroup(NativeSocket socket, uint32_t group, uint32_t interfaceAddress) noexcept;
bool leaveMulticastGroup(NativeSocket socket, uint32_t group, uint32_t interfaceAddress) noexcept;
// For sending to a group: how many routers the datagrams may cross (0 keeps
// them on this machine, the system's default is 1), and the local interface
// (by its address) they leave from.
bool setMulticastHops(NativeSocket socket, int32_t hops) noexcept;
bool setMulticastInterface(NativeSocket socket, uint32_t interfaceAddress) noexcept;

// Waits until the socket is readable or writable, at most timeoutMicros
// microseconds (0 only looks). A signal does not cut the wait short.
WaitResult waitUntilReady(NativeSocket socket, WaitFor what, int32_t timeoutMicros) noexcept;

// Connects a stream socket, giving up after timeoutMicros; false when the
// peer refused, could not be reached in time, or the time-out was negative.
// The socket is blocking again afterwards.
bool connectIPv4(NativeSocket socket, uint32_t address, uint16_t port, int32_t timeoutMicros) noexcept;

// One receive or send that never waits. A datagram longer than capacity is
// cut to capacity bytes. Sending on a stream whose peer went away fails
// instead of raising a signal.
IoResult receiveNow(NativeSocket socket, char* buffer, int32_t capacity, int32_t& count) noexcept;
IoResult sendNow(NativeSocket socket, const char* data, int32_t length, int32_t& count) noexcept;
IoResult sendNowTo(NativeSocket socket, const char* data, int32_t length, uint32_t address, uint16_t port,
                   int32_t& count) noexcept;

// Writes text, ": " and the text of the last socket error to the standard
// error stream (what perror does).
void reportSocketError(const char* text) noexcept;

// Why the calling thread's last failed call above failed, in this module's
// terms (each thread keeps its own, as with errno). A wait that ran out
// counts as TimedOut.
enum class SocketFailure {
    None,
    AddressInUse,       // another socket holds the port
    HostNotFound,       // the name could not be resolved
    ConnectionRefused,  // nothing listens at the peer's port
    TimedOut,
    Other,
};
SocketFailure lastSocketFailure() noexcept;
// The system's own words for that failure ("Address already in use"),
// written into buffer (always terminated; empty for None); returns buffer.
const char* lastSocketFailureText(char* buffer, size_t size) noexcept;

}  // namespace platform
