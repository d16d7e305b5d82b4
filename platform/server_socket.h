#pragma once
// The serving side of IPv4 sockets, for programs that play the tracking
// system: a listening TCP socket with its accepted connections, and a bound
// UDP socket that delivers every datagram in arrival order (the client's
// receive keeps only the newest one, which a recorder or a command port must
// not do). Addresses are IPv4 in host byte order, ports in host byte order;
// time-outs are microseconds. Results: 0 or a byte count, else a code below.
#include <cstddef>
#include <cstdint>

namespace platform {

enum ServerSocketCode : int {
    kServerTimeout = -1,     // the socket did not become ready in time
    kServerWaitFailed = -2,  // the readiness wait failed, or no socket could be created
    kServerIoFailed = -3,    // bind, listen, accept, receive or send failed
    kServerTruncated = -4,   // the datagram did not fit into the buffer (its head was kept)
    kServerPortInUse = -6,   // another socket already holds the address and port
    kServerPeerClosed = -9,  // the peer closed the connection
    kServerNoMemory = -11,   // the handle could not be allocated
};

// Owns one socket descriptor; opaque outside the implementation.
struct ServerSocket;

// Address 0 binds the wildcard address. Port 0 lets the system choose; the
// chosen port is written back. No address-reuse option is set, so a port
// that is taken reports kServerPortInUse.
int udpBind(ServerSocket*& socket, uint32_t address, uint16_t& port) noexcept;

// Receives one datagram, waiting at most the time-out. Never drops queued
// datagrams. A datagram longer than capacity yields kServerTruncated (the
// buffer holds its head). The sender's address and port go to the optional
// outputs.
int udpReceiveFrom(ServerSocket* socket, char* buffer, size_t capacity, int32_t timeoutMicros,
                   uint32_t* fromAddress = nullptr, uint16_t* fromPort = nullptr) noexcept;

// Sends one datagram; 0 when all bytes left.
int udpSendTo(ServerSocket* socket, const char* data, size_t length, uint32_t address, uint16_t port) noexcept;

// Listening TCP socket. A restarted server gets its port back while old
// connections linger (POSIX needs the address-reuse option for that, which
// on Windows would let it take a live listener's port); a port with a live
// listener reports kServerPortInUse.
int tcpListen(ServerSocket*& listener, uint32_t address, uint16_t& port) noexcept;

// Accepts one pending connection (call it when the listener is readable;
// kServerTimeout when none was pending). The connection does not block.
int tcpAccept(ServerSocket* listener, ServerSocket*& connection, uint32_t* peerAddress = nullptr) noexcept;

// One receive on a connection, without waiting: a byte count, kServerTimeout
// when nothing is there, kServerPeerClosed, kServerIoFailed.
int streamReceive(ServerSocket* connection, char* buffer, size_t capacity) noexcept;

// Sends all bytes, waiting for room at most the time-out in all; a peer that
// went away gives kServerIoFailed (never a signal).
int streamSend(ServerSocket* connection, const char* data, size_t length, int32_t timeoutMicros) noexcept;

// Waits until at least one of the sockets is readable (null entries are
// skipped) or the time-out passes; readable[i] tells which. Returns the
// number of readable sockets, 0 on time-out or when a signal cut the wait
// short, kServerWaitFailed when the wait failed.
int waitReadable(ServerSocket* const* sockets, size_t count, bool* readable, int32_t timeoutMicros) noexcept;

// Closes and frees; null does nothing.
void closeServerSocket(ServerSocket* socket) noexcept;

}  // namespace platform
