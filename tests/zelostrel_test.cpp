// The device end to end: configuration through init, the measurement cycle
// with real UDP frames on loopback into real shared storage (records checked
// byte by byte), the information printout, and remote control against a fake
// controller on loopback.
#include "device/zelostrel.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "calib/con_common.h"
#include "calib/tra_common.h"
#include "link/ostrel_sdk.h"
#include "tests/support/device_rig.h"
#include "tests/support/loopback.h"

using namespace test_support;

namespace {

std::string pose(double x, const char* rot = kIdentity) { return "[" + std::to_string(x) + " 0 0]" + rot; }
// One entry of a "6d", "6df2" (buttons, joysticks and their values), "6dmt2" or "6di" line.
std::string body(int id, double quality, double x, const char* rot = kIdentity) {
    return "[" + std::to_string(id) + " " + std::to_string(quality) + "]" + pose(x, rot);
}
std::string wand(int id, double quality, int buttons, unsigned word, int joysticks, const char* values, double x = 0) {
    char head[64];
    std::snprintf(head, sizeof head, "[%d %f %d %d]", id, quality, buttons, joysticks);
    return head + pose(x) + "[" + std::to_string(word) + " " + values + "]";
}
std::string tool(int id, double quality, int buttons, unsigned word, double x = 0) {
    char head[64];
    std::snprintf(head, sizeof head, "[%d %f %d 2.5]", id, quality, buttons);
    return head + pose(x) + "[" + std::to_string(word) + "][0 0 0 0 0 0]";
}
std::string inertial(int id, int state, double x) { return "[" + std::to_string(id) + " " + std::to_string(state) + " 0]" + pose(x); }

bool same(const TraData& a, const TraData& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

// ---------------------------------------------------------------- configuration

// Each keyword's values are the keyword reader's tests; here every faulty
// line, and every line that no reader knows, is reported before init fails,
// nothing is set up and only the lines that passed are marked.
TEST(ZelostrelConfig, FaultyLinesAreAllReportedWithTheirNumbers) {
    DeviceRig rig;
    EXPECT_EQ(-1, rig.configure({{"port", "1024"}, {"gripwands", "17"}, {"debug"}, {"Port", "1"},
                                 {"remote", "ctrl", "80"}, {"port", "65535"}, {"standardbody", "2"},
                                 {"ValuatorScale", "1", "2", "all"}}));
    EXPECT_EQ("TRK: ERROR: Invalid Port Number on Line 2.\n"
              "TRK: ERROR: Invalid Number of Gripwands on Line 3.\n"
              "TRK: ERROR: Invalid Number of Arguments on Line 4.\n"
              "TRK: INFO: zelostrel: Unknown keyword \"Port\" on Line 5.\n"
              "TRK: ERROR: Invalid Port Number on Line 6.\n"
              "TRK: INFO: zelostrel: Unknown keyword \"standardbody\" on Line 8.\n",
              rig.initOutput);
    EXPECT_EQ((std::vector<int>{1, 0, 0, 0, 1, 0, 1, 1, 1}), rig.lines.used());
    EXPECT_EQ(65535, rig.device->dataPort);
    EXPECT_EQ(0u, rig.device->numGripwands);
    EXPECT_FALSE(rig.device->modInfo->traHandler || rig.device->modInfo->conHandler || rig.device->client);
    EXPECT_EQ(0u, rig.storage.area->trackerCount);
}

// Gripwands are local trackers and controllers 1.., then the tools, then
// the standard bodies (trackers only); 32 trackers at most.
TEST(ZelostrelConfig, LocalNumberingAndTheLimitOfThirtyTwo) {
    DeviceRig over, full, rig;
    EXPECT_EQ(-1, over.configure({{"standardbodies", "32"}, {"gripwands", "1"}}));
    EXPECT_EQ("TRK: ERROR: Invalid Number of Trackers (Standard Bodies + ...).\n", over.initOutput);
    EXPECT_FALSE(over.device->modInfo->traHandler);
    ASSERT_EQ(1, full.configure({{"standardbodies", "16"}, {"gripwands", "8"}, {"measurementtools", "8"}}));
    EXPECT_EQ(32u, full.storage.area->trackerCount);
    EXPECT_EQ(16u, full.storage.area->controllerCount);

    ASSERT_EQ(1, rig.configure({{"gripwands", "2"}, {"measurementtools", "1"}, {"standardbodies", "2"}}));
    EXPECT_EQ(5u, rig.storage.area->trackerCount);
    EXPECT_EQ(3u, rig.storage.area->controllerCount);
    const CConCommonH& maps = *rig.device->modInfo->conHandler;
    EXPECT_EQ((std::vector<uint32_t>{8, 16, 0, 16, 0}),
              (std::vector<uint32_t>{maps.controllerMap(2)->numValuators, maps.controllerMap(2)->numButtons,
                                     maps.controllerMap(3)->numValuators, maps.controllerMap(3)->numButtons,
                                     maps.controllerMap(4)->outputId}));
    ASSERT_EQ(1, rig.cycle("6d 1 " + body(0, 1.0, 304.8) + "\n6dmt2 1 1 " + tool(0, 1.0, 4, 0, 609.6)));
    EXPECT_EQ(100000, fixedAt(&rig.storage.tracker(4), 20));
    EXPECT_EQ(200000, fixedAt(&rig.storage.tracker(3), 20));
    EXPECT_EQ(0b1100u, maskBits(rig.masks.trackerMask));
}

// A host alone: TCP commands to the default port (nobody listens on that
// loopback address); with a port: UDP. "buffersize" counts only with "remote".
TEST(ZelostrelConfig, TheClientFollowsTheRemoteLine) {
    const struct {
        std::initializer_list<ConfigLines::Words> lines;
        RemoteKind kind;
        uint16_t serverPort;
        int32_t bufferSize;
    } cases[] = {
        {{{"remote", "127.255.254.253"}, {"buffersize", "4096"}}, RemoteKind::Tcp, 50105, 4096},
        {{{"remote", "127.0.0.1", "50105"}}, RemoteKind::Udp, 50105, 32768},
        {{{"buffersize", "4096"}}, RemoteKind::None, 0, 32768},
    };
    for (const auto& c : cases) {
        DeviceRig rig;
        ASSERT_EQ(1, rig.configure(c.lines));
        EXPECT_EQ(c.kind, rig.device->client->remoteKind());
        EXPECT_EQ(c.serverPort, rig.device->client->serverPort());
        EXPECT_EQ(c.bufferSize, rig.device->client->bufferSize());
    }
}

TEST(ZelostrelConfig, WithoutInitInfoNothingIsTouched) {
    DeviceRig rig;
    rig.lines.add({"gripwands", "3"});
    zelostrel device(rig.lines.config(), &rig.log);
    EXPECT_EQ("Error: calling setInitInfo.\n", capturedStderr([&] {
                  EXPECT_EQ("TRK: ERROR: Init info is empty.\n",
                            capturedStdout([&] { EXPECT_EQ(-1, device.init(nullptr)); }));
              }));
    EXPECT_EQ(0u, device.numGripwands + device.maxTrackers + rig.lines.line(0).used);
    EXPECT_FALSE(device.modInfo || device.client);
}

// The records are registered once more behind the first ones; the old
// client's socket goes first, so the same data port opens again.
TEST(ZelostrelConfig, RepeatedInitRegistersAgainAndReplacesTheClient) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configure({{"standardbodies", "2"}}));
    InitInfo info = rig.storage.initInfo();
    capturedStdout([&] { EXPECT_EQ(1, rig.device->init(&info)); });
    EXPECT_TRUE(rig.device->client->hasDataSocket());
    EXPECT_EQ(4u, rig.storage.area->trackerCount);
    ASSERT_EQ(1, rig.cycle("6d 1 " + body(1, 1.0, 304.8)));
    EXPECT_EQ(100000, fixedAt(&rig.storage.tracker(4), 20));
    EXPECT_EQ(1u << 3, maskBits(rig.masks.trackerMask));
}

