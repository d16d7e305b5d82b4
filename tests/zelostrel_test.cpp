// The device end to end: configuration through init, the measurement cycle
// with real UDP frames on loopback into real shared storage (records
// checked byte by byte), the information printout, and remote control
// against fake controllers on loopback.
#include "device/zelostrel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "calib/con_common.h"
#include "calib/tra_common.h"
#include "device_rig.h"
#include "link/ostrel_sdk.h"

using namespace test_support;

namespace {

std::string rigBody(int id, double quality, double x, double y = 0, double z = 0, const char* rot = kIdentity) {
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

std::string tool(int id, double quality, int buttons, unsigned buttonWord, double x = 0) {
    char text[200];
    std::snprintf(text, sizeof text, "[%d %.3f %d 2.5][%.3f 0 0]%s[0x%x][0 0 0 0 0 0]", id, quality, buttons, x,
                  kIdentity, buttonWord);
    return text;
}

bool pressed(const ConData& r, int button) {
    const auto* bits = reinterpret_cast<const unsigned char*>(&r) + 164;
    return (bits[(button - 1) / 8] >> ((button - 1) % 8)) & 1;
}

bool sameBytes(const TraData& a, const TraData& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

// ---------------------------------------------------------------------------
// Configuration
// ---------------------------------------------------------------------------

TEST(ZelostrelConfig, FaultyLinesAreAllReportedWithTheirNumbers) {
    DeviceRig rig;
    const int result = rig.configureQuietly({
        {"port", "1024"},                   // line 4
        {"remote", "ctrl", "80"},           // 5
        {"standardbodies", "-1"},           // 6
        {"gripwands", "17"},                // 7
        {"measurementtools", "99"},         // 8
        {"CAVECoordinates", "YES"},         // 9
        {"buffersize", "0"},                // 10
        {"debug"},                          // 11
        {"Port", "1"},                      // 12: not the device's keyword
        {"port", "65535"},                  // 13
    });
    EXPECT_EQ(-1, result);
    EXPECT_EQ(
        "TRK: ERROR: Invalid Port Number on Line 4.\n"
        "TRK: ERROR: Invalid Port Number on Line 5.\n"
        "TRK: ERROR: Invalid Number of Standard Bodies on Line 6.\n"
        "TRK: ERROR: Invalid Number of Gripwands on Line 7.\n"
        "TRK: ERROR: Invalid Number of Measurement Tools on Line 8.\n"
        "TRK: ERROR: Only CAVELib Coordinates supported on Line 9.\n"
        "TRK: ERROR: Invalid Buffer Size on Line 10.\n"
        "TRK: ERROR: Invalid Number of Arguments on Line 11.\n",
        rig.initOutput);
    const DeviceConfig& c = *rig.lines.config();
    EXPECT_EQ(1, c.lines[0].used);   // the rig's own port line
    EXPECT_EQ(0, c.lines[1].used);
    EXPECT_EQ(0, c.lines[8].used);
    EXPECT_EQ(1, c.lines[9].used);   // "Port": passes through, marked
    EXPECT_EQ(1, c.lines[10].used);
    EXPECT_EQ(65535, rig.device->dataPort);
    // Nothing was set up: no handler, no client, no storage records.
    EXPECT_FALSE(rig.device->modInfo->traHandler);
    EXPECT_FALSE(rig.device->modInfo->conHandler);
    EXPECT_FALSE(rig.device->client);
    EXPECT_EQ(0u, rig.storage.area->trackerCount);
    // Rejected counts were not taken over.
    EXPECT_EQ(1, rig.device->numStandardBodies);
    EXPECT_EQ(0u, rig.device->numGripwands);
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
    EXPECT_EQ(0u, controllers.controllerMap(3)->numValuators);
    EXPECT_EQ(16u, controllers.controllerMap(3)->numButtons);
    EXPECT_EQ(0u, controllers.controllerMap(4)->outputId);

    // The first standard body is local tracker 4, the tool tracker 3.
    ASSERT_EQ(1, rig.cycle("6d 1 " + rigBody(0, 1.0, 304.8) + "\n6dmt2 1 1 " + tool(0, 1.0, 4, 0, 609.6) + "\n"));
    EXPECT_EQ(100000, fixedAt(&rig.storage.tracker(4), 20));
    EXPECT_EQ(200000, fixedAt(&rig.storage.tracker(3), 20));
    EXPECT_EQ((1u << 3) | (1u << 2), maskBits(rig.masks.trackerMask));
}

TEST(ZelostrelConfig, ClientKindsFollowTheRemoteLine) {
    DeviceRig tcp;
    // Nobody listens on this loopback address: the TCP client stays without
    // a connection, but it is a TCP client to the default command port.
    ASSERT_EQ(1, tcp.configureQuietly({{"remote", "127.255.254.253"}, {"buffersize", "4096"}}));
    ASSERT_TRUE(tcp.device->client);
    EXPECT_EQ(RemoteKind::Tcp, tcp.device->client->remoteKind());
    EXPECT_EQ(50105, tcp.device->client->serverPort());
    EXPECT_EQ(4096, tcp.device->client->bufferSize());

    DeviceRig udp;
    ASSERT_EQ(1, udp.configureQuietly({{"remote", "127.0.0.1", "50105"}}));
    EXPECT_EQ(RemoteKind::Udp, udp.device->client->remoteKind());
    EXPECT_EQ(50105, udp.device->client->serverPort());
    EXPECT_EQ(32768, udp.device->client->bufferSize());

    DeviceRig sized;
    ASSERT_EQ(1, sized.configureQuietly({{"buffersize", "4096"}}));
    EXPECT_EQ(RemoteKind::None, sized.device->client->remoteKind());
    EXPECT_EQ(32768, sized.device->client->bufferSize());  // only with "remote"
    EXPECT_NE(std::string::npos, sized.initOutput.find("TRK: INFO: Ostrel BUFFERSIZE     : 4096\n"));
}

TEST(ZelostrelConfig, NullInitInfoTouchesNothing) {
    DeviceRig rig;
    rig.lines.add({"gripwands", "3"});
    zelostrel device(rig.lines.config(), &rig.log);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, device.init(nullptr));
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("Error: calling setInitInfo.\n", err);
    EXPECT_EQ("TRK: ERROR: Init info is empty.\n", out);
    EXPECT_FALSE(device.modInfo);
    EXPECT_EQ(0u, device.numGripwands);
    EXPECT_EQ(0, rig.lines.config()->lines[0].used);
    EXPECT_EQ(0u, device.maxTrackers);
    EXPECT_FALSE(device.client);
}

TEST(ZelostrelConfig, RepeatedInitRegistersAgainAndReplacesTheClient) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"standardbodies", "2"}}));
    const OstrelSDK* first = rig.device->client.get();
    InitInfo info = rig.storage.initInfo();
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, rig.device->init(&info));  // the same data port: the old socket went first
    testing::internal::GetCapturedStdout();
    EXPECT_NE(nullptr, rig.device->client.get());
    EXPECT_TRUE(rig.device->client->hasDataSocket());
    (void)first;
    EXPECT_EQ(4u, rig.storage.area->trackerCount);
    EXPECT_EQ(2u, rig.device->modInfo->traHandler->storageBase);
    ASSERT_EQ(1, rig.cycle("6d 1 " + rigBody(1, 1.0, 304.8) + "\n"));
    EXPECT_EQ(100000, fixedAt(&rig.storage.tracker(4), 20));
    EXPECT_EQ(1u << 3, maskBits(rig.masks.trackerMask));
}

