// The device end to end: configuration through init, the measurement cycle
// with real UDP frames on loopback into real shared storage (records
// checked byte by byte), the information printout, and remote control
// against fake controllers on loopback.
#include "device/zelostrel.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "calib/con_common.h"
#include "calib/tra_common.h"
#include "device/device_config.h"
#include "device_rig.h"
#include "link/ostrel_sdk.h"
#include "platform/server_socket.h"

using namespace test_support;
using Texts = std::vector<std::string>;

namespace {

// "6d": one standard body.
std::string body(int id, double quality, double x, double y = 0, double z = 0, const char* rot = kIdentity) {
    char text[160];
    std::snprintf(text, sizeof text, "[%d %.3f][%.3f %.3f %.3f]%s", id, quality, x, y, z, rot);
    return text;
}

// "6df2": one wand per entry, button words and joystick values in the last group.
std::string wand(int id, double quality, int buttons, unsigned buttonWord, int joysticks, const char* joystick,
                 double x = 0) {
    char text[200];
    std::snprintf(text, sizeof text, "[%d %.3f %d %d][%.3f 0 0]%s[0x%x %s]", id, quality, buttons, joysticks, x,
                  kIdentity, buttonWord, joystick);
    return text;
}

// "6dmt2": one measurement tool.
std::string tool(int id, double quality, int buttons, unsigned buttonWord, double x = 0) {
    char text[200];
    std::snprintf(text, sizeof text, "[%d %.3f %d 2.5][%.3f 0 0]%s[0x%x][0 0 0 0 0 0]", id, quality, buttons, x,
                  kIdentity, buttonWord);
    return text;
}

std::string inertial(int id, int state, double x) {
    char text[160];
    std::snprintf(text, sizeof text, "[%d %d 0.0][%.3f 0 0]%s", id, state, x, kIdentity);
    return text;
}

bool pressed(const ConData& r, int button) {
    const auto* bits = reinterpret_cast<const unsigned char*>(&r) + 164;
    return (bits[(button - 1) / 8] >> ((button - 1) % 8)) & 1;
}

bool sameBytes(const TraData& a, const TraData& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string tail(const std::string& text, size_t length) {
    return text.size() < length ? text : text.substr(text.size() - length);
}

}  // namespace

// ---------------------------------------------------------------------------
// Configuration
// ---------------------------------------------------------------------------

// Each keyword's values and messages are the keyword reader's tests; here
// the device logs every faulty line, and every line that no reader knows,
// before it fails, sets nothing up and marks only the lines that passed.
TEST(ZelostrelConfig, FaultyLinesAreAllReportedWithTheirNumbers) {
    DeviceRig rig;
    EXPECT_EQ(-1, rig.configureQuietly({
                      {"port", "1024"},       // line 4
                      {"gripwands", "17"},    // 5
                      {"debug"},              // 6
                      {"Port", "1"},          // 7: not the device's keyword
                      {"remote", "ctrl", "80"},  // 8
                      {"port", "65535"},      // 9
                      {"standardbody", "2"},  // 10: misspelt
                      {"ValuatorScale", "1", "2", "all"},  // 11: a handler's, in any case
                  }));
    EXPECT_EQ(
        "TRK: ERROR: Invalid Port Number on Line 4.\n"
        "TRK: ERROR: Invalid Number of Gripwands on Line 5.\n"
        "TRK: ERROR: Invalid Number of Arguments on Line 6.\n"
        "TRK: INFO: zelostrel: Unknown keyword \"Port\" on Line 7.\n"
        "TRK: ERROR: Invalid Port Number on Line 8.\n"
        "TRK: INFO: zelostrel: Unknown keyword \"standardbody\" on Line 10.\n",
        rig.initOutput);
    const uint8_t used[7] = {1, 0, 0, 0, 1, 0, 1};  // the rig's own port line first
    for (int i = 0; i < 7; ++i) EXPECT_EQ(used[i], rig.lines.config()->lines[i].used) << i;
    EXPECT_EQ(65535, rig.device->dataPort);
    EXPECT_EQ(0u, rig.device->numGripwands);  // the rejected count was not taken over
    EXPECT_FALSE(rig.device->modInfo->traHandler);
    EXPECT_FALSE(rig.device->modInfo->conHandler);
    EXPECT_FALSE(rig.device->client);
    EXPECT_EQ(0u, rig.storage.area->trackerCount);
}

// The user's document names every keyword that one of the readers knows.
TEST(ZelostrelConfig, TheDocumentNamesEveryKeyword) {
    std::ifstream file(DEVICE_DOC);
    const std::string doc((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(doc.empty()) << DEVICE_DOC;
    for (auto keywordAt : {&device_config::deviceKeyword, &CTraCommonH::optionKeyword, &CConCommonH::optionKeyword}) {
        for (size_t i = 0; const char* keyword = keywordAt(i); ++i) {
            EXPECT_NE(std::string::npos, doc.find("`" + std::string(keyword) + "`")) << keyword;
        }
    }
}

TEST(ZelostrelConfig, TrackerLimitIsThirtyTwo) {
    DeviceRig rig;
    EXPECT_EQ(-1, rig.configureQuietly({{"standardbodies", "32"}, {"gripwands", "1"}}));
    EXPECT_EQ("TRK: ERROR: Invalid Number of Trackers (Standard Bodies + ...).\n", rig.initOutput);
    EXPECT_FALSE(rig.device->modInfo->traHandler);

    DeviceRig full;
    EXPECT_EQ(1, full.configureQuietly({{"standardbodies", "16"}, {"gripwands", "8"}, {"measurementtools", "8"}}));
    EXPECT_EQ(32u, full.storage.area->trackerCount);
    EXPECT_EQ(16u, full.storage.area->controllerCount);
}

TEST(ZelostrelConfig, LocalNumberingWithGripwandsAndTools) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"gripwands", "2"}, {"measurementtools", "1"}, {"standardbodies", "2"}}));
    EXPECT_EQ(5u, rig.device->numTrackers);
    EXPECT_EQ(3u, rig.device->numControllers);
    EXPECT_EQ(5u, rig.storage.area->trackerCount);
    EXPECT_EQ(3u, rig.storage.area->controllerCount);
    const CConCommonH& controllers = *rig.device->modInfo->conHandler;
    EXPECT_EQ(8u, controllers.controllerMap(2)->numValuators);
    EXPECT_EQ(16u, controllers.controllerMap(2)->numButtons);
    EXPECT_EQ(0u, controllers.controllerMap(3)->numValuators);  // the tool is controller 3
    EXPECT_EQ(16u, controllers.controllerMap(3)->numButtons);
    EXPECT_EQ(0u, controllers.controllerMap(4)->outputId);

    // The first standard body is local tracker 4, the tool tracker 3.
    ASSERT_EQ(1, rig.cycle("6d 1 " + body(0, 1.0, 304.8) + "\n6dmt2 1 1 " + tool(0, 1.0, 4, 0, 609.6) + "\n"));
    EXPECT_EQ(100000, fixedAt(&rig.storage.tracker(4), 20));
    EXPECT_EQ(200000, fixedAt(&rig.storage.tracker(3), 20));
    EXPECT_EQ((1u << 3) | (1u << 2), maskBits(rig.masks.trackerMask));
}

