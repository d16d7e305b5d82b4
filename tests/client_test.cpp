// OstrelSDK against real loopback sockets and a fake controller.
#include "link/ostrel_sdk.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

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
}

TEST(ClientConstruction, TakenPortOrNoBufferLeavesNoDataSocket) {
    OstrelSDK first(0);
    ASSERT_TRUE(first.hasDataSocket());
    OstrelSDK second(first.dataPort());
    EXPECT_FALSE(second.hasDataSocket());
    EXPECT_EQ(0, second.dataPort());
    EXPECT_FALSE(second.receiveFrame());
    EXPECT_EQ(NetError::Network, second.lastDataError());
    EXPECT_FALSE(second.sendUdpCommand("ostrel 31"));

    OstrelSDK tiny("", 0, 0, RemoteKind::None, 1, 1000000, 1000000);
    EXPECT_FALSE(tiny.hasDataSocket()) << "a buffer below 2 bytes can never hold a frame";
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

    testing::internal::CaptureStderr();
    OstrelSDK unicast("127.0.0.1", 0, 0, RemoteKind::None, 32768, 1000000, 1000000);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(unicast.hasDataSocket()) << "127.0.0.1 is no group to join";
    EXPECT_EQ(0u, said.rfind("setsockopt() failed2: ", 0)) << said;
}

TEST(ClientConstruction, UnresolvableHostMeansNoController) {
    auto client = clientOf("no-such-host.invalid", 5000, RemoteKind::None);
    EXPECT_TRUE(client->hasDataSocket());
    EXPECT_EQ(0u, client->serverAddress());
    EXPECT_EQ(RemoteKind::None, client->remoteKind());
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

TEST(ClientFrames, NoFrameIsATimeOutAndAnEmptyOneANetworkError) {
    auto client = clientOf("", 0, RemoteKind::None, 1000000, 30000);
    EXPECT_FALSE(client->receiveFrame());
    EXPECT_EQ(NetError::Timeout, client->lastDataError());
    ASSERT_TRUE(loopback::sendDatagram(client->dataPort(), ""));
    EXPECT_FALSE(client->receiveFrame());
    EXPECT_EQ(NetError::Network, client->lastDataError());
}

TEST(ClientFrames, LongestFrameThatFitsAndOneByteMore) {
    OstrelSDK client(0);
    std::string frame = "fr 7\n";
    frame += std::string(32766 - frame.size(), 'x');  // an unknown line fills it up
    ASSERT_TRUE(loopback::sendDatagram(client.dataPort(), frame));
    ASSERT_TRUE(client.receiveFrame());
    EXPECT_EQ(7u, client.frameCounter());
    ASSERT_TRUE(loopback::sendDatagram(client.dataPort(), frame + "x"));
    EXPECT_FALSE(client.receiveFrame());
    EXPECT_EQ(NetError::Network, client.lastDataError());
    EXPECT_EQ(0u, client.frameCounter()) << "the frame was begun, not parsed";
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

TEST(ClientTcp, StartAndStopSendTheirCommandsWithTheNul) {
    loopback::FakeController controller({loopback::answer("ostrel2 ok"), loopback::answer("ostrel2 ok")});
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::None);
    ASSERT_EQ(RemoteKind::Tcp, client->remoteKind()) << "a controller that answers the connect means TCP";
    ASSERT_TRUE(client->hasCommandConnection());
    EXPECT_TRUE(client->startTracking());
    EXPECT_TRUE(client->stopTracking());
    ASSERT_TRUE(controller.waitForCommands(2));
    EXPECT_EQ(withNul("ostrel2 tracking start"), controller.commands()[0]);
    EXPECT_EQ(withNul("ostrel2 tracking stop"), controller.commands()[1]);
}

TEST(ClientTcp, AnswersAndTheirCodes) {
    const std::string longest(199, 'y');  // 199 bytes with its NUL
    loopback::FakeController controller({
        loopback::answer("ostrel2 ok"),
        loopback::answer("ostrel2 oka"),
        loopback::answer("ostrel2 err 12 \"bad\""),
        loopback::answer("ostrel2 err 0x1F \"hex number\" trailing"),
        loopback::answer("ostrel2 err x"),
        loopback::answer("ostrel2 err 7 bad"),
        loopback::rawAnswer("no terminator"),
        loopback::answer(std::string(198, 'z')),
        loopback::answer(longest),
        loopback::answer("ostrel2 ok"),
    });
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::Tcp);
    ASSERT_TRUE(client->hasCommandConnection());
    std::string answer = "stale";

    EXPECT_EQ(OstrelSDK::kAnswerOk, client->sendTcpCommand("cmd 1", &answer));
    EXPECT_EQ(OstrelSDK::kAnswerOther, client->sendTcpCommand("cmd 2", &answer));
    EXPECT_EQ("ostrel2 oka", answer);
    EXPECT_EQ(NetError::None, client->lastCommandError());

    EXPECT_EQ(OstrelSDK::kAnswerError, client->sendTcpCommand("cmd 3"));
    EXPECT_EQ(12, client->lastRemoteErrorCode());
    EXPECT_STREQ("bad", client->lastRemoteErrorText());
    EXPECT_EQ(OstrelSDK::kAnswerError, client->sendTcpCommand("cmd 4"));
    EXPECT_EQ(31, client->lastRemoteErrorCode());
    EXPECT_STREQ("hex number", client->lastRemoteErrorText());

    EXPECT_EQ(OstrelSDK::kErrorWithoutNumber, client->sendTcpCommand("cmd 5"));
    EXPECT_EQ(-1100, client->lastRemoteErrorCode());
    EXPECT_STREQ("SDK error -1100", client->lastRemoteErrorText());
    EXPECT_EQ(NetError::Parse, client->lastCommandError());
    EXPECT_EQ(OstrelSDK::kErrorWithoutMessage, client->sendTcpCommand("cmd 6"));
    EXPECT_EQ(-1100, client->lastRemoteErrorCode());
    EXPECT_STREQ("SDK error -1100", client->lastRemoteErrorText());

    EXPECT_EQ(OstrelSDK::kAnswerOther, client->sendTcpCommand("cmd 7", &answer));
    EXPECT_EQ("no terminator", answer);
    EXPECT_EQ(0, client->lastRemoteErrorCode()) << "cleared by every command";
    EXPECT_STREQ("", client->lastRemoteErrorText());
    EXPECT_EQ(OstrelSDK::kAnswerOther, client->sendTcpCommand("cmd 8", &answer));
    EXPECT_EQ(std::string(198, 'z'), answer);
    EXPECT_EQ(OstrelSDK::kAnswerTooLong, client->sendTcpCommand("cmd 9", &answer));
    EXPECT_EQ("", answer);
    EXPECT_EQ(NetError::Network, client->lastCommandError());
    EXPECT_EQ(OstrelSDK::kAnswerOk, client->sendTcpCommand("cmd 10"));

    ASSERT_TRUE(controller.waitForCommands(10));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(withNul("cmd " + std::to_string(i + 1)), controller.commands()[i]);
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

TEST(ClientTcp, UdpCommandsAreTranslatedWhenTheControllerTalksTcp) {
    loopback::FakeController controller({loopback::answer("ostrel2 ok"), loopback::answer("ostrel2 ok")});
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::Tcp);
    EXPECT_TRUE(client->sendUdpCommand("ostrel 10 3"));
    EXPECT_TRUE(client->sendUdpCommand("ostrel 10 1"));
    EXPECT_TRUE(client->sendUdpCommand("ostrel 99")) << "other commands of that form are dropped";
    ASSERT_TRUE(controller.waitForCommands(2));
    EXPECT_FALSE(controller.waitForCommands(3, 100));
    EXPECT_EQ(withNul("ostrel2 tracking start"), controller.commands()[0]);
    EXPECT_EQ(withNul("ostrel2 tracking stop"), controller.commands()[1]);
}