TEST(ZelostrelConfig, DataPortInUseFailsAfterThePrintout) {
    DeviceRig holder;
    ASSERT_EQ(1, holder.configureQuietly({}));
    DeviceRig rig;
    rig.portText = holder.portText;
    EXPECT_EQ(-1, rig.configureQuietly({}));
    const std::string tail = "TRK: ERROR: zelostrel: Cannot Initialize OstrelSDK.\n";
    ASSERT_GE(rig.initOutput.size(), tail.size());
    EXPECT_EQ(tail, rig.initOutput.substr(rig.initOutput.size() - tail.size()));
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

std::string trackerReport(zelostrel& device) {
    testing::internal::CaptureStdout();
    device.modInfo->traHandler->printSettings(true);
    return testing::internal::GetCapturedStdout();
}

std::string controllerReport(zelostrel& device) {
    testing::internal::CaptureStdout();
    device.modInfo->conHandler->printReport();
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(ZelostrelPrintout, DefaultConfigurationBlock) {
    DeviceRig rig;
    ConfigLines none;  // no device keywords at all: the port too is the default
    zelostrel device(none.config(), &rig.log);
    InitInfo info = rig.storage.initInfo();
    testing::internal::CaptureStdout();
    const int result = device.init(&info);  // 5000 may be taken on this machine
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string block =
        "TRK: INFO: DEVICE NAME           : ostrel\n"
        "TRK: INFO: DEVICE TYPE           : zelostrel\n"
        "TRK: INFO: VERSION               : 5.8.3, Quellmark GmbH\n"
        "TRK: INFO: Ostrel STANDARD BODIES: 1\n"
        "TRK: INFO: Ostrel GRIPWANDS      : 0\n"
        "TRK: INFO: Ostrel MEASUREMENT TOOLS: 0\n"
        "TRK: INFO: Ostrel PORT           : 5000\n"
        "TRK: INFO: Ostrel REMOTE         :  0\n";
    const std::string expected = block + trackerReport(device) + "TRK: INFO: -----------------------\n";
    if (result == 1) {
        EXPECT_EQ(expected, out);
    } else {
        EXPECT_EQ(expected + "TRK: ERROR: zelostrel: Cannot Initialize OstrelSDK.\n", out);
    }
    // The host may print again at any time: the same block.
    testing::internal::CaptureStdout();
    EXPECT_TRUE(device.printInfo());
    EXPECT_EQ(expected, testing::internal::GetCapturedStdout());
}

TEST(ZelostrelPrintout, DebugBufferSizeAndTheReportsAtTheEnd) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"debug", "60"}, {"buffersize", "4096"}, {"gripwands", "1"}}));
    const std::string head =
        "TRK: INFO: DEVICE NAME           : ostrel\n"
        "TRK: INFO: DEVICE TYPE           : zelostrel\n"
        "TRK: INFO: VERSION               : 5.8.3, Quellmark GmbH\n"
        "TRK: INFO: Ostrel STANDARD BODIES: 1\n"
        "TRK: INFO: Ostrel GRIPWANDS      : 1\n"
        "TRK: INFO: Ostrel MEASUREMENT TOOLS: 0\n"
        "TRK: INFO: Ostrel PORT           : " +
        rig.portText +
        "\n"
        "TRK: INFO: Ostrel REMOTE         :  0\n"
        "TRK: INFO: Ostrel BUFFERSIZE     : 4096\n"
        "TRK: INFO: Ostrel DEBUG          : 0x3c\n";
    const std::string expected = head + controllerReport(*rig.device) + trackerReport(*rig.device) +
                                 "TRK: INFO: -----------------------\n";
    EXPECT_EQ(expected, rig.initOutput);
}

