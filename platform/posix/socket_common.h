#pragma once
// What the POSIX socket files (socket.cpp for the link, server_socket.cpp
// for the programs that play the tracking system) share: IPv4 socket
// addresses, poll wait times, binding with its error, and blocking mode.
// Only for the files of this folder.
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>

#include "native.h"

namespace platform::posixsocket {

inline sockaddr_in ipv4Address(uint32_t address, uint16_t port) noexcept {
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr.s_addr = htonl(address);
    socketAddress.sin_port = htons(port);
    return socketAddress;
}

// A wait of micros microseconds for ppoll; a negative one as 0.
inline timespec waitTime(int64_t micros) noexcept {
    if (micros < 0) micros = 0;
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(micros / 1000000);
    wait.tv_nsec = static_cast<long>(micros % 1000000) * 1000;
    return wait;
}

// 0 when bound, else the error of the bind.
inline int bindIPv4(NativeSocket socket, uint32_t address, uint16_t port) noexcept {
    sockaddr_in local = ipv4Address(address, port);
    return bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 ? 0 : errno;
}

inline bool setBlocking(NativeSocket socket, bool blocking) noexcept {
    int flags = fcntl(socket, F_GETFL, 0);
    if (flags < 0) return false;
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return fcntl(socket, F_SETFL, flags) == 0;
}

}  // namespace platform::posixsocket
