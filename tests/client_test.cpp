// OstrelSDK against real loopback sockets and a fake controller.
#include "link/ostrel_sdk.h"

#include <gtest/gtest.h>

#include <netdb.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/loopback_peer.h"

namespace {

using loopback::kAddress;
using Clock = std::chrono::steady_clock;

constexpr int32_t kShortWait = 100000;  // µs: for time-outs the tests wait out

std::string withNul(const std::string& text) { return text + std::string(1, '\0'); }

std::unique_ptr<OstrelSDK> clientOf(const char* host, uint16_t serverPort, RemoteKind kind,
                                    int32_t commandTimeout = 1000000, int32_t dataTimeout = 1000000) {
    return std::make_unique<OstrelSDK>(host, serverPort, 0, kind, OstrelSDK::kDefaultBufferSize, dataTimeout,
                                       commandTimeout);
}

// Datagrams on loopback are queued once sendto returns; the pause covers a
// busy machine.
void letQueue() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

// ---------------------------------------------------------------- construction

TEST(ClientConstruction, DataOnlyBindsAPortAndHasNoController) {
    OstrelSDK client(0);
    ASSERT_TRUE(client.hasDataSocket());
    EXPECT_NE(0, client.dataPort()) << "the chosen port is written back";
    EXPECT_EQ(RemoteKind::None, client.remoteKind());
    EXPECT_EQ(0u, client.serverAddress());
    EXPECT_EQ(0, client.serverPort());
    EXPECT_EQ(32768, client.bufferSize());
    EXPECT_FALSE(client.hasCommandConnection());
    EXPECT_EQ(0u, client.frameCounter());
    EXPECT_EQ(-1.0, client.timestamp());
    EXPECT_EQ(0, client.bodyCount());
    EXPECT_FALSE(client.startTracking()) << "no command channel";
    EXPECT_EQ(OstrelSDK::kNotTcp, client.sendTcpCommand("ostrel2 tracking start"));

    auto unresolved = clientOf("no-such-host.invalid", 5000, RemoteKind::None);
    EXPECT_TRUE(unresolved->hasDataSocket());
    EXPECT_EQ(0u, unresolved->serverAddress());
    EXPECT_EQ(RemoteKind::None, unresolved->remoteKind()) << "an unknown host is no controller";
    // Commanded by UDP, it is not 0.0.0.0 (this machine): nothing is sent.
    auto udp = clientOf("no-such-host.invalid", 5000, RemoteKind::Udp);
    EXPECT_FALSE(udp->startTracking());
    EXPECT_EQ(NetError::Network, udp->lastCommandError());
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    const int lookup = getaddrinfo("no-such-host.invalid", nullptr, &hints, &found);
    if (found != nullptr) freeaddrinfo(found);
    EXPECT_EQ("Controller host \"no-such-host.invalid\": " + std::string(gai_strerror(lookup)), udp->failureReason());
}

TEST(ClientConstruction, TakenPortOrNoBufferLeavesNoDataSocket) {
    OstrelSDK first(0);
    ASSERT_TRUE(first.hasDataSocket());
    OstrelSDK second(first.dataPort());
    EXPECT_FALSE(second.hasDataSocket());
    EXPECT_EQ("UDP port " + std::to_string(first.dataPort()) + ": " + std::strerror(EADDRINUSE), second.failureReason());
    EXPECT_EQ(0, second.dataPort());
    EXPECT_FALSE(second.receiveFrame());
    EXPECT_EQ(NetError::Network, second.lastDataError());
    EXPECT_FALSE(second.sendUdpCommand("ostrel 31"));

    OstrelSDK tiny("", 0, 0, RemoteKind::None, 1, 1000000, 1000000);
    EXPECT_FALSE(tiny.hasDataSocket()) << "a buffer below 2 bytes can never hold a frame";
    EXPECT_STREQ("Receive buffer of 1 bytes: too small", tiny.failureReason());
    EXPECT_EQ(0, tiny.dataPort());
}

TEST(ClientConstruction, HostWithoutServerPortIsAMulticastGroup) {
    testing::internal::CaptureStderr();
    {
        OstrelSDK client("239.255.77.2", 0, 0, RemoteKind::None, 32768, 1000000, 1000000);
        if (!client.hasDataSocket()) {
            std::string said = testing::internal::GetCapturedStderr();
            GTEST_SKIP() << "this kernel refuses multicast membership: " << said;
        }
        EXPECT_EQ(0xEFFF4D02u, client.serverAddress());
        EXPECT_EQ(RemoteKind::None, client.remoteKind()) << "no command channel";
    }
    EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "the group was left at teardown";
}

// ---------------------------------------------------------------- frames

TEST(ClientFrames, TheNewestQueuedFrameIsParsed) {
    OstrelSDK client(0);
    ASSERT_TRUE(loopback::sendDatagram(client.dataPort(), "fr 1\n6d 1 [0 0.1][1 1 1][1 0 0 0 1 0 0 0 1]"));
    ASSERT_TRUE(loopback::sendDatagram(client.dataPort(), "fr 2"));
    ASSERT_TRUE(loopback::sendDatagram(client.dataPort(), "fr 3\r\nts 0.5\r\n6d 1 [2 0.9][1 2 3][1 0 0 0 1 0 0 0 1]"));
    letQueue();
    ASSERT_TRUE(client.receiveFrame());
    EXPECT_EQ(NetError::None, client.lastDataError());
    EXPECT_EQ(3u, client.frameCounter());
    EXPECT_EQ(0.5, client.timestamp());
    ASSERT_EQ(3, client.bodyCount());
    EXPECT_EQ(0.9, client.body(2)->quality);
    EXPECT_EQ(2.0, client.body(2)->loc[1]);
}

// With the default 32768-byte buffer a frame may be 32766 bytes long.
TEST(ClientFrames, TimeOutEmptyLongestAndTooLongFrames) {
    auto client = clientOf("", 0, RemoteKind::None, 1000000, 30000);
    EXPECT_FALSE(client->receiveFrame());
    EXPECT_EQ(NetError::Timeout, client->lastDataError());
    ASSERT_TRUE(loopback::sendDatagram(client->dataPort(), ""));
    EXPECT_FALSE(client->receiveFrame());
    EXPECT_EQ(NetError::Network, client->lastDataError());

    std::string frame = "fr 7\n";
    frame += std::string(32766 - frame.size(), 'x');  // an unknown line fills it up
    ASSERT_TRUE(loopback::sendDatagram(client->dataPort(), frame));
    ASSERT_TRUE(client->receiveFrame());
    EXPECT_EQ(7u, client->frameCounter());
    ASSERT_TRUE(loopback::sendDatagram(client->dataPort(), frame + "x"));
    EXPECT_FALSE(client->receiveFrame());
    EXPECT_EQ(NetError::Network, client->lastDataError());
    EXPECT_EQ(0u, client->frameCounter()) << "the frame was begun, not parsed";
}

TEST(ClientFrames, AFailingLineIsAParseErrorAndSkipsEndFrame) {
    OstrelSDK client(0);
    ASSERT_TRUE(loopback::sendDatagram(
        client.dataPort(), "fr 5\n6dcal 0\n6d 1 [0 0.5][1 2 3][1 0 0 0 1 0 0 0 1]\n6df 1 [3 1 0]\nts 2"));
    EXPECT_FALSE(client.receiveFrame());
    EXPECT_EQ(NetError::Parse, client.lastDataError());
    EXPECT_EQ(5u, client.frameCounter());
    EXPECT_EQ(-1.0, client.timestamp());
    ASSERT_EQ(1, client.bodyCount()) << "6dcal 0 was not applied";
    EXPECT_EQ(0.5, client.body(0)->quality);
}

// ---------------------------------------------------------------- TCP commands

// With a controller commanded by TCP, the UDP forms of start and stop are
// sent in their TCP forms, and other "ostrel " commands are dropped.
TEST(ClientTcp, StartAndStopSendTheirCommandsWithTheNul) {
    loopback::FakeController controller({loopback::answer("ostrel2 ok"), loopback::answer("ostrel2 ok"),
                                         loopback::answer("ostrel2 ok"), loopback::answer("ostrel2 ok")});
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::None);
    ASSERT_EQ(RemoteKind::Tcp, client->remoteKind()) << "a controller that answers the connect means TCP";
    ASSERT_TRUE(client->hasCommandConnection());
    EXPECT_TRUE(client->startTracking());
    EXPECT_TRUE(client->stopTracking());
    EXPECT_TRUE(client->sendUdpCommand("ostrel 10 3"));
    EXPECT_TRUE(client->sendUdpCommand("ostrel 10 1"));
    EXPECT_TRUE(client->sendUdpCommand("ostrel 99")) << "dropped";
    ASSERT_TRUE(controller.waitForCommands(4));
    EXPECT_FALSE(controller.waitForCommands(5, 100));
    const std::string start = withNul("ostrel2 tracking start");
    const std::string stop = withNul("ostrel2 tracking stop");
    EXPECT_EQ((std::vector<std::string>{start, stop, start, stop}), controller.commands());
}

