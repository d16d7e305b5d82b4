// The socket layer on real loopback sockets.
#include "link/socket_layer.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <string>

#include "tests/loopback_peer.h"

namespace {

using loopback::kAddress;
using Clock = std::chrono::steady_clock;

long long millisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A bound UDP socket that closes itself.
struct UdpSocket {
    SocketHandle* handle = nullptr;
    uint16_t port = 0;
    uint32_t group = 0;
    int32_t opened = -100;

    explicit UdpSocket(uint16_t wanted = 0, uint32_t multicast = 0) : port(wanted), group(multicast) {
        opened = udpOpen(handle, port, group);
    }
    ~UdpSocket() { udpClose(handle, group); }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    int32_t sendTo(uint16_t to, const std::string& bytes, uint32_t address = kAddress) {
        return udpSend(handle, bytes.data(), static_cast<int32_t>(bytes.size()), address, to, 1000000);
    }
};

// Datagrams sent on loopback are queued by the time sendto returns; the
// pause only covers a busy machine.
void letQueue() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

TEST(UdpSocket, PortZeroIsWrittenBackAndReachable) {
    UdpSocket receiver;
    ASSERT_EQ(0, receiver.opened);
    EXPECT_NE(0, receiver.port);
    EXPECT_EQ(loopback::localPort(receiver.handle->descriptor), receiver.port);

    UdpSocket sender;
    ASSERT_EQ(0, sender.sendTo(receiver.port, "fr 1"));
    char buffer[64] = {};
    EXPECT_EQ(4, udpReceive(receiver.handle, buffer, sizeof buffer, 1000000));
    EXPECT_EQ("fr 1", std::string(buffer, 4));
}

TEST(UdpSocket, ThreeQueuedDatagramsDeliverOnlyTheThird) {
    UdpSocket receiver;
    UdpSocket sender;
    ASSERT_EQ(0, sender.sendTo(receiver.port, "first datagram"));
    ASSERT_EQ(0, sender.sendTo(receiver.port, "second"));
    ASSERT_EQ(0, sender.sendTo(receiver.port, "third!"));
    letQueue();

    char buffer[64] = {};
    ASSERT_EQ(6, udpReceive(receiver.handle, buffer, sizeof buffer, 1000000));
    EXPECT_EQ("third!", std::string(buffer, 6));
    EXPECT_EQ(-1, udpReceive(receiver.handle, buffer, sizeof buffer, 20000)) << "the older two were dropped";
}

TEST(UdpSocket, DatagramFillingTheBufferIsReportedAndOneLessFits) {
    UdpSocket receiver;
    UdpSocket sender;
    char buffer[16] = {};
    ASSERT_EQ(0, sender.sendTo(receiver.port, std::string(16, 'a')));
    EXPECT_EQ(-4, udpReceive(receiver.handle, buffer, 16, 1000000));
    ASSERT_EQ(0, sender.sendTo(receiver.port, std::string(15, 'b')));
    EXPECT_EQ(15, udpReceive(receiver.handle, buffer, 16, 1000000));
    EXPECT_EQ(std::string(15, 'b'), std::string(buffer, 15));
    ASSERT_EQ(0, sender.sendTo(receiver.port, std::string(40, 'c')));
    EXPECT_EQ(-4, udpReceive(receiver.handle, buffer, 16, 1000000)) << "a longer one is cut and reported";
}

TEST(UdpSocket, EmptyDatagramIsNotAnErrorHere) {
    UdpSocket receiver;
    UdpSocket sender;
    ASSERT_EQ(0, sender.sendTo(receiver.port, ""));
    char buffer[16] = {'x'};
    EXPECT_EQ(0, udpReceive(receiver.handle, buffer, sizeof buffer, 1000000));
}

TEST(UdpSocket, WaitsAreBoundedAndNegativeTimeOutsFail) {
    UdpSocket receiver;
    char buffer[16];
    auto start = Clock::now();
    EXPECT_EQ(-1, udpReceive(receiver.handle, buffer, sizeof buffer, 30000));
    EXPECT_GE(millisSince(start), 25);
    EXPECT_EQ(-2, udpReceive(receiver.handle, buffer, sizeof buffer, -1));
    EXPECT_EQ(-2, udpSend(receiver.handle, "x", 1, kAddress, receiver.port, -5));
}

TEST(UdpSocket, NullHandlesAreHarmless) {
    char buffer[16];
    EXPECT_EQ(0, udpClose(nullptr, 0));
    EXPECT_EQ(0, udpClose(nullptr, 0xEFFF0001));
    EXPECT_EQ(0, tcpClose(nullptr));
    EXPECT_EQ(-2, udpReceive(nullptr, buffer, sizeof buffer, 1000));
    EXPECT_EQ(-2, udpSend(nullptr, "x", 1, kAddress, 9, 1000));
    EXPECT_EQ(-2, tcpReceive(nullptr, buffer, sizeof buffer, 1000));
    EXPECT_EQ(-2, tcpSend(nullptr, "x", 1, 1000));
}

TEST(UdpSocket, SendDeliversTheExactBytesFromTheBoundPort) {
    UdpSocket sender;
    loopback::UdpCollector collector;
    const std::string command("ostrel 10 3\0", 12);
    ASSERT_EQ(0, sender.sendTo(collector.port(), command));
    auto received = collector.receive(1);
    ASSERT_EQ(1u, received.size());
    EXPECT_EQ(command, received[0]);
    EXPECT_EQ(sender.port, collector.lastSenderPort());
}

TEST(UdpSocket, WithoutAGroupNoAddressReuseIsSet) {
    UdpSocket first;
    UdpSocket second(first.port);
    EXPECT_EQ(-3, second.opened) << "the port is taken";
    EXPECT_EQ(nullptr, second.handle);
    EXPECT_EQ(first.port, second.port) << "a failed open leaves the port alone";
}

TEST(UdpSocket, MulticastGroupIsJoinedWithAddressReuseAndLeft) {
    const uint32_t group = 0xEFFF4D01;  // 239.255.77.1, administratively scoped
    testing::internal::CaptureStderr();
    {
        UdpSocket first(0, group);
        if (first.opened == -5) {
            std::string said = testing::internal::GetCapturedStderr();
            GTEST_SKIP() << "this kernel refuses multicast membership: " << said;
        }
        ASSERT_EQ(0, first.opened);
        UdpSocket second(first.port, group);
        EXPECT_EQ(0, second.opened) << "a group member sets address reuse, so a second one may share the port";

        // Delivery through the group needs a multicast route; when the host
        // has one, a datagram sent to the group arrives.
        UdpSocket sender;
        if (sender.sendTo(first.port, "fr 9", group) == 0) {
            char buffer[16];
            int32_t length = udpReceive(first.handle, buffer, sizeof buffer, 500000);
            if (length != -1) {
                EXPECT_EQ(4, length);
            }
        }
    }
    EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "leaving the group succeeded";
}

TEST(UdpSocket, JoiningANonGroupAddressFailsWithItsMessage) {
    testing::internal::CaptureStderr();
    UdpSocket socket(0, kAddress);  // 127.0.0.1 is no multicast group
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(-5, socket.opened);
    EXPECT_EQ(nullptr, socket.handle);
    EXPECT_EQ(0u, said.rfind("setsockopt() failed2: ", 0)) << said;
}

// Under a flood the drain stops after a bounded number of datagrams and
// delivers the newest one it read, so the caller's cycle keeps running.
TEST(UdpSocket, DrainStopsAfterAThousandDatagrams) {
    UdpSocket receiver;
    int size = 4 << 20;
    setsockopt(receiver.handle->descriptor, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    socklen_t length = sizeof size;
    getsockopt(receiver.handle->descriptor, SOL_SOCKET, SO_RCVBUF, &size, &length);
    if (size < (2 << 20)) GTEST_SKIP() << "receive buffer limited to " << size << " bytes; cannot queue the flood";

    UdpSocket sender;
    for (int i = 0; i < 2500; ++i) ASSERT_EQ(0, sender.sendTo(receiver.port, "n " + std::to_string(i)));
    letQueue();
    char buffer[32] = {};
    int32_t got = udpReceive(receiver.handle, buffer, sizeof buffer, 1000000);
    ASSERT_GT(got, 0);
    EXPECT_EQ("n 999", std::string(buffer, static_cast<size_t>(got)));
    got = udpReceive(receiver.handle, buffer, sizeof buffer, 1000000);
    ASSERT_GT(got, 0);
    EXPECT_EQ("n 1999", std::string(buffer, static_cast<size_t>(got)));
    got = udpReceive(receiver.handle, buffer, sizeof buffer, 1000000);
    ASSERT_GT(got, 0);
    EXPECT_EQ("n 2499", std::string(buffer, static_cast<size_t>(got))) << "the rest drains to the newest";
}

TEST(ResolveHost, DottedQuadNameAndUnknown) {
    EXPECT_EQ(0xC0A80001u, resolveHost("192.168.0.1"));
    EXPECT_EQ(kAddress, resolveHost("127.0.0.1"));
    EXPECT_EQ(kAddress, resolveHost("localhost"));
    EXPECT_EQ(0u, resolveHost("no-such-host.invalid"));
    EXPECT_EQ(0u, resolveHost(""));
    EXPECT_EQ(0u, resolveHost(nullptr));
}

// A connected pair: our handle and the accepted peer descriptor.
struct TcpPair {
    loopback::TcpListener listener;
    SocketHandle* handle = nullptr;
    int peer = -1;
    TcpPair() {
        if (tcpConnect(handle, kAddress, listener.port(), 1000000) == 0) peer = listener.acceptOne(1000);
    }
    ~TcpPair() {
        tcpClose(handle);
        if (peer >= 0) close(peer);
    }
};

TEST(TcpSocket, SendsExactBytesAndReceivesOnce) {
    TcpPair pair;
    ASSERT_GE(pair.peer, 0);
    const std::string command("ostrel2 tracking start\0", 23);
    ASSERT_EQ(0, tcpSend(pair.handle, command.data(), static_cast<int32_t>(command.size()), 1000000));
    char got[64] = {};
    ASSERT_TRUE(loopback::waitReadable(pair.peer, 1000));
    ASSERT_EQ(23, recv(pair.peer, got, sizeof got, 0));
    EXPECT_EQ(command, std::string(got, 23));

    ASSERT_EQ(11, send(pair.peer, "ostrel2 ok\0", 11, 0));
    char answer[200] = {};
    EXPECT_EQ(11, tcpReceive(pair.handle, answer, sizeof answer, 1000000));
    EXPECT_STREQ("ostrel2 ok", answer);
}

TEST(TcpSocket, FullBufferTimeOutAndClosedPeer) {
    TcpPair pair;
    ASSERT_GE(pair.peer, 0);
    char answer[8] = {};
    EXPECT_EQ(-1, tcpReceive(pair.handle, answer, sizeof answer, 20000));
    ASSERT_EQ(8, send(pair.peer, "12345678", 8, 0));
    EXPECT_EQ(-4, tcpReceive(pair.handle, answer, sizeof answer, 1000000));
    close(pair.peer);
    pair.peer = -1;
    EXPECT_EQ(-9, tcpReceive(pair.handle, answer, sizeof answer, 1000000));
}

TEST(TcpSocket, SendingToAVanishedPeerFailsWithoutASignal) {
    TcpPair pair;
    ASSERT_GE(pair.peer, 0);
    close(pair.peer);
    pair.peer = -1;
    // The first send may still be taken; the peer's reset fails a later one.
    // Without care the process would die of SIGPIPE here.
    int32_t result = 0;
    for (int i = 0; i < 50 && result == 0; ++i) {
        result = tcpSend(pair.handle, "x", 1, 100000);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(-3, result);
}

TEST(TcpSocket, RefusedConnectEndsInMinusThree) {
    SocketHandle* handle = nullptr;
    EXPECT_EQ(-3, tcpConnect(handle, kAddress, loopback::closedPort(), 1000000));
    EXPECT_EQ(nullptr, handle);
}

TEST(TcpSocket, UnansweredConnectGivesUpAfterTheTimeOut) {
    loopback::BlackholeListener controller;
    SocketHandle* handle = nullptr;
    auto start = Clock::now();
    EXPECT_EQ(-3, tcpConnect(handle, kAddress, controller.port(), 200000));
    EXPECT_EQ(nullptr, handle);
    EXPECT_GE(millisSince(start), 150) << "it did wait for an answer";
    EXPECT_LT(millisSince(start), 5000) << "and gave up after the time-out, not the system's minutes";
    EXPECT_EQ(-3, tcpConnect(handle, kAddress, controller.port(), -1)) << "a negative time-out fails";
}

}  // namespace
