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

TEST(UdpSocket, PortZeroIsWrittenBackAndSendsLeaveFromIt) {
    UdpSocket sender;
    ASSERT_EQ(0, sender.opened);
    EXPECT_NE(0, sender.port);
    loopback::UdpCollector collector;
    const std::string command("ostrel 10 3\0", 12);
    ASSERT_EQ(0, sender.sendTo(collector.port(), command));
    auto received = collector.receive(1);
    ASSERT_EQ(1u, received.size());
    EXPECT_EQ(command, received[0]);
    EXPECT_EQ(sender.port, collector.lastSenderPort());
}

TEST(UdpSocket, ThreeQueuedDatagramsDeliverOnlyTheThird) {
    UdpSocket receiver;
    UdpSocket sender;
    for (const char* datagram : {"first datagram", "second", "third!"}) ASSERT_EQ(0, sender.sendTo(receiver.port, datagram));
    letQueue();
    char buffer[64] = {};
    ASSERT_EQ(6, udpReceive(receiver.handle, buffer, sizeof buffer, 1000000));
    EXPECT_EQ("third!", std::string(buffer, 6));
    EXPECT_EQ(-1, udpReceive(receiver.handle, buffer, sizeof buffer, 20000)) << "the older two were dropped";
}

// A datagram that fills the buffer is reported (a longer one is cut and
// reported too), one byte less fits, and an empty one is no error here.
TEST(UdpSocket, DatagramLengthsAgainstTheCapacity) {
    UdpSocket receiver;
    UdpSocket sender;
    const struct {
        std::string bytes;
        int32_t result;
    } cases[] = {{std::string(16, 'a'), -4}, {std::string(15, 'b'), 15}, {std::string(40, 'c'), -4}, {"", 0}};
    for (const auto& c : cases) {
        char buffer[16] = {};
        ASSERT_EQ(0, sender.sendTo(receiver.port, c.bytes));
        EXPECT_EQ(c.result, udpReceive(receiver.handle, buffer, 16, 1000000)) << c.bytes.size() << " bytes";
        const size_t kept = c.result > 0 ? static_cast<size_t>(c.result) : 0;
        EXPECT_EQ(c.bytes.substr(0, kept), std::string(buffer, kept));
    }
}

TEST(UdpSocket, WaitsAreBoundedAndBadArgumentsFail) {
    UdpSocket receiver;
    char buffer[16];
    auto start = Clock::now();
    EXPECT_EQ(-1, udpReceive(receiver.handle, buffer, sizeof buffer, 30000));
    EXPECT_GE(millisSince(start), 25);
    EXPECT_EQ(-2, udpReceive(receiver.handle, buffer, sizeof buffer, -1)) << "a negative time-out";
    EXPECT_EQ(-2, udpSend(receiver.handle, "x", 1, kAddress, receiver.port, -5));
    EXPECT_EQ(0, udpClose(nullptr, 0)) << "closing no socket does nothing";
    EXPECT_EQ(0, udpClose(nullptr, 0xEFFF0001));
    EXPECT_EQ(0, tcpClose(nullptr));
    EXPECT_EQ(-2, udpReceive(nullptr, buffer, sizeof buffer, 1000));
    EXPECT_EQ(-2, udpSend(nullptr, "x", 1, kAddress, 9, 1000));
    EXPECT_EQ(-2, tcpReceive(nullptr, buffer, sizeof buffer, 1000));
    EXPECT_EQ(-2, tcpSend(nullptr, "x", 1, 1000));
}

TEST(UdpSocket, WithoutAGroupNoAddressReuseIsSet) {
    UdpSocket first;
    UdpSocket second(first.port);
    EXPECT_EQ(-3, second.opened) << "the port is taken";
    EXPECT_EQ(nullptr, second.handle);
    EXPECT_EQ(first.port, second.port) << "a failed open leaves the port alone";
}