TEST(ZelostrelPrintout, RemoteLineShowsHostAndPort) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"remote", "127.0.0.1", "6000"}}));
    EXPECT_NE(std::string::npos, rig.initOutput.find("TRK: INFO: Ostrel REMOTE         : 127.0.0.1 6000\n"));
    EXPECT_EQ(std::string::npos, rig.initOutput.find("BUFFERSIZE"));
    EXPECT_EQ(std::string::npos, rig.initOutput.find("DEBUG"));
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
    ASSERT_EQ(1, rig.cycle("fr 7\n6d 3 " + rigBody(0, 0.0, 304.8, -609.6, 152.4, "[0 0 -1 0 1 0 1 0 0]") + " " +
                           rigBody(1, -1.0, 304.8) + " " + rigBody(2, 1.0, 304.8) + "\n"));
    const int64_t after = platform::readClock().seconds;
    EXPECT_EQ("", rig.cycleOutput);
    const TraData& r = rig.storage.tracker(1);
    EXPECT_EQ(1u, wordAt(&r, 0));
    EXPECT_EQ(0u, wordAt(&r, 4));
    EXPECT_GE(static_cast<int64_t>(wordAt(&r, 8)), before);
    EXPECT_LE(static_cast<int64_t>(wordAt(&r, 8)), after);
    EXPECT_EQ(0u, wordAt(&r, 16));
    EXPECT_EQ(100000, fixedAt(&r, 20));
    EXPECT_EQ(-200000, fixedAt(&r, 24));
    EXPECT_EQ(50000, fixedAt(&r, 28));
    EXPECT_NEAR(9000000, fixedAt(&r, 32), 1);  // azimuth 90
    EXPECT_EQ(0, fixedAt(&r, 36));
    EXPECT_EQ(0, fixedAt(&r, 40));
    EXPECT_TRUE(sameBytes(untouched2, rig.storage.tracker(2)));
    EXPECT_EQ(1u, maskBits(rig.masks.trackerMask));
    EXPECT_EQ(static_cast<int32_t>(wordAt(&r, 8)), r.stamp.seconds);
    EXPECT_EQ(uint32_t{r.stamp.milliseconds} * 1000u, wordAt(&r, 12));
}

