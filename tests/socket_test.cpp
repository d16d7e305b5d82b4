// The socket layer on loopback where the client's tests do not reach it.
#include "link/socket_layer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "tests/support/loopback.h"

using loopback::kAddress;

// 127.0.0.1 is no multicast group: joining it fails with its fixed text.
TEST(UdpSocket, AFailedJoinSaysSo) {
    testing::internal::CaptureStderr();
    SocketHandle* handle = nullptr;
    uint16_t port = 0;
    EXPECT_EQ(-5, udpOpen(handle, port, kAddress));
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
    for (int i = 0; i < 50 && result == 0; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        result = tcpSend(handle, "x", 1, 100000);
    EXPECT_EQ(-3, result);
    tcpClose(handle);
    // And the other way: the listener's side hears of it at once, not at its time-out.
    ASSERT_EQ(0, tcpConnect(handle, kAddress, listener.port, 1000000));
    platform::ServerSocket* accepted = listener.acceptOne(1000000);
    tcpClose(handle);
    result = 0;
    for (int i = 0; i < 50 && result == 0; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        result = platform::streamSend(accepted, "x", 1, 2000000);
    EXPECT_EQ(platform::kServerIoFailed, result);
    platform::closeServerSocket(accepted);
}

TEST(TcpSocket, RefusedConnectsLeaveNoSocket) {
    const auto openDescriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    SocketHandle* handle = nullptr;
    const long descriptors = openDescriptors();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(-3, tcpConnect(handle, kAddress, loopback::closedPort(), 100000));
    EXPECT_EQ(std::make_pair(descriptors, static_cast<SocketHandle*>(nullptr)),
              std::make_pair(openDescriptors(), handle));
}

// A sleep of whole seconds ends on time (its sub-second part stays below one).
TEST(Thread, ASleepOfOneSecondEndsOnTime) {
    const auto done = std::make_shared<std::atomic<bool>>(false);
    const auto start = std::chrono::steady_clock::now();
    std::thread([done] {
        platform::sleepMillis(1000);
        *done = true;
    }).detach();
    for (int i = 0; i < 500 && !*done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(*done);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(990));
}

// No name, or one that does not resolve, is no address: nothing may be sent to 0.0.0.0 or 0.0.0.1.
TEST(Resolve, ANameItsAddressNoNameNone) {
    EXPECT_EQ((std::vector<uint32_t>{kAddress, 0, 0, 0}),
              (std::vector<uint32_t>{resolveHost("127.0.0.1"), resolveHost(""), resolveHost(nullptr),
                                     resolveHost("no-such-host.invalid")}));
}