TEST(ZelostrelConfig, DataPortInUseFailsAfterThePrintoutWithTheSystemsReason) {
    DeviceRig holder, rig;
    ASSERT_EQ(1, holder.configure({}));
    rig.dataPort = holder.dataPort;
    EXPECT_EQ(-1, rig.configure({}));
    const std::string failure = "TRK: ERROR: zelostrel: Cannot Initialize OstrelSDK.\nTRK: ERROR: zelostrel: UDP port " +
                                std::to_string(holder.dataPort) + ": " + std::strerror(EADDRINUSE) + ".\n";
    ASSERT_GT(rig.initOutput.size(), failure.size());
    EXPECT_EQ(failure, rig.initOutput.substr(rig.initOutput.size() - failure.size()));
    EXPECT_NE(std::string::npos, rig.initOutput.find("DEVICE TYPE           : zelostrel"));
    const TraData before = rig.storage.tracker(1);
    EXPECT_EQ(1, rig.cycle());  // the client without a data socket stays: reported, nothing written
    EXPECT_EQ("TRK: ERROR: zelostrel: UDP Receive Error.\n", rig.cycleOutput);
    EXPECT_TRUE(same(before, rig.storage.tracker(1)));
}

// ---------------------------------------------------------------- printout

TEST(ZelostrelPrintout, DefaultBlockThenBufferSizeDebugAndRemote) {
    const auto head = [](const std::string& wands, const std::string& port, const std::string& remote) {
        return "TRK: INFO: DEVICE NAME           : ostrel\nTRK: INFO: DEVICE TYPE           : zelostrel\n"
               "TRK: INFO: VERSION               : 5.8.3, Quellmark GmbH\nTRK: INFO: Ostrel STANDARD BODIES: 1\n"
               "TRK: INFO: Ostrel GRIPWANDS      : " + wands + "\nTRK: INFO: Ostrel MEASUREMENT TOOLS: 0\n"
               "TRK: INFO: Ostrel PORT           : " + port + "\nTRK: INFO: Ostrel REMOTE         : " + remote + "\n";
    };
    // The handlers' reports and the closing rule follow.
    const auto tail = [](zelostrel& device) {
        return capturedStdout([&] {
                   if (device.modInfo->conHandler) device.modInfo->conHandler->printReport();
                   device.modInfo->traHandler->printSettings(true);
               }) + "TRK: INFO: -----------------------\n";
    };
    DeviceRig rig;
    ConfigLines none;  // no device keyword at all, the port too is the default
    zelostrel device(none.config(), &rig.log);
    InitInfo info = rig.storage.initInfo();
    int result = 0;
    const std::string out = capturedStdout([&] { result = device.init(&info); });  // 5000 may be taken here
    const std::string expected = head("0", "5000", " 0") + tail(device);
    EXPECT_EQ(expected, result == 1 ? out : out.substr(0, expected.size()));
    EXPECT_EQ(expected, capturedStdout([&] { EXPECT_TRUE(device.printInfo()); }));  // again at any time

    DeviceRig debug, remote;
    ASSERT_EQ(1, debug.configure({{"debug", "60"}, {"buffersize", "4096"}, {"gripwands", "1"}}));
    EXPECT_EQ(head("1", std::to_string(debug.dataPort), " 0") +
                  "TRK: INFO: Ostrel BUFFERSIZE     : 4096\nTRK: INFO: Ostrel DEBUG          : 0x3c\n" +
                  tail(*debug.device),
              debug.initOutput);
    ASSERT_EQ(1, remote.configure({{"remote", "127.0.0.1", "6000"}}));
    EXPECT_EQ(head("0", std::to_string(remote.dataPort), "127.0.0.1 6000") + tail(*remote.device), remote.initOutput);
}