TEST(UdpSocket, MulticastGroupIsJoinedWithAddressReuseAndLeft) {
    testing::internal::CaptureStderr();
    {
        UdpSocket socket(0, kAddress);  // 127.0.0.1 is no multicast group
        EXPECT_EQ(-5, socket.opened);
        EXPECT_EQ(nullptr, socket.handle);
    }
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(0u, said.rfind("setsockopt() failed2: ", 0)) << said;

    const uint32_t group = 0xEFFF4D01;  // 239.255.77.1, administratively scoped
    testing::internal::CaptureStderr();
    {
        UdpSocket first(0, group);
        if (first.opened == -5) {
            said = testing::internal::GetCapturedStderr();
            GTEST_SKIP() << "this kernel refuses multicast membership: " << said;
        }
        ASSERT_EQ(0, first.opened);
        UdpSocket second(first.port, group);
        EXPECT_EQ(0, second.opened) << "a group member sets address reuse, so a second one may share the port";
        // Delivery through the group needs a multicast route; when the host
        // has one, a datagram sent to the group arrives.
        UdpSocket sender;
        char buffer[16];
        if (sender.sendTo(first.port, "fr 9", group) == 0) {
            int32_t length = udpReceive(first.handle, buffer, sizeof buffer, 500000);
            EXPECT_TRUE(length == -1 || length == 4) << length;
        }
    }
    EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "leaving the group succeeded";
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
    for (const char* newest : {"n 999", "n 1999", "n 2499"}) {  // the last call drains the rest
        char buffer[32] = {};
        int32_t got = udpReceive(receiver.handle, buffer, sizeof buffer, 1000000);
        ASSERT_GT(got, 0);
        EXPECT_EQ(newest, std::string(buffer, static_cast<size_t>(got)));
    }
}

TEST(ResolveHost, DottedQuadNameAndUnknown) {
    EXPECT_EQ(0xC0A80001u, resolveHost("192.168.0.1"));
    EXPECT_EQ(kAddress, resolveHost("127.0.0.1"));
    EXPECT_EQ(kAddress, resolveHost("localhost"));
    EXPECT_EQ(0u, resolveHost("no-such-host.invalid"));
    EXPECT_EQ(0u, resolveHost(""));
    EXPECT_EQ(0u, resolveHost(nullptr));
}

// A connected pair: our handle and the controller's end of it.
struct TcpPair {
    loopback::TcpListener listener;
    SocketHandle* handle = nullptr;
    platform::ServerSocket* peer = nullptr;
    TcpPair() {
        if (tcpConnect(handle, kAddress, listener.port(), 1000000) == 0) peer = listener.acceptOne(1000000);
    }
    ~TcpPair() {
        tcpClose(handle);
        closePeer();
    }
    void closePeer() {
        platform::closeServerSocket(peer);
        peer = nullptr;
    }
};

TEST(TcpSocket, ExactBytesOneReceiveTimeOutFullBufferAndClosedPeer) {
    TcpPair pair;
    ASSERT_NE(nullptr, pair.peer);
    const std::string command("ostrel2 tracking start\0", 23);
    ASSERT_EQ(0, tcpSend(pair.handle, command.data(), static_cast<int32_t>(command.size()), 1000000));
    char got[64] = {};
    ASSERT_TRUE(loopback::readable(pair.peer, 1000000));
    ASSERT_EQ(23, platform::streamReceive(pair.peer, got, sizeof got));
    EXPECT_EQ(command, std::string(got, 23));

    ASSERT_EQ(0, platform::streamSend(pair.peer, "ostrel2 ok\0", 11, 1000000));
    char answer[200] = {};
    EXPECT_EQ(11, tcpReceive(pair.handle, answer, sizeof answer, 1000000));
    EXPECT_STREQ("ostrel2 ok", answer);
    EXPECT_EQ(-1, tcpReceive(pair.handle, answer, 8, 20000));
    ASSERT_EQ(0, platform::streamSend(pair.peer, "12345678", 8, 1000000));
    EXPECT_EQ(-4, tcpReceive(pair.handle, answer, 8, 1000000)) << "a receive that fills the buffer";
    pair.closePeer();
    EXPECT_EQ(-9, tcpReceive(pair.handle, answer, 8, 1000000));
}

TEST(TcpSocket, SendingToAVanishedPeerFailsWithoutASignal) {
    TcpPair pair;
    ASSERT_NE(nullptr, pair.peer);
    pair.closePeer();
    // The first send may still be taken; the peer's reset fails a later one.
    // Without care the process would die of SIGPIPE here.
    int32_t result = 0;
    for (int i = 0; i < 50 && result == 0; ++i) {
        result = tcpSend(pair.handle, "x", 1, 100000);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(-3, result);
}

TEST(TcpSocket, RefusedOrUnansweredConnectEndsInMinusThree) {
    SocketHandle* handle = nullptr;
    EXPECT_EQ(-3, tcpConnect(handle, kAddress, loopback::closedPort(), 1000000));
    EXPECT_EQ(nullptr, handle);

    loopback::BlackholeListener controller;
    auto start = Clock::now();
    EXPECT_EQ(-3, tcpConnect(handle, kAddress, controller.port(), 200000));
    EXPECT_EQ(nullptr, handle);
    EXPECT_GE(millisSince(start), 150) << "it did wait for an answer";
    EXPECT_LT(millisSince(start), 5000) << "and gave up after the time-out, not the system's minutes";
    EXPECT_EQ(-3, tcpConnect(handle, kAddress, controller.port(), -1)) << "a negative time-out fails";
}

}  // namespace