// A TCP client to the default command port for a host alone (nobody listens
// on this loopback address, so it stays without a connection), UDP commands
// with a port, and "buffersize" reaching the client only with "remote".
TEST(ZelostrelConfig, ClientKindsFollowTheRemoteLine) {
    const struct {
        std::initializer_list<std::initializer_list<const char*>> lines;
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
        ASSERT_EQ(1, rig.configureQuietly(c.lines));
        ASSERT_TRUE(rig.device->client);
        EXPECT_EQ(c.kind, rig.device->client->remoteKind());
        if (c.kind != RemoteKind::None) {
            EXPECT_EQ(c.serverPort, rig.device->client->serverPort());
        }
        EXPECT_EQ(c.bufferSize, rig.device->client->bufferSize());
    }
}

TEST(ZelostrelConfig, NullInitInfoTouchesNothing) {
    DeviceRig rig;
    rig.lines.add({"gripwands", "3"});
    zelostrel device(rig.lines.config(), &rig.log);
    testing::internal::CaptureStderr();
    EXPECT_EQ("TRK: ERROR: Init info is empty.\n", capturedStdout([&] { EXPECT_EQ(-1, device.init(nullptr)); }));
    EXPECT_EQ("Error: calling setInitInfo.\n", testing::internal::GetCapturedStderr());
    EXPECT_FALSE(device.modInfo);
    EXPECT_EQ(0u, device.numGripwands);
    EXPECT_EQ(0, rig.lines.config()->lines[0].used);
    EXPECT_EQ(0u, device.maxTrackers);
    EXPECT_FALSE(device.client);
}

