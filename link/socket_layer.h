#pragma once
// The IPv4 socket operations that the tracking client rests on: a UDP data
// socket (bound to a local port, optionally in a multicast group) on which
// frames arrive and UDP commands leave, a TCP connection to the tracking
// system's controller, and host-name resolution.
//
// Every operation answers with 0 or a byte count, or one of the fixed codes
// below. Addresses are IPv4 in host byte order, ports in host byte order.
// Time-outs are signed microseconds; a negative time-out makes the wait
// fail. A null handle makes receive and send fail with -2. No operation
// retries; a failed open leaves no socket behind.
#include <cstdint>

#include "native.h"

// Owns one socket. Created by udpOpen / tcpConnect, freed by udpClose /
// tcpClose; a null handle means no socket, and every close accepts null.
struct SocketHandle {
    platform::NativeSocket descriptor;
};

enum SocketCode : int32_t {
    kSocketOk = 0,
    kSocketTimeout = -1,     // not ready in time (tcpConnect: socket library did not start; close: close failed)
    kSocketWaitFailed = -2,  // the readiness wait failed (udpOpen, tcpConnect: no socket created)
    kSocketIoFailed = -3,    // receive/send failed or sent short (udpOpen: bind or port query; tcpConnect: refused,
                             // unreachable or timed out)
    kSocketBufferFull = -4,  // the message filled the whole buffer (udpOpen: address-reuse option failed)
    kSocketJoinFailed = -5,  // udpOpen: joining the multicast group failed
    kSocketPeerClosed = -9,  // tcpReceive: the peer closed the connection
    kSocketNoMemory = -11,   // the handle could not be allocated
};

// A receive keeps reading while more datagrams are queued, so that the
// newest one wins; under a flood it stops after this many, so the caller's
// cycle keeps running.
inline constexpr int32_t kMaxDatagramsPerReceive = 1000;

// Starts the platform's socket library (Windows Sockets 2.0) and releases
// one start-up; the outcome is not checked. Matched one to one.
void netStartup() noexcept;
void netCleanup() noexcept;

// Host order IPv4 address of a name or dotted quad ("192.168.0.1" gives
// 0xC0A80001); 0 when it cannot be resolved.
uint32_t resolveHost(const char* host) noexcept;

// Opens a UDP socket bound to 0.0.0.0:port; port 0 lets the system choose
// and the chosen port is written back. group != 0 also sets address reuse
// and joins that multicast group on the local interface with the address
// interfaceAddress (0: the system's choice). 0, -2, -3, -4, -5, -11.
int32_t udpOpen(SocketHandle*& handle, uint16_t& port, uint32_t group, uint32_t interfaceAddress = 0) noexcept;
// Leaves the group (when not 0) on the interface it was joined on, closes
// and frees. 0, or -1.
int32_t udpClose(SocketHandle* handle, uint32_t group, uint32_t interfaceAddress = 0) noexcept;

// Waits for a datagram, then reads every queued one into the same buffer
// (at most kMaxDatagramsPerReceive) so that the newest wins. Its length
// (0 for an empty datagram), or -1, -2, -3, and -4 when it filled capacity.
int32_t udpReceive(SocketHandle* handle, char* buffer, int32_t capacity, int32_t timeoutMicros) noexcept;
// Sends one datagram to address:port. 0, -1, -2, -3.
int32_t udpSend(SocketHandle* handle, const char* data, int32_t length, uint32_t address, uint16_t port,
                int32_t timeoutMicros) noexcept;

// Connects to address:port, giving up after timeoutMicros so that an
// unreachable controller cannot hold the caller. 0, -1, -2, -3, -11.
int32_t tcpConnect(SocketHandle*& handle, uint32_t address, uint16_t port, int32_t timeoutMicros) noexcept;
// Closes, frees and releases the connect's socket-library start-up. 0, or -1.
int32_t tcpClose(SocketHandle* handle) noexcept;

// One receive, no draining: byte count, -1, -2, -3, -4 (capacity or more),
// -9 (peer closed).
int32_t tcpReceive(SocketHandle* handle, char* buffer, int32_t capacity, int32_t timeoutMicros) noexcept;
// 0, -1, -2, -3 (failed or sent short).
int32_t tcpSend(SocketHandle* handle, const char* data, int32_t length, int32_t timeoutMicros) noexcept;
// Reads and drops whatever waits unread on the connection, without waiting
// (bounded, so a flood cannot hold the caller). 0, -2, -3, -9 (peer closed).
int32_t tcpDiscard(SocketHandle* handle) noexcept;
