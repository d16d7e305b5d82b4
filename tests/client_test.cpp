// OstrelSDK against real loopback sockets and a fake controller.
#include "link/ostrel_sdk.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback.h"

namespace {

using loopback::answer;
using Texts = std::vector<std::string>;

std::string withNul(const std::string& text) { return text + std::string(1, '\0'); }
std::unique_ptr<OstrelSDK> clientOf(const char* host, uint16_t serverPort, RemoteKind kind,
                                    int32_t commandWait = 1000000, int32_t dataWait = 1000000,
                                    int32_t bufferSize = 32768) {
    return std::make_unique<OstrelSDK>(host, serverPort, 0, kind, bufferSize, dataWait, commandWait);
}
std::string controllerAt(uint16_t port) { return "Controller 127.0.0.1:" + std::to_string(port); }

}  // namespace

// A buffer below 2 bytes leaves no data socket; an unknown host is no controller, and nothing is sent to 0.0.0.0.
TEST(ClientConstruction, WhatKeepsItFromOpening) {
    auto tiny = clientOf("", 0, RemoteKind::None, 1000000, 1000000, 1);
    EXPECT_TRUE(clientOf("", 0, RemoteKind::None, 1000000, 1000000, 2)->hasDataSocket() && !tiny->hasDataSocket());
    EXPECT_STREQ("Receive buffer of 1 bytes: too small", tiny->failureReason());
    auto unresolved = clientOf("no-such-host.invalid", 5000, RemoteKind::Udp);
    EXPECT_TRUE(unresolved->hasDataSocket() && unresolved->serverAddress() == 0 && !unresolved->startTracking() &&
                unresolved->lastCommandError() == NetError::Network);
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_INET;
    const int lookup = getaddrinfo("no-such-host.invalid", nullptr, &hints, &found);
    if (found != nullptr) freeaddrinfo(found);
    EXPECT_EQ("Controller host \"no-such-host.invalid\": " + std::string(gai_strerror(lookup)),
              unresolved->failureReason());
}

// The newest queued frame (up to 32766 bytes) is parsed; a failing line is a parse error, the lines before it stay.
TEST(ClientFrames, NewestFrameTimeOutsAndFaultyDatagrams) {
    auto client = clientOf("", 0, RemoteKind::None, 1000000, 30000);
    const uint16_t port = client->dataPort();
    ASSERT_TRUE(loopback::sendDatagram(port, "fr 1\n6d 1 [0 0.1][1 1 1][1 0 0 0 1 0 0 0 1]"));
    ASSERT_TRUE(loopback::sendDatagram(port, "fr 3\r\nts 0.5\r\n6d 1 [2 0.9][1 2 3][1 0 0 0 1 0 0 0 1]"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(client->receiveFrame());
    EXPECT_EQ(std::make_tuple(NetError::None, 3u, 0.5, 3, 2.0),
              std::make_tuple(client->lastDataError(), client->frameCounter(), client->timestamp(), client->bodyCount(),
                              client->body(2)->loc[1]));
    EXPECT_TRUE(!client->receiveFrame() && client->lastDataError() == NetError::Timeout);
    const std::string longest = "fr 7\n" + std::string(32766 - 5, 'x');  // an unknown line fills it up
    const std::tuple<std::string, NetError, uint32_t> cases[] = {
        {"", NetError::Network, 0},
        {longest, NetError::None, 7},
        {longest + "x", NetError::Network, 0},
        {"fr 5\n6dcal 0\n6d 1 [0 0.5][1 2 3][1 0 0 0 1 0 0 0 1]\n6df 1 [3 1 0]\nts 2", NetError::Parse, 5}};
    for (const auto& [frame, error, frameCounter] : cases) {
        ASSERT_TRUE(loopback::sendDatagram(port, frame));
        EXPECT_EQ(error == NetError::None, client->receiveFrame());
        EXPECT_EQ(std::make_pair(error, frameCounter), std::make_pair(client->lastDataError(), client->frameCounter()));
    }
    EXPECT_EQ(std::make_tuple(-1.0, 3, 0.5),
              std::make_tuple(client->timestamp(), client->bodyCount(), client->body(0)->quality));
}

// A controller that answers the connect gets TCP commands with a NUL; UDP start/stop go as TCP, other UDP ones drop.
TEST(ClientTcp, CommandsAnswersAndTheirCodes) {
    const std::string stale = "stale";  // where the result hands no text back
    using E = NetError;                 // an "ok" or error answer leaves the command error as it was
    using Row = std::tuple<int32_t, std::string, int32_t, std::string, NetError>;
    const std::pair<loopback::Reply, Row> cases[] = {
        {answer("ostrel2 ok"), {OstrelSDK::kAnswerOk, stale, 0, "", E::None}},
        {answer("ostrel2 oka"), {OstrelSDK::kAnswerOther, "ostrel2 oka", 0, "", E::None}},
        {answer("ostrel2 err 12 \"bad\""), {OstrelSDK::kAnswerError, stale, 12, "bad", E::None}},
        {answer("ostrel2 err x"), {OstrelSDK::kErrorWithoutNumber, stale, -1100, "SDK error -1100", E::Parse}},
        {answer("ostrel2 err 7 bad"), {OstrelSDK::kErrorWithoutMessage, stale, -1100, "SDK error -1100", E::Parse}},
        {loopback::Reply{"no terminator"}, {OstrelSDK::kAnswerOther, "no terminator", 0, "", E::None}},
        {answer(std::string(198, 'z')), {OstrelSDK::kAnswerOther, std::string(198, 'z'), 0, "", E::None}},
        {answer(std::string(199, 'y')), {OstrelSDK::kAnswerTooLong, "", 0, "", E::Network}},  // 200 bytes
        {answer("ostrel2 ok"), {OstrelSDK::kAnswerOk, stale, 0, "", E::Network}},
        {answer("ostrel2 ok", 7, 50), {OstrelSDK::kAnswerOk, stale, 0, "", E::Network}},  // in two pieces
        {answer("\x1b[2Jbad"), {OstrelSDK::kAnswerOther, "\x1b[2Jbad", 0, "", E::None}},
    };
    std::vector<loopback::Reply> script(4, answer("ostrel2 ok"));
    for (const auto& c : cases) script.push_back(c.first);
    loopback::FakeController controller(script);
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::None, 300000);
    ASSERT_EQ(RemoteKind::Tcp, client->remoteKind());
    EXPECT_TRUE(client->startTracking() && client->stopTracking() && client->sendUdpCommand("ostrel 10 3"));
    EXPECT_TRUE(client->sendUdpCommand("ostrel 10 1") && client->sendUdpCommand("ostrel 99"));
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::string text = stale;
        const int32_t result = client->sendTcpCommand(("cmd " + std::to_string(i)).c_str(), &text);
        EXPECT_EQ(cases[i].second, Row(result, text, client->lastRemoteErrorCode(), client->lastRemoteErrorText(),
                                       client->lastCommandError()))
            << i;
    }
    EXPECT_EQ(controllerAt(controller.port()) + " answered \"?[2Jbad\"", client->failureReason())
        << "no control character";
    ASSERT_TRUE(controller.waitFor(4 + std::size(cases)));
    const std::string start = withNul("ostrel2 tracking start"), stop = withNul("ostrel2 tracking stop");
    const Texts commands = controller.commands();
    EXPECT_EQ((Texts{start, stop, start, stop, withNul("cmd 0")}), Texts(commands.begin(), commands.begin() + 5));
    EXPECT_EQ(OstrelSDK::kCommandTooLong, client->sendTcpCommand(std::string(201, 'a').c_str()));
    EXPECT_EQ(NetError::Network, client->lastCommandError());
}