TEST(ZelostrelConfig, RepeatedInitRegistersAgainAndReplacesTheClient) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"standardbodies", "2"}}));
    InitInfo info = rig.storage.initInfo();
    // The same data port: the old socket went first.
    capturedStdout([&] { EXPECT_EQ(1, rig.device->init(&info)); });
    ASSERT_TRUE(rig.device->client);
    EXPECT_TRUE(rig.device->client->hasDataSocket());
    EXPECT_EQ(4u, rig.storage.area->trackerCount);
    EXPECT_EQ(2u, rig.device->modInfo->traHandler->storageBase);
    ASSERT_EQ(1, rig.cycle("6d 1 " + body(1, 1.0, 304.8) + "\n"));
    EXPECT_EQ(100000, fixedAt(&rig.storage.tracker(4), 20));
    EXPECT_EQ(1u << 3, maskBits(rig.masks.trackerMask));
}

TEST(ZelostrelConfig, DataPortInUseFailsAfterThePrintout) {
    DeviceRig holder;
    ASSERT_EQ(1, holder.configureQuietly({}));
    DeviceRig rig;
    rig.portText = holder.portText;
    EXPECT_EQ(-1, rig.configureQuietly({}));
    // The fixed line, then the system's reason.
    const std::string failure = "TRK: ERROR: zelostrel: Cannot Initialize OstrelSDK.\nTRK: ERROR: zelostrel: UDP port " +
                                holder.portText + ": " + std::strerror(EADDRINUSE) + ".\n";
    EXPECT_EQ(failure, tail(rig.initOutput, failure.size()));
    EXPECT_NE(std::string::npos, rig.initOutput.find("DEVICE TYPE           : zelostrel"));
    // The client without a data socket stays; a cycle reports and writes nothing.
    ASSERT_TRUE(rig.device->client);
    const TraData before = rig.storage.tracker(1);
    EXPECT_EQ(1, rig.cycle());
    EXPECT_EQ("TRK: ERROR: zelostrel: UDP Receive Error.\n", rig.cycleOutput);
    EXPECT_TRUE(sameBytes(before, rig.storage.tracker(1)));
}

// ---------------------------------------------------------------------------
// Printout
// ---------------------------------------------------------------------------

namespace {

// The handlers' reports, as printTail shows them, and the closing rule.
std::string reportsAndRule(zelostrel& device) {
    return capturedStdout([&] {
               if (device.modInfo->conHandler) device.modInfo->conHandler->printReport();
               device.modInfo->traHandler->printSettings(true);
           }) +
           "TRK: INFO: -----------------------\n";
}

std::string head(const std::string& gripwands, const std::string& port, const std::string& remote) {
    return "TRK: INFO: DEVICE NAME           : ostrel\n"
           "TRK: INFO: DEVICE TYPE           : zelostrel\n"
           "TRK: INFO: VERSION               : 5.8.3, Quellmark GmbH\n"
           "TRK: INFO: Ostrel STANDARD BODIES: 1\n"
           "TRK: INFO: Ostrel GRIPWANDS      : " + gripwands + "\n"
           "TRK: INFO: Ostrel MEASUREMENT TOOLS: 0\n"
           "TRK: INFO: Ostrel PORT           : " + port + "\n"
           "TRK: INFO: Ostrel REMOTE         : " + remote + "\n";
}

}  // namespace

TEST(ZelostrelPrintout, DefaultConfigurationBlock) {
    DeviceRig rig;
    ConfigLines none;  // no device keywords at all: the port too is the default
    zelostrel device(none.config(), &rig.log);
    InitInfo info = rig.storage.initInfo();
    int result = 0;
    const std::string out = capturedStdout([&] { result = device.init(&info); });  // 5000 may be taken here
    const std::string expected = head("0", "5000", " 0") + reportsAndRule(device);
    EXPECT_EQ(expected, result == 1 ? out : out.substr(0, expected.size()));  // then its failure follows
    // The host may print again at any time: the same block.
    EXPECT_EQ(expected, capturedStdout([&] { EXPECT_TRUE(device.printInfo()); }));
}

