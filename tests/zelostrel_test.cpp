// The device end to end: init, frames on loopback into shared storage, the printout, remote control of a fake one.
#include "device/zelostrel.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>

#include "calib/con_common.h"
#include "calib/tra_common.h"
#include "device/device_config.h"
#include "link/ostrel_sdk.h"
#include "tests/support/device_rig.h"
#include "tests/support/loopback.h"

using namespace test_support;

namespace {

// Entries of "6d", "6df2", "6dmt2" and "6di" lines, x in millimetres.
std::string at(double x) { return "[" + std::to_string(x) + " 0 0]" + kIdentity; }
std::string head(int id, double second, const std::string& more = "") {
    return "[" + std::to_string(id) + " " + std::to_string(second) + more + "]";
}
std::string body(int id, double quality, double x) { return head(id, quality) + at(x); }
std::string wand(int id, double quality, int buttons, unsigned word, const char* joystick = "", double x = 0) {
    const std::string counts = " " + std::to_string(buttons) + (*joystick == '\0' ? " 0" : " 2");
    return head(id, quality, counts) + at(x) + "[" + std::to_string(word) + " " + joystick + "]";
}
std::string tool(int id, double quality, unsigned word, double x = 0) {
    return head(id, quality, " 4 2.5") + at(x) + "[" + std::to_string(word) + "][0 0 0 0 0 0]";
}
std::string inertial(int id, int state, double x) { return head(id, state, " 0") + at(x); }
bool same(const TraData& a, const TraData& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

// Every faulty or unknown line is reported before init fails; nothing is set up; every line that passed is marked.
TEST(ZelostrelConfig, FaultyLinesAreAllReportedWithTheirNumbers) {
    DeviceRig rig;
    EXPECT_EQ(
        -1, rig.configure({{"gripwands", "17"}, {"Port", "1"}, {"port", "65535"}, {"ValuatorScale", "1", "2", "all"}}));
    EXPECT_EQ(
        "TRK: ERROR: Invalid Number of Gripwands on Line 2.\n"
        "TRK: INFO: zelostrel: Unknown keyword \"Port\" on Line 3.\n",
        rig.initOutput);
    EXPECT_EQ((std::vector<int>{1, 0, 1, 1, 1}), rig.lines.used());
    EXPECT_EQ(std::make_pair(uint16_t{65535}, 0u), std::make_pair(rig.device->dataPort, rig.device->numGripwands));
    EXPECT_FALSE(rig.device->modInfo->traHandler || rig.device->modInfo->conHandler || rig.device->client);
    EXPECT_EQ(0u, rig.storage.area->trackerCount);
}

// The user's document names every keyword that one of the readers knows.
TEST(ZelostrelConfig, TheDocumentNamesEveryKeyword) {
    std::ifstream file(DEVICE_DOC);
    const std::string doc((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(doc.empty()) << DEVICE_DOC;
    for (auto keywordAt : {&device_config::deviceKeyword, &CTraCommonH::optionKeyword, &CConCommonH::optionKeyword})
        for (size_t i = 0; const char* keyword = keywordAt(i); ++i)
            EXPECT_NE(std::string::npos, doc.find("`" + std::string(keyword) + "`")) << keyword;
}

// Gripwands are local trackers and controllers 1.., then the tools, then the standard bodies (trackers only); 32
// trackers at most. "buffersize" counts only with "remote" (a host alone: TCP to port 50105, see the remote test).
TEST(ZelostrelConfig, LocalNumberingLimitsAndTheClient) {
    DeviceRig full, over, rig;
    EXPECT_EQ(1, full.configure({{"standardbodies", "31"}, {"gripwands", "1"}})) << full.initOutput;
    EXPECT_EQ(-1, over.configure({{"standardbodies", "32"}, {"gripwands", "1"}}));
    EXPECT_EQ("TRK: ERROR: Invalid Number of Trackers (Standard Bodies + ...).\n", over.initOutput);
    EXPECT_FALSE(over.device->modInfo->traHandler);
    ASSERT_EQ(1, rig.configure(
                     {{"gripwands", "2"}, {"measurementtools", "1"}, {"standardbodies", "2"}, {"buffersize", "4096"}}));
    EXPECT_EQ(std::make_pair(5u, 3u),
              std::make_pair(rig.storage.area->trackerCount, rig.storage.area->controllerCount));
    const CConCommonH& maps = *rig.device->modInfo->conHandler;
    EXPECT_EQ((std::vector<uint32_t>{8, 16, 0, 16, 0}),
              (std::vector<uint32_t>{maps.controllerMap(2)->numValuators, maps.controllerMap(2)->numButtons,
                                     maps.controllerMap(3)->numValuators, maps.controllerMap(3)->numButtons,
                                     maps.controllerMap(4)->outputId}));
    EXPECT_EQ(std::make_pair(RemoteKind::None, 32768),
              std::make_pair(rig.device->client->remoteKind(), rig.device->client->bufferSize()));
}

// A taken data port fails init with the system's reason; with no data socket a cycle reports and writes nothing.
TEST(ZelostrelConfig, AClientThatCannotReceive) {
    DeviceRig holder, rig;
    ASSERT_EQ(1, holder.configure({{"gripwands", "1"}}));
    rig.dataPort = holder.dataPort;
    EXPECT_EQ(-1, rig.configure({}));
    const std::string failure =
        "TRK: ERROR: zelostrel: Cannot Initialize OstrelSDK.\nTRK: ERROR: zelostrel: UDP port " +
        std::to_string(holder.dataPort) + ": " + std::strerror(EADDRINUSE) + ".\n";
    EXPECT_EQ(rig.initOutput.size() - failure.size(), rig.initOutput.rfind(failure)) << "after the printout";
    holder.device->client.reset();
    for (DeviceRig* r : {&rig, &holder}) {
        const TraData before = r->storage.tracker(1);
        EXPECT_EQ(1, r->cycle());
        EXPECT_EQ("TRK: ERROR: zelostrel: UDP Receive Error.\n", r->cycleOutput);
        EXPECT_TRUE(same(before, r->storage.tracker(1)));
    }
    EXPECT_EQ(1u, maskBits(holder.masks.controllerMask)) << "controllers are still written";
    holder.device->remoteControl = true;
    const std::string reason = "TRK: ERROR: zelostrel: No tracking client (configuration failed).\n";
    EXPECT_EQ("TRK: ERROR: zelostrel: Start measurement failed.\n" + reason +
                  "TRK: ERROR: zelostrel: Stop measurement failed.\n" + reason,
              capturedStdout([&] { EXPECT_FALSE(holder.device->start() || holder.device->stop()); }));
}

// A tracker is written (bit, id, clock, x) or stays byte for byte. Quality 0 is tracked, -1 and NaN are not; ids beyond
// the configured counts land nowhere; inertial bodies stand in only while no body is known, not with state 0.
TEST(ZelostrelCycle, WhatAFrameWritesIntoWhichRecord) {
    const std::string bodies = "fr 7\n6d 3 [0 0.0]" + at(304.8) + body(1, -1.0, 304.8) + body(2, 1.0, 304.8),
                      inertials = "6d 0\n6di 2 " + inertial(0, 0, 304.8) + inertial(1, 1, 914.4),
                      hidden = "6d 1 " + body(1, 1.0, 609.6) + "\n6di 1 " + inertial(0, 1, 304.8),
                      tools = "6dmt2 3 3 " + tool(0, -1.0, 0x5) + tool(1, 1.0, 0x2, 609.6) + tool(2, 1.0, 0xF, 304.8),
                      hostile = "6df2 3 3 [0 nan 16 0][1e300 -1e300 nan]" + std::string(kIdentity) + "[65535] " +
                                wand(1, 1.0, 16, 0x1) + wand(2, 1.0, 16, 0xffff) +
                                "\n6d 1 [0 1.0][1e300 0 0][2 0 0 0 0 0 0 0 nan]\n",
                      all = "6d 1 " + body(0, 1.0, 304.8) + "\n6df2 1 1 " + wand(0, 1.0, 16, 0x1, "", 609.6) +
                            "\n6dmt2 1 1 " + tool(0, 1.0, 0x1, 914.4);
    const std::string info = "TRK: INFO: zelostrel: ", angles = " 0.000 0.000 Ang 0.000 -0.000 0.000\n",
                      grp = info + "Controller grp 0 0 mea 0 0\n", error = grp + "TRK: ERROR: zelostrel: UDP ";
    const std::string inertialLine = grp + info + "Inertial Body 2 Loc -1.000" + angles,
                      grp1 = info + "Controller grp 1 0 mea 1 0\n",
                      inertialOnly = "6d 0\n6di 1 " + inertial(0, 1, -304.8),
                      poses = grp + info + "Standard Body 3 Loc 1.000" + angles + info + "Gripwand 1 Loc 2.000" +
                              angles + info + "Measurement Tool 2 Loc 3.000" + angles;
    const ConfigLines::Words twoBodies = {"standardbodies", "2"}, oneTool = {"measurementtools", "1"};
    const struct {
        std::initializer_list<ConfigLines::Words> config;
        std::string frame;
        uint32_t trackerMask;
        int32_t lastX;  // of the highest tracker written
        std::vector<unsigned> buttons;
        std::string output = "", nextOutput = "";
    } cases[] = {
        {{twoBodies}, bodies, 0b1, 100000, {}},
        {{twoBodies}, inertials, 0b10, 300000, {}},
        {{twoBodies}, hidden, 0b10, 200000, {}},
        {{{"gripwands", "1"}, {"measurementtools", "2"}, {"standardbodies", "1"}}, tools, 0b100, 200000, {0, 5, 2}},
        {{{"gripwands", "2"}}, hostile, 0b110, 0, {0xFF, 1}},
        {{{"debug", "61"}, {"gripwands", "1"}, oneTool}, all, 0b111, 100000, {1, 1}, poses, grp1},
        {{{"debug", "38"}, oneTool}, inertialOnly, 0b10, -100000, {0}, inertialLine, grp},
        {{{"debug", "38"}, oneTool}, "fr 1\n6d 1 [0 1.0][304.8 0", 0, 0, {0}, error + "Parser Error\n", grp},
        {{{"debug", "38"}, oneTool}, "", 0, 0, {0}, error + "Receive Error.\n", grp},
    };
    for (const auto& c : cases) {
        DeviceRig rig;
        ASSERT_EQ(1, rig.configure(c.config));
        const uint32_t trackers = rig.storage.area->trackerCount, controllers = rig.storage.area->controllerCount;
        const std::vector<TraData> before(&rig.storage.tracker(1), &rig.storage.tracker(1) + trackers);
        const uint32_t clock = static_cast<uint32_t>(platform::readClock().seconds);
        ASSERT_EQ(1, rig.cycle(c.frame));
        EXPECT_EQ(std::make_pair(c.output, c.trackerMask),
                  std::make_pair(rig.cycleOutput, maskBits(rig.masks.trackerMask)))
            << c.frame;
        for (uint32_t id = 1; id <= trackers; ++id) {
            const TraData& r = rig.storage.tracker(id);
            if ((c.trackerMask >> (id - 1) & 1) == 0) {
                EXPECT_TRUE(same(before[id - 1], r)) << c.frame << " tracker " << id;
            } else {
                EXPECT_TRUE(wordAt(&r, 0) == id && wordAt(&r, 8) >= clock) << c.frame << " tracker " << id;
                EXPECT_TRUE(c.trackerMask >> id != 0 || fixedAt(&r, 20) == c.lastX)
                    << fixedAt(&r, 20) << " " << c.frame;
            }
        }
        ASSERT_EQ(1, rig.cycle("6d 0\n6di 0\n6df2 0 0\n6dmt2 0 0\n"));  // no poses
        std::vector<unsigned> buttons;
        for (uint32_t id = 1; id <= controllers; ++id) buttons.push_back(rig.storage.controller(id).buttonBits[0]);
        EXPECT_EQ(std::make_tuple(c.buttons, (1u << controllers) - 1, c.nextOutput),
                  std::make_tuple(buttons, maskBits(rig.masks.controllerMask), rig.cycleOutput))
            << c.frame;
    }
}

// The time-stamp block carries the zone's own standard offset and the system's daylight-saving flag, whatever the size
// of the zone's shift (at any date one of these half-hour zones keeps daylight-saving time).
TEST(ZelostrelCycle, TimeStampsCarryTheZonesOwnStandardOffset) {
    if (access("/usr/share/zoneinfo/Australia/Lord_Howe", R_OK) != 0) GTEST_SKIP() << "tzdata is not installed";
    DeviceRig rig;
    ASSERT_EQ(1, rig.configure({{"gripwands", "1"}}));
    const char* saved = std::getenv("TZ");
    const std::string before = saved != nullptr ? saved : "";
    for (const auto& [zone, minutesWest] : {std::pair("Australia/Lord_Howe", -630), std::pair("America/St_Johns", 210),
                                            std::pair("Asia/Kathmandu", -345)}) {
        setenv("TZ", zone, 1);
        tzset();
        ASSERT_EQ(1, rig.cycle("fr 1\n"));  // the controller record is written in every cycle
        const std::time_t now = std::time(nullptr);
        const TimeStampBlock& stamp = rig.storage.controller(1).stamp;
        EXPECT_EQ(std::pair(minutesWest, std::localtime(&now)->tm_isdst > 0 ? 1 : 0),
                  std::pair(int{stamp.minutesWest}, int{stamp.daylightSaving}))
            << zone;
    }
    saved != nullptr ? setenv("TZ", before.c_str(), 1) : unsetenv("TZ");
    tzset();
}

// The controller on port 50105 of a loopback address of its own: an "ok" start, then deleting the device closes the
// connection without a stop; error answers fail start and stop with the controller's words.
TEST(ZelostrelRemote, TcpStartAndStopWithTheControllersAnswers) {
    std::mt19937 random(std::random_device{}());
    for (const bool fails : {false, true}) {
        const uint32_t address = 0x7f000000u | (1u + random() % 0xfffffdu);
        loopback::FakeController controller(
            fails ? std::vector<loopback::Reply>{loopback::answer("ostrel2 err 12 \"not calibrated\""),
                                                 loopback::answer("ostrel2 err 13 \"busy\"")}
                  : std::vector<loopback::Reply>{loopback::answer("ostrel2 ok")},
            address, 50105);
        if (!controller.listening()) GTEST_SKIP() << "port 50105 of a loopback address is taken";
        const std::string host = std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
                                 std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
        DeviceRig rig;
        ASSERT_EQ(1, rig.configure({{"remote", host}, {"buffersize", "4096"}}));
        EXPECT_EQ(std::make_pair(RemoteKind::Tcp, 4096),
                  std::make_pair(rig.device->client->remoteKind(), rig.device->client->bufferSize()));
        const std::string answered = "TRK: ERROR: zelostrel: Controller " + host + ":50105 answered error ";
        EXPECT_EQ(fails ? "TRK: ERROR: zelostrel: Start measurement failed.\n" + answered +
                              "12: not calibrated.\n"
                              "TRK: ERROR: zelostrel: Stop measurement failed.\n" +
                              answered + "13: busy.\n"
                        : "",
                  capturedStdout([&] {
                      EXPECT_EQ(!fails, rig.device->start());
                      EXPECT_EQ(fails, fails && !rig.device->stop());
                  }));
        rig.device.reset();  // what deleteDev does: no stop command
        ASSERT_TRUE(controller.waitFor(fails ? 2 : 1, !fails));
        const std::vector<std::string> commands = {std::string("ostrel2 tracking start", 23),
                                                   std::string("ostrel2 tracking stop", 22)};
        EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + (fails ? 2 : 1)),
                  controller.commands());
    }
}