TEST(ClientTcp, AnswersAndTheirCodes) {
    const std::string other = "stale";  // the answer text where the result hands none back
    using E = NetError;  // an "ok" or error answer leaves the command error as it was
    const struct {
        loopback::Reply reply;
        int32_t result;
        std::string answer;
        int32_t remoteCode;
        const char* remoteText;
        NetError error;
    } cases[] = {
        {loopback::answer("ostrel2 ok"), OstrelSDK::kAnswerOk, other, 0, "", E::None},
        {loopback::answer("ostrel2 oka"), OstrelSDK::kAnswerOther, "ostrel2 oka", 0, "", E::None},
        {loopback::answer("ostrel2 err 12 \"bad\""), OstrelSDK::kAnswerError, other, 12, "bad", E::None},
        {loopback::answer("ostrel2 err 0x1F \"hex\" trailing"), OstrelSDK::kAnswerError, other, 31, "hex", E::None},
        {loopback::answer("ostrel2 err x"), OstrelSDK::kErrorWithoutNumber, other, -1100, "SDK error -1100", E::Parse},
        {loopback::answer("ostrel2 err 7 bad"), OstrelSDK::kErrorWithoutMessage, other, -1100, "SDK error -1100",
         E::Parse},
        {loopback::rawAnswer("no terminator"), OstrelSDK::kAnswerOther, "no terminator", 0, "", E::None},
        {loopback::answer(std::string(198, 'z')), OstrelSDK::kAnswerOther, std::string(198, 'z'), 0, "", E::None},
        {loopback::answer(std::string(199, 'y')), OstrelSDK::kAnswerTooLong, "", 0, "", E::Network},  // 200 bytes
        {loopback::answer("ostrel2 ok"), OstrelSDK::kAnswerOk, other, 0, "", E::Network},
        {loopback::paused("ostrel2 ok", 7, 50), OstrelSDK::kAnswerOk, other, 0, "", E::Network},  // in two pieces
        {loopback::answer("\x1b[2Jbad"), OstrelSDK::kAnswerOther, "\x1b[2Jbad", 0, "", E::None},
    };
    std::vector<loopback::Reply> script;
    for (const auto& c : cases) script.push_back(c.reply);
    loopback::FakeController controller(script);
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::Tcp, 3 * kShortWait);
    ASSERT_TRUE(client->hasCommandConnection());
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::string answer = other;
        EXPECT_EQ(cases[i].result, client->sendTcpCommand(("cmd " + std::to_string(i)).c_str(), &answer)) << i;
        EXPECT_EQ(cases[i].answer, answer) << i;
        EXPECT_EQ(cases[i].remoteCode, client->lastRemoteErrorCode()) << i << ": cleared by every command";
        EXPECT_STREQ(cases[i].remoteText, client->lastRemoteErrorText()) << i;
        EXPECT_EQ(cases[i].error, client->lastCommandError()) << i;
    }
    EXPECT_EQ("Controller 127.0.0.1:" + std::to_string(controller.port()) + " answered \"?[2Jbad\"",
              client->failureReason()) << "the reason carries no control character";
    ASSERT_TRUE(controller.waitForCommands(std::size(cases)));
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(withNul("cmd " + std::to_string(i)), controller.commands()[i]);
}