TEST(ZelostrelPrintout, DebugBufferSizeRemoteAndTheReportsAtTheEnd) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"debug", "60"}, {"buffersize", "4096"}, {"gripwands", "1"}}));
    EXPECT_EQ(head("1", rig.portText, " 0") +
                  "TRK: INFO: Ostrel BUFFERSIZE     : 4096\n"
                  "TRK: INFO: Ostrel DEBUG          : 0x3c\n" +
                  reportsAndRule(*rig.device),
              rig.initOutput);

    DeviceRig remote;
    ASSERT_EQ(1, remote.configureQuietly({{"remote", "127.0.0.1", "6000"}}));
    EXPECT_EQ(head("0", remote.portText, "127.0.0.1 6000") + reportsAndRule(*remote.device), remote.initOutput);
}

// ---------------------------------------------------------------------------
// Measurement cycle
// ---------------------------------------------------------------------------

TEST(ZelostrelCycle, StandardBodiesByQualityAndId) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"standardbodies", "2"}}));
    const TraData untouched2 = rig.storage.tracker(2);
    const int64_t before = platform::readClock().seconds;
    // Body 0 with quality exactly 0 is written; body 1 with -1 is not; body
    // 2 is beyond the configured count.
    ASSERT_EQ(1, rig.cycle("fr 7\n6d 3 " + body(0, 0.0, 304.8, -609.6, 152.4, "[0 0 -1 0 1 0 1 0 0]") + " " +
                           body(1, -1.0, 304.8) + " " + body(2, 1.0, 304.8) + "\n"));
    EXPECT_EQ("", rig.cycleOutput);
    const TraData& r = rig.storage.tracker(1);
    EXPECT_EQ((std::vector<uint32_t>{1, 0, wordAt(&r, 8), wordAt(&r, 12), 0}), wordsAt(&r, 0, 5));
    EXPECT_GE(static_cast<int64_t>(wordAt(&r, 8)), before);
    EXPECT_LE(static_cast<int64_t>(wordAt(&r, 8)), platform::readClock().seconds);
    EXPECT_EQ(static_cast<int32_t>(wordAt(&r, 8)), r.stamp.seconds);
    EXPECT_EQ(uint32_t{r.stamp.milliseconds} * 1000u, wordAt(&r, 12));
    // 1, -2 and 0.5 feet; azimuth 90 (a quarter turn about y), which the
    // single-precision degree factor makes 90.0000153.
    EXPECT_EQ((std::vector<int32_t>{100000, -200000, 50000, 9000001, 0, 0}), fixedWordsAt(&r, 20, 6));
    EXPECT_TRUE(sameBytes(untouched2, rig.storage.tracker(2)));
    EXPECT_EQ(1u, maskBits(rig.masks.trackerMask));
}

TEST(ZelostrelCycle, InertialBodiesOnlyWhenTheBodyTableIsEmpty) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"gripwands", "1"}, {"measurementtools", "1"}}));
    ASSERT_EQ(1, rig.cycle("6d 0\n6di 1 " + inertial(0, 1, 914.4) + "\n"));
    EXPECT_EQ(300000, fixedAt(&rig.storage.tracker(3), 20));  // local 1 + 1 + 0 + 1
    EXPECT_EQ(1u << 2, maskBits(rig.masks.trackerMask));

    // A body table that is not empty (here one unseen body) hides the
    // inertial body; state 0 and ids beyond the count are not written.
    const TraData kept = rig.storage.tracker(3);
    for (const std::string& frame : {"6d 1 " + body(0, -1.0, 0) + "\n6di 1 " + inertial(0, 1, 1828.8) + "\n",
                                     "6di 2 " + inertial(0, 0, 304.8) + " " + inertial(1, 1, 304.8) + "\n"}) {
        ASSERT_EQ(1, rig.cycle(frame));
        EXPECT_TRUE(sameBytes(kept, rig.storage.tracker(3))) << frame;
        EXPECT_EQ(0u, rig.masks.trackerMask) << frame;
    }
}