// ---------------------------------------------------------------- cycle

// Body 0 with quality exactly 0 is written, body 1 with -1 is not, body 2
// is beyond the configured count. 1, -2 and 0.5 feet; a quarter turn about
// y is azimuth 90, which the single-precision degree factor makes 90.0000153.
TEST(ZelostrelCycle, StandardBodiesByQualityAndIdIntoTheirRecords) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configure({{"standardbodies", "2"}}));
    const TraData untouched = rig.storage.tracker(2);
    const int64_t before = platform::readClock().seconds;
    ASSERT_EQ(1, rig.cycle("fr 7\n6d 3 [0 0.0][304.8 -609.6 152.4][0 0 -1 0 1 0 1 0 0] " + body(1, -1.0, 304.8) + " " +
                           body(2, 1.0, 304.8)));
    EXPECT_EQ("", rig.cycleOutput);
    const TraData& r = rig.storage.tracker(1);
    EXPECT_EQ((std::vector<uint32_t>{1, 0, wordAt(&r, 8), wordAt(&r, 12), 0}), wordsAt(&r, 0, 5));
    EXPECT_GE(static_cast<int64_t>(wordAt(&r, 8)), before);
    EXPECT_LE(static_cast<int64_t>(wordAt(&r, 8)), platform::readClock().seconds);
    EXPECT_EQ(static_cast<int32_t>(wordAt(&r, 8)), r.stamp.seconds);
    EXPECT_EQ(uint32_t{r.stamp.milliseconds} * 1000u, wordAt(&r, 12));
    EXPECT_EQ((std::vector<int32_t>{100000, -200000, 50000, 9000001, 0, 0}), fixedWordsAt(&r, 20, 6));
    EXPECT_TRUE(same(untouched, rig.storage.tracker(2)));
    EXPECT_EQ(1u, maskBits(rig.masks.trackerMask));
}