TEST(ZelostrelCycle, InertialBodiesOnlyWhenTheBodyTableIsEmpty) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"gripwands", "1"}, {"measurementtools", "1"}}));
    const std::string inertial = "6di 1 [0 1 0.0][914.4 0 0]" + std::string(kIdentity) + "\n";
    ASSERT_EQ(1, rig.cycle("6d 0\n" + inertial));
    EXPECT_EQ(300000, fixedAt(&rig.storage.tracker(3), 20));  // local 1 + 1 + 0 + 1
    EXPECT_EQ(1u << 2, maskBits(rig.masks.trackerMask));

    // A body table that is not empty (here one unseen body) hides the inertial body.
    const TraData kept = rig.storage.tracker(3);
    ASSERT_EQ(1, rig.cycle("6d 1 " + rigBody(0, -1.0, 0) + "\n" +
                           "6di 1 [0 1 0.0][1828.8 0 0]" + std::string(kIdentity) + "\n"));
    EXPECT_TRUE(sameBytes(kept, rig.storage.tracker(3)));
    EXPECT_EQ(0u, rig.masks.trackerMask);
}

TEST(ZelostrelCycle, InertialStateZeroIsNotWritten) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({}));
    const TraData kept = rig.storage.tracker(1);
    ASSERT_EQ(1, rig.cycle("6di 2 [0 0 0.0][304.8 0 0]" + std::string(kIdentity) + " [1 1 0.0][304.8 0 0]" +
                           kIdentity + "\n"));
    EXPECT_TRUE(sameBytes(kept, rig.storage.tracker(1)));  // id 1 is beyond 1 standard body
    EXPECT_EQ(0u, rig.masks.trackerMask);
}

TEST(ZelostrelCycle, GripwandStatesReachTheNextCyclesControllerRecord) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"gripwands", "1"}, {"standardbodies", "0"}}));
    const TraData keptPose = rig.storage.tracker(1);
    // Untracked wand with button 1 pressed and the joystick pushed.
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, -1.0, 16, 0x1, 2, "0.5 -0.25") + "\n"));
    EXPECT_TRUE(sameBytes(keptPose, rig.storage.tracker(1)));  // no pose written
    EXPECT_EQ(0u, rig.masks.trackerMask);
    EXPECT_EQ(1u, maskBits(rig.masks.controllerMask));         // controller rewritten ...
    EXPECT_FALSE(pressed(rig.storage.controller(1), 1));        // ... with last cycle's states
    EXPECT_EQ(0, fixedAt(&rig.storage.controller(1), 36));

    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, 1.0, 16, 0x1, 2, "0.5 -0.25", 304.8) + "\n"));
    const ConData& c = rig.storage.controller(1);
    EXPECT_EQ(1u, wordAt(&c, 0));
    EXPECT_EQ(8u, wordAt(&c, 20));
    EXPECT_EQ(16u, wordAt(&c, 24));
    EXPECT_EQ(36u, wordAt(&c, 28));
    EXPECT_EQ(68u, wordAt(&c, 32));
    EXPECT_EQ(500, fixedAt(&c, 36));
    EXPECT_EQ(-250, fixedAt(&c, 40));
    EXPECT_TRUE(pressed(c, 1));
    EXPECT_FALSE(pressed(c, 2));
    EXPECT_EQ(100000, fixedAt(&rig.storage.tracker(1), 20));  // tracked now: pose written
    EXPECT_EQ(1u, maskBits(rig.masks.trackerMask));
}