TEST(ZelostrelCycle, GripwandStatesReachTheNextCyclesControllerRecord) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"gripwands", "1"}, {"standardbodies", "0"}}));
    const TraData keptPose = rig.storage.tracker(1);
    // Untracked wand with button 1 pressed and the joystick pushed.
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, -1.0, 16, 0x1, 2, "0.5 -0.25") + "\n"));
    EXPECT_TRUE(sameBytes(keptPose, rig.storage.tracker(1)));  // no pose written
    EXPECT_EQ(0u, rig.masks.trackerMask);
    EXPECT_EQ(1u, maskBits(rig.masks.controllerMask));  // controller rewritten ...
    EXPECT_FALSE(pressed(rig.storage.controller(1), 1));  // ... with last cycle's states
    EXPECT_EQ(0, fixedAt(&rig.storage.controller(1), 36));

    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, 1.0, 16, 0x1, 2, "0.5 -0.25", 304.8) + "\n"));
    const ConData& c = rig.storage.controller(1);
    EXPECT_EQ(1u, wordAt(&c, 0));
    EXPECT_EQ((std::vector<uint32_t>{8, 16, 36, 68}), wordsAt(&c, 20, 4));
    EXPECT_EQ((std::vector<int32_t>{500, -250, 0}), fixedWordsAt(&c, 36, 3));
    EXPECT_TRUE(pressed(c, 1));
    EXPECT_FALSE(pressed(c, 2));
    EXPECT_EQ(100000, fixedAt(&rig.storage.tracker(1), 20));  // tracked now: pose written
    EXPECT_EQ(1u, maskBits(rig.masks.trackerMask));

    // A wand sending 12 buttons updates 1 to 12 and leaves 13 to 16.
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, 1.0, 16, 0xffff, 0, "") + "\n"));
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, 1.0, 12, 0x0, 0, "") + "\n"));
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, 1.0, 12, 0x0, 0, "") + "\n"));
    for (int b = 1; b <= 16; ++b) EXPECT_EQ(b > 12, pressed(c, b)) << b;
}

TEST(ZelostrelCycle, MeasurementToolPoseAndButtons) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"gripwands", "1"}, {"measurementtools", "2"}, {"standardbodies", "0"}}));
    ASSERT_EQ(1, rig.cycle("6dmt2 2 2 " + tool(0, -1.0, 4, 0x5) + " " + tool(1, 1.0, 4, 0x2, 609.6) + "\n"));
    EXPECT_EQ(200000, fixedAt(&rig.storage.tracker(3), 20));  // tool 1 is local 1 + 1 + 1
    EXPECT_EQ(1u << 2, maskBits(rig.masks.trackerMask));
    ASSERT_EQ(1, rig.cycle("6dmt2 2 0\n"));
    const ConData& t0 = rig.storage.controller(2);
    EXPECT_EQ(2u, wordAt(&t0, 0));
    EXPECT_EQ((std::vector<uint32_t>{0, 16, 36, 36}), wordsAt(&t0, 20, 4));
    EXPECT_TRUE(pressed(t0, 1));
    EXPECT_FALSE(pressed(t0, 2));
    EXPECT_TRUE(pressed(t0, 3));
    EXPECT_TRUE(pressed(rig.storage.controller(3), 2));
    EXPECT_EQ(0b111u, maskBits(rig.masks.controllerMask));
}

TEST(ZelostrelCycle, ReceiveTimeoutWritesNoTrackerButRewritesControllers) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"gripwands", "1"}}));
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, 1.0, 16, 0x3, 0, "") + "\n6d 1 " + body(0, 1.0, 304.8) + "\n"));
    const TraData wandPose = rig.storage.tracker(1);
    const TraData bodyPose = rig.storage.tracker(2);
    ASSERT_EQ(1, rig.cycle());  // nothing sent: one data time-out
    EXPECT_EQ("", rig.cycleOutput);
    EXPECT_TRUE(sameBytes(wandPose, rig.storage.tracker(1)));
    EXPECT_TRUE(sameBytes(bodyPose, rig.storage.tracker(2)));
    EXPECT_EQ(0u, rig.masks.trackerMask);
    EXPECT_EQ(1u, maskBits(rig.masks.controllerMask));
    EXPECT_TRUE(pressed(rig.storage.controller(1), 2));  // the latest stored states
}

// The time-stamp block carries the zone's own standard offset and the
// system's daylight-saving flag, whatever the size of the zone's shift (at
// any date, one of the half-hour zones below keeps daylight-saving time).
TEST(ZelostrelCycle, TimeStampsCarryTheZonesOwnStandardOffset) {
    if (access("/usr/share/zoneinfo/Australia/Lord_Howe", R_OK) != 0) GTEST_SKIP() << "tzdata is not installed";
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"gripwands", "1"}}));
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

