#include "link/socket_layer.h"

#include <new>

#include "platform/socket.h"

namespace {

using platform::IoResult;
using platform::WaitFor;
using platform::WaitResult;

int32_t waitCode(WaitResult result) noexcept {
    return result == WaitResult::TimedOut ? kSocketTimeout : kSocketWaitFailed;
}

// Closes the descriptor and frees the handle; 0, or -1 when the close failed.
int32_t release(SocketHandle* handle) noexcept {
    bool closed = platform::closeSocket(handle->descriptor);
    delete handle;
    return closed ? kSocketOk : kSocketTimeout;
}

int32_t waitThenReceive(SocketHandle* handle, char* buffer, int32_t capacity, int32_t timeoutMicros,
                        int32_t& count) noexcept {
    if (handle == nullptr) return kSocketWaitFailed;
    WaitResult ready = platform::waitUntilReady(handle->descriptor, WaitFor::Readable, timeoutMicros);
    if (ready != WaitResult::Ready) return waitCode(ready);
    switch (platform::receiveNow(handle->descriptor, buffer, capacity, count)) {
        case IoResult::Done: return kSocketOk;
        // Readable, yet gone when read (another reader, a dropped datagram).
        case IoResult::WouldBlock: return kSocketTimeout;
        case IoResult::Failed: break;
    }
    return kSocketIoFailed;
}

int32_t sentResult(IoResult result, int32_t sent, int32_t length) noexcept {
    if (result == IoResult::WouldBlock) return kSocketTimeout;
    return result == IoResult::Done && sent == length ? kSocketOk : kSocketIoFailed;
}

}  // namespace

void netStartup() noexcept { platform::startSocketLibrary(); }

void netCleanup() noexcept { platform::stopSocketLibrary(); }

uint32_t resolveHost(const char* host) noexcept { return platform::lookupIPv4(host); }

int32_t udpOpen(SocketHandle*& handle, uint16_t& port, uint32_t group, uint32_t interfaceAddress) noexcept {
    auto* opened = new (std::nothrow) SocketHandle{platform::kInvalidNativeSocket};
    if (opened == nullptr) return kSocketNoMemory;
    if (!platform::openSocket(platform::SocketKind::Datagram, opened->descriptor)) {
        delete opened;
        return kSocketWaitFailed;
    }
    if (group != 0 && !platform::enableAddressReuse(opened->descriptor)) {
        platform::reportSocketError("setsockopt() failed1");
        release(opened);
        return kSocketBufferFull;
    }
    uint16_t bound = port;
    if (!platform::bindIPv4(opened->descriptor, 0, port) ||
        (port == 0 && !platform::boundPort(opened->descriptor, bound))) {
        release(opened);
        return kSocketIoFailed;
    }
    if (group != 0 && !platform::joinMulticastGroup(opened->descriptor, group, interfaceAddress)) {
        platform::reportSocketError("setsockopt() failed2");
        release(opened);
        return kSocketJoinFailed;
    }
    port = bound;
    handle = opened;
    return kSocketOk;
}

int32_t udpClose(SocketHandle* handle, uint32_t group, uint32_t interfaceAddress) noexcept {
    if (handle == nullptr) return kSocketOk;
    if (group != 0 && !platform::leaveMulticastGroup(handle->descriptor, group, interfaceAddress)) {
        platform::reportSocketError("setsockopt() failed3");
    }
    return release(handle);
}

int32_t udpReceive(SocketHandle* handle, char* buffer, int32_t capacity, int32_t timeoutMicros) noexcept {
    int32_t length = 0;
    int32_t result = waitThenReceive(handle, buffer, capacity, timeoutMicros, length);
    if (result != kSocketOk) return result;
    // Drain what queued up behind it into the same buffer: the newest frame
    // is the one worth parsing. Bounded, so a flood cannot hold the caller.
    for (int32_t read = 1; read < kMaxDatagramsPerReceive; ++read) {
        int32_t newer = 0;
        IoResult next = platform::receiveNow(handle->descriptor, buffer, capacity, newer);
        if (next == IoResult::WouldBlock) break;
        if (next == IoResult::Failed) return kSocketIoFailed;
        length = newer;
    }
    return length < capacity ? length : kSocketBufferFull;
}

int32_t udpSend(SocketHandle* handle, const char* data, int32_t length, uint32_t address, uint16_t port,
                int32_t timeoutMicros) noexcept {
    if (handle == nullptr) return kSocketWaitFailed;
    WaitResult ready = platform::waitUntilReady(handle->descriptor, WaitFor::Writable, timeoutMicros);
    if (ready != WaitResult::Ready) return waitCode(ready);
    int32_t sent = 0;
    IoResult result = platform::sendNowTo(handle->descriptor, data, length, address, port, sent);
    return sentResult(result, sent, length);
}

int32_t tcpConnect(SocketHandle*& handle, uint32_t address, uint16_t port, int32_t timeoutMicros) noexcept {
    auto* opened = new (std::nothrow) SocketHandle{platform::kInvalidNativeSocket};
    if (opened == nullptr) return kSocketNoMemory;
    if (!platform::startSocketLibrary()) {
        delete opened;
        return kSocketTimeout;
    }
    if (!platform::openSocket(platform::SocketKind::Stream, opened->descriptor)) {
        platform::stopSocketLibrary();
        delete opened;
        return kSocketWaitFailed;
    }
    if (!platform::connectIPv4(opened->descriptor, address, port, timeoutMicros)) {
        tcpClose(opened);
        return kSocketIoFailed;
    }
    handle = opened;
    return kSocketOk;
}

int32_t tcpClose(SocketHandle* handle) noexcept {
    if (handle == nullptr) return kSocketOk;
    int32_t result = release(handle);
    platform::stopSocketLibrary();
    return result;
}

int32_t tcpReceive(SocketHandle* handle, char* buffer, int32_t capacity, int32_t timeoutMicros) noexcept {
    // A zero-byte read would look like a closed connection.
    if (capacity <= 0) return handle == nullptr ? kSocketWaitFailed : kSocketBufferFull;
    int32_t count = 0;
    int32_t result = waitThenReceive(handle, buffer, capacity, timeoutMicros, count);
    if (result != kSocketOk) return result;
    if (count == 0) return kSocketPeerClosed;
    return count < capacity ? count : kSocketBufferFull;
}

int32_t tcpDiscard(SocketHandle* handle) noexcept {
    if (handle == nullptr) return kSocketWaitFailed;
    char dropped[512];
    for (int32_t read = 0; read < kMaxDatagramsPerReceive; ++read) {
        int32_t count = 0;
        switch (platform::receiveNow(handle->descriptor, dropped, static_cast<int32_t>(sizeof dropped), count)) {
            case IoResult::WouldBlock: return kSocketOk;
            case IoResult::Failed: return kSocketIoFailed;
            case IoResult::Done:
                if (count == 0) return kSocketPeerClosed;
                break;
        }
    }
    return kSocketOk;
}

int32_t tcpSend(SocketHandle* handle, const char* data, int32_t length, int32_t timeoutMicros) noexcept {
    if (handle == nullptr) return kSocketWaitFailed;
    WaitResult ready = platform::waitUntilReady(handle->descriptor, WaitFor::Writable, timeoutMicros);
    if (ready != WaitResult::Ready) return waitCode(ready);
    int32_t sent = 0;
    IoResult result = platform::sendNow(handle->descriptor, data, length, sent);
    return sentResult(result, sent, length);
}