TEST(ZelostrelCycle, TwelveButtonWandLeavesButtonsThirteenToSixteen) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"gripwands", "1"}}));
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, 1.0, 16, 0xffff, 0, "") + "\n"));
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, 1.0, 12, 0x0, 0, "") + "\n"));
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, 1.0, 12, 0x0, 0, "") + "\n"));
    const ConData& c = rig.storage.controller(1);
    for (int b = 1; b <= 12; ++b) EXPECT_FALSE(pressed(c, b)) << b;
    for (int b = 13; b <= 16; ++b) EXPECT_TRUE(pressed(c, b)) << b;
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
    EXPECT_EQ(0u, wordAt(&t0, 20));
    EXPECT_EQ(16u, wordAt(&t0, 24));
    EXPECT_EQ(36u, wordAt(&t0, 32));
    EXPECT_TRUE(pressed(t0, 1));
    EXPECT_FALSE(pressed(t0, 2));
    EXPECT_TRUE(pressed(t0, 3));
    EXPECT_TRUE(pressed(rig.storage.controller(3), 2));
    EXPECT_EQ(0b111u, maskBits(rig.masks.controllerMask));
}

TEST(ZelostrelCycle, ReceiveTimeoutWritesNoTrackerButRewritesControllers) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"gripwands", "1"}}));
    ASSERT_EQ(1, rig.cycle("6df2 1 1 " + wand(0, 1.0, 16, 0x3, 0, "") + "\n6d 1 " + rigBody(0, 1.0, 304.8) + "\n"));
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

TEST(ZelostrelCycle, ParserAndNetworkErrorsAreReported) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({}));
    const TraData kept = rig.storage.tracker(1);
    ASSERT_EQ(1, rig.cycle("fr 1\n6d 1 [0 1.0][304.8 0"));
    EXPECT_EQ("TRK: ERROR: zelostrel: UDP Parser Error\n", rig.cycleOutput);
    EXPECT_TRUE(sameBytes(kept, rig.storage.tracker(1)));
    ASSERT_EQ(1, rig.cycle(std::string()));  // an empty datagram
    EXPECT_EQ("TRK: ERROR: zelostrel: UDP Receive Error.\n", rig.cycleOutput);
    EXPECT_TRUE(sameBytes(kept, rig.storage.tracker(1)));
    EXPECT_EQ(0u, rig.masks.trackerMask);
}

TEST(ZelostrelCycle, DebugFlagsPrintTheirLines) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly(
                     {{"debug", "61"}, {"gripwands", "1"}, {"measurementtools", "1"}, {"standardbodies", "1"}}));
    const std::string frame = "6d 1 " + rigBody(0, 1.0, 304.8) + "\n6df2 1 1 " + wand(0, 1.0, 16, 0x1, 0, "", 609.6) +
                              "\n6dmt2 1 1 " + tool(0, 1.0, 4, 0x1, 914.4) + "\n";
    ASSERT_EQ(1, rig.cycle(frame));
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
}

TEST(ZelostrelCycle, InertialDebugLine) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"debug", "4"}}));
    ASSERT_EQ(1, rig.cycle("6di 1 [0 1 0.0][-304.8 0 0]" + std::string(kIdentity) + "\n"));
    EXPECT_EQ("TRK: INFO: zelostrel: Inertial Body 1 Loc -1.000 0.000 0.000 Ang 0.000 -0.000 0.000\n",
              rig.cycleOutput);
}

TEST(ZelostrelCycle, ControllerDebugLineWithoutWandsShowsZeros) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"debug", "32"}, {"measurementtools", "1"}}));
    ASSERT_EQ(1, rig.cycle("6d 0\n"));
    EXPECT_EQ("TRK: INFO: zelostrel: Controller grp 0 0 mea 0 0\n", rig.cycleOutput);
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
    testing::internal::CaptureStdout();
    EXPECT_FALSE(rig.device->start());
    EXPECT_FALSE(rig.device->stop());
    EXPECT_EQ("TRK: ERROR: zelostrel: Start measurement failed.\nTRK: ERROR: zelostrel: Stop measurement failed.\n",
              testing::internal::GetCapturedStdout());
}