// Inertial bodies stand in only when the body table is empty; one with
// state 0, or beyond the count, is not written.
TEST(ZelostrelCycle, InertialBodiesWhenNoBodyIsKnown) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configure({{"gripwands", "1"}, {"measurementtools", "1"}}));
    ASSERT_EQ(1, rig.cycle("6d 0\n6di 1 " + inertial(0, 1, 914.4)));
    EXPECT_EQ(300000, fixedAt(&rig.storage.tracker(3), 20));
    EXPECT_EQ(1u << 2, maskBits(rig.masks.trackerMask));
    const TraData kept = rig.storage.tracker(3);
    for (const std::string& frame : {"6d 1 " + body(0, -1.0, 0) + "\n6di 1 " + inertial(0, 1, 1828.8),
                                     "6di 2 " + inertial(0, 0, 304.8) + " " + inertial(1, 1, 304.8)}) {
        ASSERT_EQ(1, rig.cycle(frame));
        EXPECT_TRUE(same(kept, rig.storage.tracker(3))) << frame;
        EXPECT_EQ(0u, rig.masks.trackerMask) << frame;
    }
}

// A wand's buttons and joystick are taken whether or not it is tracked, and
// reach its controller record in the next cycle; buttons beyond those it
// sends keep their states.
TEST(ZelostrelCycle, GripwandStatesReachTheNextCyclesControllerRecord) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configure({{"gripwands", "1"}, {"standardbodies", "0"}}));
    const TraData keptPose = rig.storage.tracker(1);
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, -1.0, 16, 0x1, 2, "0.5 -0.25")));
    EXPECT_TRUE(same(keptPose, rig.storage.tracker(1)));
    EXPECT_EQ(0u, rig.masks.trackerMask);
    EXPECT_EQ(1u, maskBits(rig.masks.controllerMask));
    EXPECT_FALSE(pressed(rig.storage.controller(1), 1));  // last cycle's states
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, 1.0, 16, 0x1, 2, "0.5 -0.25", 304.8)));
    const ConData& c = rig.storage.controller(1);
    EXPECT_EQ((std::vector<uint32_t>{1, 0}), wordsAt(&c, 0, 2));
    EXPECT_EQ((std::vector<uint32_t>{8, 16, 36, 68}), wordsAt(&c, 20, 4));
    EXPECT_EQ((std::vector<int32_t>{500, -250, 0}), fixedWordsAt(&c, 36, 3));
    EXPECT_EQ(0x01u, c.buttonBits[0]);
    EXPECT_EQ(100000, fixedAt(&rig.storage.tracker(1), 20));
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, 1.0, 16, 0xffff, 0, "")));
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, 1.0, 12, 0x0, 0, "")));
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, 1.0, 12, 0x0, 0, "")));
    EXPECT_EQ(0x00F0u, wordAt(&c, 164) >> 16);
}