TEST(ZelostrelCycle, ParserAndNetworkErrorsAreReported) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({}));
    const TraData kept = rig.storage.tracker(1);
    const struct {
        std::string frame, message;
    } cases[] = {
        {"fr 1\n6d 1 [0 1.0][304.8 0", "TRK: ERROR: zelostrel: UDP Parser Error\n"},
        {"", "TRK: ERROR: zelostrel: UDP Receive Error.\n"},  // an empty datagram
    };
    for (const auto& c : cases) {
        ASSERT_EQ(1, rig.cycle(c.frame));
        EXPECT_EQ(c.message, rig.cycleOutput);
        EXPECT_TRUE(sameBytes(kept, rig.storage.tracker(1)));
        EXPECT_EQ(0u, rig.masks.trackerMask);
    }
}

TEST(ZelostrelCycle, DebugFlagsPrintTheirLines) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly(
                     {{"debug", "61"}, {"gripwands", "1"}, {"measurementtools", "1"}, {"standardbodies", "1"}}));
    ASSERT_EQ(1, rig.cycle("6d 1 " + body(0, 1.0, 304.8) + "\n6df2 1 1 " + wand(0, 1.0, 16, 0x1, 0, "", 609.6) +
                           "\n6dmt2 1 1 " + tool(0, 1.0, 4, 0x1, 914.4) + "\n"));
    EXPECT_EQ(
        "TRK: INFO: zelostrel: Controller grp 0 0 mea 0 0\n"
        "TRK: INFO: zelostrel: Standard Body 3 Loc 1.000 0.000 0.000 Ang 0.000 -0.000 0.000\n"
        "TRK: INFO: zelostrel: Gripwand 1 Loc 2.000 0.000 0.000 Ang 0.000 -0.000 0.000\n"
        "TRK: INFO: zelostrel: Measurement Tool 2 Loc 3.000 0.000 0.000 Ang 0.000 -0.000 0.000\n",
        rig.cycleOutput);
    ASSERT_EQ(1, rig.cycle());  // time-out
    EXPECT_EQ(
        "TRK: INFO: zelostrel: Controller grp 1 0 mea 1 0\n"
        "TRK: INFO: zelostrel: UDP Receive Timeout\n",
        rig.cycleOutput);

    // Without any Gripwand the controller line shows four zeros; inertial
    // bodies have their own line.
    DeviceRig noWands;
    ASSERT_EQ(1, noWands.configureQuietly({{"debug", "36"}, {"measurementtools", "1"}}));
    ASSERT_EQ(1, noWands.cycle("6d 0\n6di 1 " + inertial(0, 1, -304.8) + "\n"));
    EXPECT_EQ(
        "TRK: INFO: zelostrel: Controller grp 0 0 mea 0 0\n"
        "TRK: INFO: zelostrel: Inertial Body 2 Loc -1.000 0.000 0.000 Ang 0.000 -0.000 0.000\n",
        noWands.cycleOutput);
}

TEST(ZelostrelCycle, MissingClientIsNeverUsed) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"remote", "127.0.0.1", "6000"}, {"gripwands", "1"}}));
    rig.device->client.reset();
    const TraData kept = rig.storage.tracker(1);
    EXPECT_EQ(1, rig.cycle());
    EXPECT_EQ("TRK: ERROR: zelostrel: UDP Receive Error.\n", rig.cycleOutput);
    EXPECT_TRUE(sameBytes(kept, rig.storage.tracker(1)));
    EXPECT_EQ(1u, maskBits(rig.masks.controllerMask));  // controllers still written
    const std::string reason = "TRK: ERROR: zelostrel: No tracking client (configuration failed).\n";
    EXPECT_EQ("TRK: ERROR: zelostrel: Start measurement failed.\n" + reason +
                  "TRK: ERROR: zelostrel: Stop measurement failed.\n" + reason,
              capturedStdout([&] {
                  EXPECT_FALSE(rig.device->start());
                  EXPECT_FALSE(rig.device->stop());
              }));
}

TEST(ZelostrelCycle, GermanLocaleHostReadsFramesTheSame) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"gripwands", "1"}}));
    // Written before the switch: the frame text always has decimal points.
    const std::string frame =
        "6d 1 " + body(0, 1.0, 1524.0, 152.4) + "\n6df2 1 1 " + wand(0, 1.0, 16, 0x0, 2, "0.5 -0.25") + "\n";
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "de_DE.UTF-8 not installed";
    const int first = rig.cycle(frame);
    const int second = rig.cycle("6d 0\n");
    std::setlocale(LC_ALL, "C");
    ASSERT_EQ(1, first);
    ASSERT_EQ(1, second);
    EXPECT_EQ((std::vector<int32_t>{500000, 50000}), fixedWordsAt(&rig.storage.tracker(2), 20, 2));
    EXPECT_EQ((std::vector<int32_t>{500, -250}), fixedWordsAt(&rig.storage.controller(1), 36, 2));
}