TEST(ClientTcp, CommandsUpToTwoHundredCharacters) {
    loopback::FakeController controller({loopback::answer("ostrel2 ok")});
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::Tcp);
    EXPECT_EQ(OstrelSDK::kCommandTooLong, client->sendTcpCommand(std::string(201, 'a').c_str()));
    EXPECT_EQ(NetError::Network, client->lastCommandError());
    EXPECT_EQ(OstrelSDK::kAnswerOk, client->sendTcpCommand(std::string(200, 'b').c_str()));
    ASSERT_TRUE(controller.waitForCommands(1));
    EXPECT_EQ(withNul(std::string(200, 'b')), controller.commands()[0]) << "the long one was never sent";
}

TEST(ClientTcp, NoAnswerIsATimeOut) {
    loopback::FakeController controller({loopback::silence()});
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::Tcp, kShortWait);
    std::string answer = "stale";
    EXPECT_EQ(OstrelSDK::kCommandTimeout, client->sendTcpCommand("ostrel2 tracking start", &answer));
    EXPECT_EQ(NetError::Timeout, client->lastCommandError());
    EXPECT_EQ("", answer);
    EXPECT_TRUE(client->hasCommandConnection());
    EXPECT_EQ("Controller 127.0.0.1:" + std::to_string(controller.port()) + ": " + std::strerror(ETIMEDOUT),
              client->failureReason());
}