// Tool 1 is local tracker and controller 1 + 1 + 1; a tool numbered as many
// as are configured is none of them (it must not land on a body's tracker).
TEST(ZelostrelCycle, MeasurementToolPosesAndButtons) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configure({{"gripwands", "1"}, {"measurementtools", "2"}, {"standardbodies", "1"}}));
    const TraData body = rig.storage.tracker(4);
    ASSERT_EQ(1, rig.cycle("6dmt2 3 3 " + tool(0, -1.0, 4, 0x5) + " " + tool(1, 1.0, 4, 0x2, 609.6) + " " +
                           tool(2, 1.0, 4, 0xF, 304.8)));
    EXPECT_EQ(200000, fixedAt(&rig.storage.tracker(3), 20));
    EXPECT_EQ(1u << 2, maskBits(rig.masks.trackerMask));
    EXPECT_TRUE(same(body, rig.storage.tracker(4)));
    ASSERT_EQ(1, rig.cycle("6dmt2 2 0\n"));
    EXPECT_EQ(2u, wordAt(&rig.storage.controller(2), 0));
    EXPECT_EQ((std::vector<uint32_t>{0, 16, 36, 36}), wordsAt(&rig.storage.controller(2), 20, 4));
    EXPECT_EQ(0x05u, rig.storage.controller(2).buttonBits[0]);
    EXPECT_EQ(0x02u, rig.storage.controller(3).buttonBits[0]);
    EXPECT_EQ(0b111u, maskBits(rig.masks.controllerMask));
}

TEST(ZelostrelCycle, ReceiveTimeOutWritesNoTrackerButTheControllers) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configure({{"gripwands", "1"}}));
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, 1.0, 16, 0x3, 0, "") + "\n6d 1 " + body(0, 1.0, 304.8)));
    const TraData wandPose = rig.storage.tracker(1), bodyPose = rig.storage.tracker(2);
    ASSERT_EQ(1, rig.cycle());  // nothing sent: one data time-out
    EXPECT_EQ("", rig.cycleOutput);
    EXPECT_TRUE(same(wandPose, rig.storage.tracker(1)) && same(bodyPose, rig.storage.tracker(2)));
    EXPECT_EQ(0u, rig.masks.trackerMask);
    EXPECT_EQ(1u, maskBits(rig.masks.controllerMask));
    EXPECT_EQ(0x03u, rig.storage.controller(1).buttonBits[0]);
}

// The time-stamp block carries the zone's own standard offset and the
// system's daylight-saving flag, whatever the size of the zone's shift (at
// any date one of the half-hour zones below keeps daylight-saving time).
TEST(ZelostrelCycle, TimeStampsCarryTheZonesOwnStandardOffset) {
    if (access("/usr/share/zoneinfo/Australia/Lord_Howe", R_OK) != 0) GTEST_SKIP() << "tzdata is not installed";
    DeviceRig rig;
    ASSERT_EQ(1, rig.configure({{"gripwands", "1"}}));
    const char* saved = std::getenv("TZ");
    const std::string before = saved != nullptr ? saved : "";
    const std::pair<const char*, int16_t> zones[] = {
        {"Australia/Lord_Howe", -630}, {"America/St_Johns", 210}, {"Asia/Kathmandu", -345}};
    for (const auto& [zone, minutesWest] : zones) {
        setenv("TZ", zone, 1);
        tzset();
        ASSERT_EQ(1, rig.cycle("fr 1\n"));  // the controller record is written in every cycle
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        EXPECT_EQ(minutesWest, rig.storage.controller(1).stamp.minutesWest) << zone;
        EXPECT_EQ(local.tm_isdst > 0 ? 1 : 0, rig.storage.controller(1).stamp.daylightSaving) << zone;
    }
    saved != nullptr ? setenv("TZ", before.c_str(), 1) : unsetenv("TZ");
    tzset();
}