TEST(ZelostrelCycle, HostileFrameValuesStayInsideTheRecords) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"gripwands", "2"}}));
    // NaN and huge values, ids at and beyond the configured counts.
    ASSERT_EQ(1, rig.cycle("6df2 3 3 [0 nan 16 8][1e300 -1e300 nan]" + std::string(kIdentity) +
                           "[0xffff nan inf -inf 1e30 0 0 0 0] " + wand(1, 1.0, 16, 0x1, 0, "") + " " +
                           wand(2, 1.0, 16, 0xffff, 0, "") + "\n6d 1 [0 1.0][1e300 0 0][2 0 0 0 0 0 0 0 nan]\n"));
    EXPECT_EQ("", rig.cycleOutput);  // the frame parsed
    // Wand 0 has a NaN quality (not tracked), wand 2 is beyond the count;
    // wand 1 and the body are written, the body's infinite x as 0.
    EXPECT_EQ(0b110u, maskBits(rig.masks.trackerMask));
    EXPECT_EQ(0, fixedAt(&rig.storage.tracker(3), 20));
    EXPECT_EQ(3u, wordAt(&rig.storage.tracker(3), 0));
    ASSERT_EQ(1, rig.cycle("6d 0\n"));
    const ConData& c = rig.storage.controller(1);
    // NaN, infinity and a value beyond the fixed-point range are stored as 0.
    for (size_t offset : {36u, 40u, 48u}) EXPECT_EQ(0, fixedAt(&c, offset)) << offset;
    for (int b = 1; b <= 16; ++b) EXPECT_TRUE(pressed(c, b)) << b;
    EXPECT_TRUE(pressed(rig.storage.controller(2), 1));
    EXPECT_EQ(2u, rig.storage.area->controllerCount);
}

// ---------------------------------------------------------------------------
// Remote control against fake controllers on loopback
// ---------------------------------------------------------------------------

namespace {

// Plays the tracking system's controller on TCP port 50105 of one loopback
// address: records each NUL-terminated command and answers it with the next
// scripted answer, until the device closes the connection (or 5 s pass
// without a word).
class FakeTcpController {
public:
    ~FakeTcpController() {
        join();
        platform::closeServerSocket(connection_);
        platform::closeServerSocket(listener_);
    }
    // Tries a few loopback addresses, so parallel runs do not collide.
    bool listen() {
        std::mt19937 random(std::random_device{}());
        for (int attempt = 0; attempt < 20; ++attempt) {
            address_ = 0x7f000000u | (1u + random() % 0xfffffdu);
            uint16_t port = 50105;
            if (platform::tcpListen(listener_, address_, port) == 0) return true;
        }
        return false;
    }
    std::string host() const {
        return std::to_string(address_ >> 24) + "." + std::to_string((address_ >> 16) & 255) + "." +
               std::to_string((address_ >> 8) & 255) + "." + std::to_string(address_ & 255);
    }
    void serve(Texts answers) {
        thread_ = std::thread([this, answers] { run(answers); });
    }
    // Call after the device is gone.
    bool sawClose() {
        join();
        return closed_;
    }
    Texts commands() {
        join();
        return commands_;
    }

private:
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    void run(const Texts& answers) {
        bool ready = false;
        if (platform::waitReadable(&listener_, 1, &ready, 5000000) <= 0 ||
            platform::tcpAccept(listener_, connection_) != 0) {
            return;
        }
        std::string pending;
        size_t answered = 0;
        for (int rounds = 0; rounds < 100; ++rounds) {
            char buffer[512];
            if (platform::waitReadable(&connection_, 1, &ready, 5000000) <= 0) return;
            const int got = platform::streamReceive(connection_, buffer, sizeof buffer);
            closed_ = got == platform::kServerPeerClosed;
            if (got <= 0) return;
            pending.append(buffer, static_cast<size_t>(got));
            for (size_t end; (end = pending.find('\0')) != std::string::npos;) {
                commands_.push_back(pending.substr(0, end));
                pending.erase(0, end + 1);
                if (answered < answers.size()) {
                    const std::string& text = answers[answered++];
                    platform::streamSend(connection_, text.c_str(), text.size() + 1, 1000000);
                }
            }
        }
    }

