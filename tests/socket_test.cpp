// The socket layer on real loopback sockets where the client's tests do not
// reach it: bounded waits, bad arguments,
// multicast options, the drain's bound, connects refused or never answered.
#include "link/socket_layer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/loopback.h"

namespace {

using loopback::kAddress;
using Clock = std::chrono::steady_clock;
long long millisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

struct UdpSocket {
    explicit UdpSocket(uint16_t wanted = 0, uint32_t multicast = 0) : port(wanted), group(multicast) {
        opened = udpOpen(handle, port, group);
    }
    ~UdpSocket() { udpClose(handle, group); }
    int32_t sendTo(uint16_t to, const std::string& bytes) {
        return udpSend(handle, bytes.data(), static_cast<int32_t>(bytes.size()), kAddress, to, 1000000);
    }
    SocketHandle* handle = nullptr;
    uint16_t port;
    uint32_t group;
    int32_t opened;
};

}  // namespace

// How a datagram compares with the capacity, and which of those queued is
// delivered, the client's tests show through the socket layer.
TEST(UdpSocket, WaitsAreBoundedAndBadArgumentsFail) {
    UdpSocket receiver;
    char buffer[16];
    const auto start = Clock::now();
    EXPECT_EQ(-1, udpReceive(receiver.handle, buffer, sizeof buffer, 30000));
    EXPECT_GE(millisSince(start), 25);
    EXPECT_EQ(-2, udpReceive(receiver.handle, buffer, sizeof buffer, -1));
    EXPECT_EQ(-2, udpSend(receiver.handle, "x", 1, kAddress, receiver.port, -5));
    EXPECT_EQ(0, udpClose(nullptr, 0) + udpClose(nullptr, 0xEFFF0001) + tcpClose(nullptr)) << "closing nothing";
    EXPECT_EQ(-2, udpReceive(nullptr, buffer, sizeof buffer, 1000));
    EXPECT_EQ(-2, udpSend(nullptr, "x", 1, kAddress, 9, 1000));
    EXPECT_EQ(-2, tcpReceive(nullptr, buffer, sizeof buffer, 1000));
    EXPECT_EQ(-2, tcpSend(nullptr, "x", 1, 1000));
    UdpSocket second(receiver.port);  // no address reuse without a group
    EXPECT_EQ(std::make_tuple(-3, receiver.port), std::make_tuple(second.opened, second.port));
    EXPECT_EQ(0xC0A80001u, resolveHost("192.168.0.1"));
    EXPECT_EQ(kAddress, resolveHost("localhost"));
    EXPECT_EQ(0u, resolveHost("") + resolveHost(nullptr));
}

// A group member sets address reuse, so a second one may share its port;
// 127.0.0.1 is no group, and joining it fails with its fixed text.
TEST(UdpSocket, MulticastGroupIsJoinedWithAddressReuseAndLeft) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(-5, UdpSocket(0, kAddress).opened);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(0u, said.rfind("setsockopt() failed2: ", 0)) << said;
    testing::internal::CaptureStderr();
    {
        UdpSocket first(0, 0xEFFF4D01);  // 239.255.77.1, administratively scoped
        if (first.opened == -5)
            GTEST_SKIP() << "this kernel refuses multicast: " << testing::internal::GetCapturedStderr();
        ASSERT_EQ(0, first.opened);
        EXPECT_EQ(0, UdpSocket(first.port, 0xEFFF4D01).opened);
    }
    EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "leaving the group succeeded";
}

// Under a flood the drain stops after a thousand datagrams, so the caller's
// cycle keeps running, and delivers the newest it read.
TEST(UdpSocket, DrainStopsAfterAThousandDatagrams) {
    UdpSocket receiver, sender;
    int size = 4 << 20;
    setsockopt(receiver.handle->descriptor, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    socklen_t length = sizeof size;
    getsockopt(receiver.handle->descriptor, SOL_SOCKET, SO_RCVBUF, &size, &length);
    if (size < (2 << 20)) GTEST_SKIP() << "receive buffer limited to " << size << " bytes; cannot queue the flood";
    for (int i = 0; i < 2500; ++i) ASSERT_EQ(0, sender.sendTo(receiver.port, "n " + std::to_string(i)));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (const char* newest : {"n 999", "n 1999", "n 2499"}) {
        char buffer[32] = {};
        const int32_t got = udpReceive(receiver.handle, buffer, sizeof buffer, 1000000);
        EXPECT_EQ(newest, std::string(buffer, got > 0 ? got : 0));
    }
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

// A listener whose queue (of length 0) is full and that never accepts:
// further handshakes get no answer, like a controller behind a firewall.
TEST(TcpSocket, AnUnansweredConnectEndsInMinusThreeAfterTheTimeOut) {
    SocketHandle* handle = nullptr;  // refused at once: see the client's tests
    const int listener = socket(AF_INET, SOCK_STREAM, 0), filler = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kAddress);
    socklen_t length = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    fcntl(filler, F_SETFL, O_NONBLOCK);
    connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    pollfd entry{filler, POLLOUT, 0};
    poll(&entry, 1, 1000);
    const auto start = Clock::now();
    EXPECT_EQ(-3, tcpConnect(handle, kAddress, ntohs(address.sin_port), 200000));
    EXPECT_GE(millisSince(start), 150) << "it did wait for an answer";
    EXPECT_LT(millisSince(start), 5000) << "and gave up after the time-out, not the system's minutes";
    EXPECT_EQ(-3, tcpConnect(handle, kAddress, ntohs(address.sin_port), -1)) << "a negative time-out fails";
    EXPECT_EQ(nullptr, handle);
    close(filler);
    close(listener);
}