TEST(ClientTcp, ControllerThatCannotBeReached) {
    const uint16_t refusing = loopback::closedPort();
    auto asked = clientOf("127.0.0.1", refusing, RemoteKind::Tcp);
    EXPECT_EQ(RemoteKind::Tcp, asked->remoteKind()) << "TCP asked for stays TCP";
    EXPECT_FALSE(asked->hasCommandConnection());
    EXPECT_EQ(OstrelSDK::kNoConnection, asked->sendTcpCommand("ostrel2 tracking start"));
    EXPECT_FALSE(asked->startTracking());

    auto undetermined = clientOf("127.0.0.1", refusing, RemoteKind::None);
    EXPECT_EQ(RemoteKind::Udp, undetermined->remoteKind()) << "commands go by UDP to the same port";
    EXPECT_TRUE(undetermined->hasDataSocket());
}

TEST(ClientTcp, UnansweredConnectGivesUpWithinTheCommandTimeOut) {
    loopback::BlackholeListener controller;
    auto start = Clock::now();
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::None, 200000);
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(RemoteKind::Udp, client->remoteKind());
    EXPECT_FALSE(client->hasCommandConnection());
    EXPECT_LT(waited, 5000) << "bounded by the command time-out, not the system's minutes";
}

// ---------------------------------------------------------------- UDP commands

TEST(ClientUdp, StartAndStopAreTwoDatagramsEachFromTheDataPort) {
    loopback::UdpCollector controller;
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::Udp);
    ASSERT_TRUE(client->hasDataSocket());
    EXPECT_EQ(RemoteKind::Udp, client->remoteKind());
    EXPECT_FALSE(client->hasCommandConnection()) << "no connect is tried";
    EXPECT_TRUE(client->startTracking());
    EXPECT_TRUE(client->stopTracking());
    EXPECT_TRUE(client->sendUdpCommand("any text"));
    auto datagrams = controller.receive(5);
    ASSERT_EQ(5u, datagrams.size());
    EXPECT_EQ(withNul("ostrel 10 3"), datagrams[0]);
    EXPECT_EQ(withNul("ostrel 31"), datagrams[1]);
    EXPECT_EQ(withNul("ostrel 32"), datagrams[2]);
    EXPECT_EQ(withNul("ostrel 10 0"), datagrams[3]);
    EXPECT_EQ(withNul("any text"), datagrams[4]);
    EXPECT_EQ(client->dataPort(), controller.lastSenderPort());
    EXPECT_EQ(OstrelSDK::kNotTcp, client->sendTcpCommand("ostrel2 tracking start"));
}

TEST(ClientUdp, RefusedTcpControllerIsCommandedByUdp) {
    // Nothing listens on the TCP port of the same number.
    loopback::UdpCollector controller;
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::None);
    ASSERT_EQ(RemoteKind::Udp, client->remoteKind());
    EXPECT_TRUE(client->startTracking());
    auto datagrams = controller.receive(2);
    ASSERT_EQ(2u, datagrams.size());
    EXPECT_EQ(withNul("ostrel 10 3"), datagrams[0]);
    EXPECT_EQ(withNul("ostrel 31"), datagrams[1]);
}

}  // namespace