// The late answer to a command that timed out is dropped before the next
// command goes out, so it is not taken for that command's answer.
TEST(ClientTcp, ALateAnswerIsNotTakenForTheNextOne) {
    loopback::FakeController controller({loopback::paused("ostrel2 ok", 0, 3 * kShortWait / 1000),
                                         loopback::answer("ostrel2 err 5 \"refused\"")});
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::Tcp, kShortWait);
    EXPECT_EQ(OstrelSDK::kCommandTimeout, client->sendTcpCommand("ostrel2 tracking start"));
    ASSERT_TRUE(controller.waitForReplies(1));
    letQueue();
    EXPECT_EQ(OstrelSDK::kAnswerError, client->sendTcpCommand("ostrel2 tracking stop"));
    EXPECT_EQ(5, client->lastRemoteErrorCode());
}

TEST(ClientTcp, ClosedConnectionIsDroppedForGood) {
    loopback::FakeController controller({loopback::closeConnection()});
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::Tcp, 1000000, 20000);
    client->sendTcpCommand(std::string(201, 'a').c_str());  // leaves a network error behind
    EXPECT_EQ(OstrelSDK::kControllerClosed, client->sendTcpCommand("ostrel2 tracking start"));
    EXPECT_EQ(NetError::Network, client->lastCommandError()) << "left as it was";
    EXPECT_FALSE(client->hasCommandConnection());
    EXPECT_FALSE(client->receiveFrame());  // times out, and clears both errors
    EXPECT_EQ(NetError::None, client->lastCommandError());
    EXPECT_EQ(OstrelSDK::kNoConnection, client->sendTcpCommand("ostrel2 tracking stop"));
    EXPECT_EQ(NetError::Network, client->lastCommandError());
    EXPECT_EQ(OstrelSDK::kNoConnection, client->sendTcpCommand("ostrel2 tracking stop"));
    EXPECT_FALSE(client->startTracking());
    EXPECT_EQ(RemoteKind::Tcp, client->remoteKind()) << "no reconnection, no fallback";
}

// A refused controller asked for by TCP stays TCP, without a connection; an
// undetermined one that never answers the connect is commanded by UDP,
// once the bounded connect has given up.
TEST(ClientTcp, ControllerThatCannotBeReached) {
    const uint16_t closed = loopback::closedPort();
    auto asked = clientOf("127.0.0.1", closed, RemoteKind::Tcp);
    EXPECT_EQ(RemoteKind::Tcp, asked->remoteKind());
    EXPECT_FALSE(asked->hasCommandConnection());
    EXPECT_EQ(OstrelSDK::kNoConnection, asked->sendTcpCommand("ostrel2 tracking start"));
    EXPECT_FALSE(asked->startTracking());
    EXPECT_EQ("Controller 127.0.0.1:" + std::to_string(closed) + ": " + std::strerror(ECONNREFUSED),
              asked->failureReason());

    loopback::BlackholeListener controller;
    auto start = Clock::now();
    auto undetermined = clientOf("127.0.0.1", controller.port(), RemoteKind::None, 200000);
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(RemoteKind::Udp, undetermined->remoteKind());
    EXPECT_FALSE(undetermined->hasCommandConnection());
    EXPECT_TRUE(undetermined->hasDataSocket());
    EXPECT_LT(waited, 5000) << "bounded by the command time-out, not the system's minutes";
}

// ---------------------------------------------------------------- UDP commands

// A controller that refuses the TCP connect (nothing listens on the TCP port
// of the same number) is commanded by UDP, as one asked for by UDP is.
TEST(ClientUdp, StartAndStopAreTwoDatagramsEachFromTheDataPort) {
    loopback::UdpCollector controller;
    EXPECT_EQ(RemoteKind::Udp, clientOf("127.0.0.1", controller.port(), RemoteKind::Udp)->remoteKind());
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::None);
    ASSERT_TRUE(client->hasDataSocket());
    ASSERT_EQ(RemoteKind::Udp, client->remoteKind());
    EXPECT_FALSE(client->hasCommandConnection());
    EXPECT_TRUE(client->startTracking());
    EXPECT_TRUE(client->stopTracking());
    EXPECT_TRUE(client->sendUdpCommand("any text"));
    const std::vector<std::string> sent = {withNul("ostrel 10 3"), withNul("ostrel 31"), withNul("ostrel 32"),
                                           withNul("ostrel 10 0"), withNul("any text")};
    EXPECT_EQ(sent, controller.receive(5));
    EXPECT_EQ(client->dataPort(), controller.lastSenderPort());
    EXPECT_EQ(OstrelSDK::kNotTcp, client->sendTcpCommand("ostrel2 tracking start")) << "at once";
}

}  // namespace