TEST(ZelostrelCycle, ParseAndNetworkErrorsAreReportedAndWriteNothing) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configure({}));
    const TraData kept = rig.storage.tracker(1);
    const std::pair<const char*, const char*> cases[] = {
        {"fr 1\n6d 1 [0 1.0][304.8 0", "TRK: ERROR: zelostrel: UDP Parser Error\n"},
        {"", "TRK: ERROR: zelostrel: UDP Receive Error.\n"}};  // an empty datagram
    for (const auto& [frame, message] : cases) {
        ASSERT_EQ(1, rig.cycle(frame));
        EXPECT_EQ(message, rig.cycleOutput);
        EXPECT_TRUE(same(kept, rig.storage.tracker(1)));
        EXPECT_EQ(0u, rig.masks.trackerMask);
    }
}

// Bits 0 (time-outs), 2 (bodies), 3 (Gripwands), 4 (tools), 5 (controllers);
// the pose lines carry the local tracker number.
TEST(ZelostrelCycle, DebugFlagsPrintTheirLines) {
    DeviceRig rig, noWands;
    ASSERT_EQ(1, rig.configure({{"debug", "61"}, {"gripwands", "1"}, {"measurementtools", "1"}}));
    ASSERT_EQ(1, rig.cycle("6d 1 " + body(0, 1.0, 304.8) + "\n6df2 1 1 " + wand(0, 1.0, 16, 0x1, 0, "", 609.6) +
                           "\n6dmt2 1 1 " + tool(0, 1.0, 4, 0x1, 914.4)));
    const std::string angles = " 0.000 0.000 Ang 0.000 -0.000 0.000\n";
    EXPECT_EQ("TRK: INFO: zelostrel: Controller grp 0 0 mea 0 0\n"
              "TRK: INFO: zelostrel: Standard Body 3 Loc 1.000" + angles +
              "TRK: INFO: zelostrel: Gripwand 1 Loc 2.000" + angles +
              "TRK: INFO: zelostrel: Measurement Tool 2 Loc 3.000" + angles,
              rig.cycleOutput);
    ASSERT_EQ(1, rig.cycle());
    EXPECT_EQ("TRK: INFO: zelostrel: Controller grp 1 0 mea 1 0\nTRK: INFO: zelostrel: UDP Receive Timeout\n",
              rig.cycleOutput);
    ASSERT_EQ(1, noWands.configure({{"debug", "38"}, {"measurementtools", "1"}}));
    ASSERT_EQ(1, noWands.cycle("6d 0\n6di 1 " + inertial(0, 1, -304.8)));
    EXPECT_EQ("TRK: INFO: zelostrel: Controller grp 0 0 mea 0 0\n"
              "TRK: INFO: zelostrel: Inertial Body 2 Loc -1.000" + angles,
              noWands.cycleOutput);
    ASSERT_EQ(1, noWands.cycle());
    EXPECT_EQ("TRK: INFO: zelostrel: Controller grp 0 0 mea 0 0\n", noWands.cycleOutput);  // bit 1: nothing
}

// A configure that failed before its client leaves none: never used.
TEST(ZelostrelCycle, AMissingClientIsNeverUsed) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configure({{"remote", "127.0.0.1", "6000"}, {"gripwands", "1"}}));
    rig.device->client.reset();
    const TraData kept = rig.storage.tracker(1);
    EXPECT_EQ(1, rig.cycle());
    EXPECT_EQ("TRK: ERROR: zelostrel: UDP Receive Error.\n", rig.cycleOutput);
    EXPECT_TRUE(same(kept, rig.storage.tracker(1)));
    EXPECT_EQ(1u, maskBits(rig.masks.controllerMask));
    const std::string reason = "TRK: ERROR: zelostrel: No tracking client (configuration failed).\n";
    EXPECT_EQ("TRK: ERROR: zelostrel: Start measurement failed.\n" + reason +
                  "TRK: ERROR: zelostrel: Stop measurement failed.\n" + reason,
              capturedStdout([&] { EXPECT_FALSE(rig.device->start() || rig.device->stop()); }));
}