// No answer in time is a time-out; its late answer is dropped before the next command, not taken for that one's.
TEST(ClientTcp, TimeOutsAndLateAnswers) {
    loopback::FakeController controller({answer("ostrel2 ok", 0, 300), answer("ostrel2 err 5 \"refused\"")});
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::Tcp, 100000);
    std::string text = "stale";
    EXPECT_EQ(OstrelSDK::kCommandTimeout, client->sendTcpCommand(std::string(200, 'b').c_str(), &text));
    EXPECT_EQ(std::make_tuple(NetError::Timeout, std::string(), true),
              std::make_tuple(client->lastCommandError(), text, client->hasCommandConnection()));
    EXPECT_EQ(controllerAt(controller.port()) + ": " + std::strerror(ETIMEDOUT), client->failureReason());
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(OstrelSDK::kAnswerError, client->sendTcpCommand("ostrel2 tracking stop"));
    EXPECT_EQ(5, client->lastRemoteErrorCode());
}

// A connection the controller closes is dropped for good (no reconnection, no UDP); a refused TCP one stays TCP.
TEST(ClientTcp, AClosedOrRefusedConnection) {
    loopback::FakeController controller({loopback::Reply{"", 0, 0, true}});
    auto client = clientOf("127.0.0.1", controller.port(), RemoteKind::Tcp);
    EXPECT_EQ(OstrelSDK::kControllerClosed, client->sendTcpCommand("ostrel2 tracking start"));
    EXPECT_EQ(OstrelSDK::kNoConnection, client->sendTcpCommand("ostrel2 tracking stop"));
    EXPECT_EQ(std::make_tuple(NetError::Network, false, RemoteKind::Tcp),
              std::make_tuple(client->lastCommandError(), client->startTracking(), client->remoteKind()));
    const uint16_t closed = loopback::closedPort();
    auto refused = clientOf("127.0.0.1", closed, RemoteKind::Tcp);
    EXPECT_EQ(std::make_pair(RemoteKind::Tcp, false), std::make_pair(refused->remoteKind(), refused->startTracking()));
    EXPECT_EQ(controllerAt(closed) + ": " + std::strerror(ECONNREFUSED), refused->failureReason());
}