    bool closed_ = false;
    platform::ServerSocket* listener_ = nullptr;
    platform::ServerSocket* connection_ = nullptr;
    uint32_t address_ = 0;
    std::thread thread_;
    Texts commands_;
};

}  // namespace

TEST(ZelostrelRemote, WithoutRemoteStartAndStopSendNothing) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({}));
    EXPECT_EQ("", capturedStdout([&] {
                  EXPECT_TRUE(rig.device->start());
                  EXPECT_TRUE(rig.device->stop());
              }));
    EXPECT_EQ(1, rig.device->check());
    zelostrel fresh(rig.lines.config(), &rig.log);
    EXPECT_EQ(1, fresh.check());  // before any configuration too
}

// Answered "ok", then with error answers: the commands in order, and the
// failures reported.
TEST(ZelostrelRemote, TcpStartAndStopWithTheirAnswers) {
    const struct {
        Texts answers;
        bool succeeds;
    } cases[] = {
        {{"ostrel2 ok", "ostrel2 ok"}, true},
        {{"ostrel2 err 12 \"not calibrated\"", "ostrel2 err 13 \"busy\""}, false},
    };
    for (const auto& c : cases) {
        FakeTcpController controller;
        if (!controller.listen()) GTEST_SKIP() << "no loopback address with port 50105 free";
        DeviceRig rig;
        const std::string host = controller.host();
        ASSERT_EQ(1, rig.configureQuietly({{"remote", host.c_str()}}));
        ASSERT_TRUE(rig.device->client->hasCommandConnection());
        controller.serve(c.answers);
        const std::string controllerName = "TRK: ERROR: zelostrel: Controller " + host + ":50105 answered error ";
        EXPECT_EQ(c.succeeds ? ""
                             : "TRK: ERROR: zelostrel: Start measurement failed.\n" + controllerName +
                                   "12: not calibrated.\nTRK: ERROR: zelostrel: Stop measurement failed.\n" +
                                   controllerName + "13: busy.\n",
                  capturedStdout([&] {
                      EXPECT_EQ(c.succeeds, rig.device->start());
                      EXPECT_EQ(c.succeeds, rig.device->stop());
                  }));
        if (!c.succeeds) {
            EXPECT_EQ(13, rig.device->client->lastRemoteErrorCode());
            EXPECT_STREQ("busy", rig.device->client->lastRemoteErrorText());
        }
        rig.device.reset();
        EXPECT_EQ((Texts{"ostrel2 tracking start", "ostrel2 tracking stop"}), controller.commands());
    }
}

TEST(ZelostrelRemote, DestroyingAMeasuringDeviceSendsNoStop) {
    FakeTcpController controller;
    if (!controller.listen()) GTEST_SKIP() << "no loopback address with port 50105 free";
    DeviceRig rig;
    const std::string host = controller.host();
    ASSERT_EQ(1, rig.configureQuietly({{"remote", host.c_str()}}));
    controller.serve({"ostrel2 ok"});
    EXPECT_TRUE(rig.device->start());
    rig.device.reset();  // what deleteDev does: no stop command
    EXPECT_TRUE(controller.sawClose());
    EXPECT_EQ(Texts{"ostrel2 tracking start"}, controller.commands());
}

TEST(ZelostrelRemote, UdpStartAndStopSendBothCommandsInOrder) {
    platform::ServerSocket* controller = nullptr;
    uint16_t port = 0;
    ASSERT_EQ(0, platform::udpBind(controller, kLoopback, port));
    DeviceRig rig;
    const std::string portText = std::to_string(port);
    ASSERT_EQ(1, rig.configureQuietly({{"remote", "127.0.0.1", portText.c_str()}}));
    EXPECT_EQ("", capturedStdout([&] {
                  EXPECT_TRUE(rig.device->start());
                  EXPECT_TRUE(rig.device->stop());
              }));
    Texts received;
    for (int i = 0; i < 4; ++i) {
        char buffer[64];
        uint16_t fromPort = 0;
        const int got = platform::udpReceiveFrom(controller, buffer, sizeof buffer, 1000000, nullptr, &fromPort);
        ASSERT_GT(got, 0);
        received.emplace_back(buffer, static_cast<size_t>(got));
        EXPECT_EQ(rig.dataPort, fromPort);  // sent from the data port
    }
    platform::closeServerSocket(controller);
    using namespace std::string_literals;
    EXPECT_EQ((Texts{"ostrel 10 3\0"s, "ostrel 31\0"s, "ostrel 32\0"s, "ostrel 10 0\0"s}), received);
}
