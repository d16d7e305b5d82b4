// The socket layer on loopback where the client's tests do not reach it.
#include "link/socket_layer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "platform/thread.h"
#include "tests/support/loopback.h"

namespace {

using loopback::kAddress;
using Clock = std::chrono::steady_clock;
long long millisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}
long openDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator());
}

struct UdpSocket {
    explicit UdpSocket(uint16_t wanted = 0, uint32_t multicast = 0) : port(wanted), group(multicast) {
        opened = udpOpen(handle, port, group);
    }
    ~UdpSocket() { udpClose(handle, group); }
    SocketHandle* handle = nullptr;
    uint16_t port;
    uint32_t group;
    int32_t opened;
};

}  // namespace

// 127.0.0.1 is no multicast group: joining it fails with its fixed text.
TEST(UdpSocket, WaitsAreBoundedAndBadArgumentsFail) {
    UdpSocket receiver;
    char buffer[16];
    const auto start = Clock::now();
    EXPECT_EQ(-1, udpReceive(receiver.handle, buffer, sizeof buffer, 30000));
    EXPECT_GE(millisSince(start), 25);
    EXPECT_EQ(-2, udpReceive(receiver.handle, buffer, sizeof buffer, -1));
    EXPECT_EQ(-2, udpSend(receiver.handle, "x", 1, kAddress, receiver.port, -5));
    EXPECT_EQ(0, udpClose(nullptr, 0) + udpClose(nullptr, 0xEFFF0001) + tcpClose(nullptr)) << "closing nothing";
    EXPECT_EQ(
        std::make_tuple(-2, -2, -2, -2),
        std::make_tuple(udpReceive(nullptr, buffer, sizeof buffer, 1000), udpSend(nullptr, "x", 1, kAddress, 9, 1000),
                        tcpReceive(nullptr, buffer, sizeof buffer, 1000), tcpSend(nullptr, "x", 1, 1000)));
    UdpSocket second(receiver.port);  // no address reuse without a group
    EXPECT_EQ(std::make_tuple(-3, receiver.port), std::make_tuple(second.opened, second.port));
    EXPECT_EQ(
        std::make_tuple(0xC0A80001u, kAddress, 0u),
        std::make_tuple(resolveHost("192.168.0.1"), resolveHost("localhost"), resolveHost("") + resolveHost(nullptr)));
    testing::internal::CaptureStderr();
    EXPECT_EQ(-5, UdpSocket(0, kAddress).opened);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(0u, said.rfind("setsockopt() failed2: ", 0)) << said;
}

// Without care the process would die of SIGPIPE on the vanished peer.
TEST(TcpSocket, SendingToAVanishedPeerFailsWithoutASignal) {
    loopback::TcpListener listener;
    SocketHandle* handle = nullptr;
    ASSERT_EQ(0, tcpConnect(handle, kAddress, listener.port, 1000000));
    platform::closeServerSocket(listener.acceptOne(1000000));
    int32_t result = 0;
    for (int i = 0; i < 50 && result == 0; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        result = tcpSend(handle, "x", 1, 100000);
    }
    EXPECT_EQ(-3, result);
    tcpClose(handle);
}

// A failed connect leaves no descriptor open.
TEST(TcpSocket, RefusedConnectsLeaveNoSocket) {
    SocketHandle* handle = nullptr;
    const long descriptors = openDescriptors();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(-3, tcpConnect(handle, kAddress, loopback::closedPort(), 100000));
    EXPECT_EQ(std::make_pair(descriptors, static_cast<SocketHandle*>(nullptr)),
              std::make_pair(openDescriptors(), handle));
}

// A sleep of whole seconds ends on time (its sub-second part stays below one).
TEST(Thread, ASleepOfOneSecondEndsOnTime) {
    const auto done = std::make_shared<std::atomic<bool>>(false);
    const auto start = Clock::now();
    std::thread([done] {
        platform::sleepMillis(1000);
        *done = true;
    }).detach();
    for (int i = 0; i < 500 && !*done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(*done);
    EXPECT_GE(millisSince(start), 990);
}
