// The cycle allocates nothing once its tables have grown (a replaced operator new counts); out of memory it fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "calib/con_common.h"
#include "device/device_config.h"
#include "tests/support/allocations.h"
#include "tests/support/device_rig.h"

using namespace test_support;

namespace {

// Every kind of source the device reads, with tables that shrink and grow again from frame to frame.
std::string frame(int cycle) {
    char text[1024];
    const int wands = 1 + cycle % 2;
    std::snprintf(
        text, sizeof text,
        "fr %d\nts %d.125\n6dcal %d\n6d 2 [0 1.000][%d 1200.5 -300.25][0.8660254 0 -0.5 0 1 0 0.5 0 0.8660254] "
        "[1 -1.000][0 0 0][1 0 0 0 1 0 0 0 1]\n6df2 %d 2 [0 1.000 16 2][%d 900 10][1 0 0 0 1 0 0 0 1][%d 0.5 -0.25] "
        "[1 -1.000 12 0][0 0 0][1 0 0 0 1 0 0 0 1][3]\n6dmt2 1 1 [0 1.000 4 2.5][10 20 30][1 0 0 0 0 1 0 -1 0][%d][0 0 "
        "0 0 0 0]\n"
        "6di 1 [0 1 0.01][1 2 3][1 0 0 0 1 0 0 0 1]\n6dmtr %d 0\n6dj %d 0\ngl 1 [%d 1 0 0][1 1 1][1 0 0 0 1 0 0 0 "
        "1]\n3d %d%s\n",
        cycle, cycle, 5 + cycle % 3, 100 + cycle % 50, wands + 1, 100 + cycle, cycle & 0xffff, cycle & 0xf, wands,
        wands, cycle % 3, cycle % 2, cycle % 2 ? " [1 1][1 2 3]" : "");
    return text;
}

}  // namespace

TEST(CycleAllocation, AFullCycleAllocatesNothingAfterTheFirst) {
    DeviceRig rig;
    rig.log = CLogH();  // date, time and thread id in every line's head, as a host has them
    ASSERT_EQ(1, rig.configure({{"standardbodies", "2"},
                                {"gripwands", "2"},
                                {"measurementtools", "1"},
                                {"debug", "61"},
                                {"sensoroffset", "3", "0", "0", "10", "cm"},
                                {"transmitterrotation", "0", "1", "0", "30"},
                                {"calibration", CALIB_ADD_ONE_PATH},
                                {"valuatorscale", "1", "[0.5,0,2,-1]", "all"},
                                {"buttonorder", "1", "2", "1"},
                                {"emulatetracker", "1", "[0,0,0,0,0,0]", "1", "2", "0", "0", "0", "0"}}));
    EXPECT_EQ(std::vector<int>(11, 1), rig.lines.used()) << "every option took effect";
    const std::string frames[] = {frame(1), frame(2), frame(3), frame(4)};
    for (int i = 0; i < 4; ++i) ASSERT_EQ(1, rig.cycle(frames[i])) << "the first cycles grow the tables";
    long counted = 0;
    {
        AllocationCount allocations;
        int* volatile probe = new int(1);  // the counter sees this program's allocations
        delete probe;
        counted = allocations.count();
    }
    ASSERT_EQ(1, counted);
    testing::internal::CaptureStdout();  // the debug lines
    for (int i = 0; i < 300; ++i) {
        rig.send(frames[i % 4]);
        AllocationCount allocations;
        ASSERT_EQ(1, rig.device->recvData(&rig.masks, 0));
        counted += allocations.count();
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(1, counted);
    EXPECT_EQ(std::string::npos, out.find("Error")) << out.substr(0, 500);
    EXPECT_EQ(0b101101u, maskBits(rig.masks.trackerMask)) << "wand 1, the tool, body 1 and the emulated tracker";
    EXPECT_EQ(0b111u, maskBits(rig.masks.controllerMask));
}

// Without memory a configuration text or a controller map is refused as a failure, not thrown out of the module.
TEST(CycleAllocation, WithoutMemoryTheModuleFailsAndNeverThrows) {
    ConfigLines lines{{"remote", "a-controller-name-longer-than-any-inline-text.example"}};
    device_config::DeviceFields fields;
    device_config::KeywordReport report;
    EXPECT_FALSE(throwsWithoutMemory([&] { report = device_config::readDeviceKeywords(*lines.config(), fields); }));
    ASSERT_EQ(1u, report.faultCount);
    EXPECT_STREQ("Out of memory on Line %d.\n", device_config::faultFormat(report.faults[0].fault));
    EXPECT_FALSE(fields.remoteControl);
    CConCommonH handler;
    bool made = true;
    EXPECT_FALSE(throwsWithoutMemory([&] { made = handler.init(32, true); }));
    EXPECT_FALSE(made);
    ASSERT_TRUE(handler.init(32, true));
    EXPECT_FALSE(throwsWithoutMemory([&] { made = handler.setEmulation(1, 0, nullptr, nullptr, 0); }));
    EXPECT_FALSE(made);
}