// NaN and huge values, ids at and beyond the configured counts: nothing
// leaves the records' ranges.
TEST(ZelostrelCycle, HostileFrameValuesStayInsideTheRecords) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configure({{"gripwands", "2"}}));
    ASSERT_EQ(1, rig.cycle("6df2 3 3 [0 nan 16 8][1e300 -1e300 nan]" + std::string(kIdentity) +
                           "[0xffff nan inf -inf 1e30 0 0 0 0] " + wand(1, 1.0, 16, 0x1, 0, "") + " " +
                           wand(2, 1.0, 16, 0xffff, 0, "") + "\n6d 1 [0 1.0][1e300 0 0][2 0 0 0 0 0 0 0 nan]\n"));
    EXPECT_EQ("", rig.cycleOutput);
    // Wand 0 has a NaN quality (not tracked), wand 2 is beyond the count; the
    // body's infinite x is stored as 0.
    EXPECT_EQ(0b110u, maskBits(rig.masks.trackerMask));
    EXPECT_EQ((std::vector<int32_t>{3, 0}), (std::vector<int32_t>{fixedAt(&rig.storage.tracker(3), 0), fixedAt(&rig.storage.tracker(3), 20)}));
    ASSERT_EQ(1, rig.cycle("6d 0\n"));
    const ConData& c = rig.storage.controller(1);
    EXPECT_EQ((std::vector<int32_t>{0, 0, 0, 0}), fixedWordsAt(&c, 36, 4));
    EXPECT_EQ(0xFFFFu, wordAt(&c, 164) >> 16);
    EXPECT_TRUE(pressed(rig.storage.controller(2), 1));
}

// ---------------------------------------------------------------- remote control

// The controller on TCP port 50105 of a loopback address of its own (so
// that parallel runs do not collide): an "ok" start, then the device is
// destroyed while measuring, which closes the connection without a stop;
// error answers fail start and stop with the controller's words.
TEST(ZelostrelRemote, TcpStartAndStopWithTheControllersAnswers) {
    const struct {
        std::vector<loopback::Reply> answers;
        bool stopToo;
        std::string output;
        std::vector<std::string> commands;
    } cases[] = {
        {{loopback::answer("ostrel2 ok")}, false, "", {std::string("ostrel2 tracking start", 23)}},
        {{loopback::answer("ostrel2 err 12 \"not calibrated\""), loopback::answer("ostrel2 err 13 \"busy\"")},
         true,
         "TRK: ERROR: zelostrel: Start measurement failed.\nTRK: ERROR: zelostrel: Controller HOST:50105 answered "
         "error 12: not calibrated.\nTRK: ERROR: zelostrel: Stop measurement failed.\nTRK: ERROR: zelostrel: "
         "Controller HOST:50105 answered error 13: busy.\n",
         {std::string("ostrel2 tracking start", 23), std::string("ostrel2 tracking stop", 22)}},
    };
    std::mt19937 random(std::random_device{}());
    for (const auto& c : cases) {
        const uint32_t address = 0x7f000000u | (1u + random() % 0xfffffdu);
        loopback::FakeController controller(c.answers, address, 50105);
        if (!controller.listening()) GTEST_SKIP() << "port 50105 of a loopback address is taken";
        const std::string host = std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
                                 std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
        DeviceRig rig;
        ASSERT_EQ(1, rig.configure({{"remote", host}}));
        std::string output = c.output;
        for (size_t at; (at = output.find("HOST")) != std::string::npos;) output.replace(at, 4, host);
        EXPECT_EQ(output, capturedStdout([&] {
                      EXPECT_EQ(c.output.empty(), rig.device->start());
                      EXPECT_EQ(c.stopToo, c.stopToo && !rig.device->stop());
                  }));
        rig.device.reset();  // what deleteDev does: no stop command
        ASSERT_TRUE(controller.waitForCommands(c.commands.size()));
        EXPECT_EQ(c.commands, controller.commands());
        if (!c.stopToo) {
            for (int i = 0; i < 200 && !controller.sawClose(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            EXPECT_TRUE(controller.sawClose());
        }
    }
}