TEST(ZelostrelCycle, GermanLocaleHostReadsFramesTheSame) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"gripwands", "1"}}));
    // Written before the switch: the frame text always has decimal points.
    const std::string frame =
        "6d 1 " + rigBody(0, 1.0, 1524.0, 152.4) + "\n6df2 1 1 " + wand(0, 1.0, 16, 0x0, 2, "0.5 -0.25") + "\n";
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "de_DE.UTF-8 not installed";
    const int first = rig.cycle(frame);
    const int second = rig.cycle("6d 0\n");
    std::setlocale(LC_ALL, "C");
    ASSERT_EQ(1, first);
    ASSERT_EQ(1, second);
    EXPECT_EQ(500000, fixedAt(&rig.storage.tracker(2), 20));
    EXPECT_EQ(50000, fixedAt(&rig.storage.tracker(2), 24));
    EXPECT_EQ(500, fixedAt(&rig.storage.controller(1), 36));
    EXPECT_EQ(-250, fixedAt(&rig.storage.controller(1), 40));
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
    EXPECT_EQ(0, fixedAt(&c, 36));  // NaN valuator stored as 0
    EXPECT_EQ(0, fixedAt(&c, 40));  // so is infinity
    EXPECT_EQ(0, fixedAt(&c, 48));  // and a value beyond the fixed-point range
    for (int b = 1; b <= 16; ++b) EXPECT_TRUE(pressed(c, b)) << b;
    EXPECT_TRUE(pressed(rig.storage.controller(2), 1));
    EXPECT_EQ(2u, rig.storage.area->controllerCount);
}

// ---------------------------------------------------------------------------
// Remote control against fake controllers on loopback
// ---------------------------------------------------------------------------

namespace {

// Plays the tracking system's controller on TCP port 50105 of one loopback
// address: answers each NUL-terminated command with the next scripted answer.
class FakeTcpController {
public:
    ~FakeTcpController() {
        if (thread_.joinable()) thread_.join();
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
    // untilClosed: after the last answer, go on reading until the device
    // closes the connection (recording anything it still sends).
    void serve(std::vector<std::string> answers, bool untilClosed = false) {
        thread_ = std::thread([this, answers, untilClosed] {
            run(answers);
            if (untilClosed) readUntilClosed();
        });
    }
    bool sawClose() {
        if (thread_.joinable()) thread_.join();
        return closed_;
    }
    std::vector<std::string> commands() {
        if (thread_.joinable()) thread_.join();
        return commands_;
    }

private:
    void run(const std::vector<std::string>& answers) {
        bool ready = false;
        if (platform::waitReadable(&listener_, 1, &ready, 5000000) <= 0 ||
            platform::tcpAccept(listener_, connection_) != 0) {
            return;
        }
        std::string pending;
        size_t answered = 0;
        for (int rounds = 0; rounds < 100 && answered < answers.size(); ++rounds) {
            if (platform::waitReadable(&connection_, 1, &ready, 5000000) <= 0) return;
            char buffer[512];
            const int got = platform::streamReceive(connection_, buffer, sizeof buffer);
            if (got <= 0) return;
            pending.append(buffer, static_cast<size_t>(got));
            size_t end;
            while ((end = pending.find('\0')) != std::string::npos && answered < answers.size()) {
                commands_.push_back(pending.substr(0, end));
                pending.erase(0, end + 1);
                const std::string& answer = answers[answered++];
                platform::streamSend(connection_, answer.c_str(), answer.size() + 1, 1000000);
            }
        }
    }

    void readUntilClosed() {
        bool ready = false;
        for (int rounds = 0; rounds < 100 && connection_ != nullptr; ++rounds) {
            if (platform::waitReadable(&connection_, 1, &ready, 5000000) <= 0) return;
            char buffer[512];
            const int got = platform::streamReceive(connection_, buffer, sizeof buffer);
            if (got == platform::kServerPeerClosed) {
                closed_ = true;
                return;
            }
            if (got < 0) return;
            commands_.emplace_back(buffer, static_cast<size_t>(got));
        }
    }

    bool closed_ = false;
    platform::ServerSocket* listener_ = nullptr;
    platform::ServerSocket* connection_ = nullptr;
    uint32_t address_ = 0;
    std::thread thread_;
    std::vector<std::string> commands_;
};

}  // namespace

TEST(ZelostrelRemote, WithoutRemoteStartAndStopSendNothing) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({}));
    testing::internal::CaptureStdout();
    EXPECT_TRUE(rig.device->start());
    EXPECT_TRUE(rig.device->stop());
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(1, rig.device->check());
    zelostrel fresh(rig.lines.config(), &rig.log);
    EXPECT_EQ(1, fresh.check());  // before any configuration too
}

TEST(ZelostrelRemote, TcpStartAndStopAnsweredOk) {
    FakeTcpController controller;
    if (!controller.listen()) GTEST_SKIP() << "no loopback address with port 50105 free";
    DeviceRig rig;
    const std::string host = controller.host();
    ASSERT_EQ(1, rig.configureQuietly({{"remote", host.c_str()}}));
    ASSERT_TRUE(rig.device->client->hasCommandConnection());
    controller.serve({"ostrel2 ok", "ostrel2 ok"});
    testing::internal::CaptureStdout();
    EXPECT_TRUE(rig.device->start());
    EXPECT_TRUE(rig.device->stop());
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ((std::vector<std::string>{"ostrel2 tracking start", "ostrel2 tracking stop"}), controller.commands());
}

TEST(ZelostrelRemote, DestroyingAMeasuringDeviceSendsNoStop) {
    FakeTcpController controller;
    if (!controller.listen()) GTEST_SKIP() << "no loopback address with port 50105 free";
    DeviceRig rig;
    const std::string host = controller.host();
    ASSERT_EQ(1, rig.configureQuietly({{"remote", host.c_str()}}));
    controller.serve({"ostrel2 ok"}, true);
    EXPECT_TRUE(rig.device->start());
    rig.device.reset();  // what deleteDev does
    EXPECT_TRUE(controller.sawClose());
    EXPECT_EQ(std::vector<std::string>{"ostrel2 tracking start"}, controller.commands());
}

TEST(ZelostrelRemote, TcpErrorAnswerFailsStartAndStop) {
    FakeTcpController controller;
    if (!controller.listen()) GTEST_SKIP() << "no loopback address with port 50105 free";
    DeviceRig rig;
    const std::string host = controller.host();
    ASSERT_EQ(1, rig.configureQuietly({{"remote", host.c_str()}}));
    controller.serve({"ostrel2 err 12 \"not calibrated\"", "ostrel2 err 13 \"busy\""});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(rig.device->start());
    EXPECT_FALSE(rig.device->stop());
    EXPECT_EQ("TRK: ERROR: zelostrel: Start measurement failed.\nTRK: ERROR: zelostrel: Stop measurement failed.\n",
              testing::internal::GetCapturedStdout());
    EXPECT_EQ(13, rig.device->client->lastRemoteErrorCode());
    EXPECT_STREQ("busy", rig.device->client->lastRemoteErrorText());
    EXPECT_EQ(2u, controller.commands().size());
}

TEST(ZelostrelRemote, UdpStartAndStopSendBothCommandsInOrder) {
    platform::ServerSocket* controller = nullptr;
    uint16_t port = 0;
    ASSERT_EQ(0, platform::udpBind(controller, kLoopback, port));
    DeviceRig rig;
    const std::string portText = std::to_string(port);
    ASSERT_EQ(1, rig.configureQuietly({{"remote", "127.0.0.1", portText.c_str()}}));
    testing::internal::CaptureStdout();
    EXPECT_TRUE(rig.device->start());
    EXPECT_TRUE(rig.device->stop());
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    std::vector<std::string> received;
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
    EXPECT_EQ((std::vector<std::string>{"ostrel 10 3\0"s, "ostrel 31\0"s, "ostrel 32\0"s, "ostrel 10 0\0"s}),
              received);
}
