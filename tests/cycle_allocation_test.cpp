// The measurement cycle allocates nothing once its tables have grown:
// counted with a replaced global operator new over hundreds of real cycles
// (UDP frame on loopback, parse, convert, calibrate, map, emulate, write).
// The same operator new can refuse memory: the module fails, never throws.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "calib/con_common.h"
#include "device/device_config.h"
#include "device_rig.h"

// GCC cannot see that every operator new below is malloc-based.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
std::atomic<bool> refusing{false};
}  // namespace

void* operator new(std::size_t size) {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = refusing ? nullptr : std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    return refusing ? nullptr : std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

using namespace test_support;

namespace {

// Every kind of source the device reads, with calibration and mapping on.
std::string typicalFrame(int cycle) {
    char frame[2048];
    const double x = 100.0 + cycle % 50;
    std::snprintf(frame, sizeof frame,
                  "fr %d\nts %d.125\n6dcal 5\n"
                  "6d 2 [0 1.000][%.3f 1200.5 -300.25][0.8660254 0 -0.5 0 1 0 0.5 0 0.8660254] "
                  "[1 -1.000][0 0 0][1 0 0 0 1 0 0 0 1]\n"
                  "6df2 2 2 [0 1.000 16 2][%.3f 900 10][1 0 0 0 1 0 0 0 1][0x%x 0.5 -0.25] "
                  "[1 -1.000 12 0][0 0 0][1 0 0 0 1 0 0 0 1][0x3]\n"
                  "6dmt2 1 1 [0 1.000 4 2.5][10 20 30][1 0 0 0 0 1 0 -1 0][0x%x][0 0 0 0 0 0]\n"
                  "6di 1 [0 1 0.01][1 2 3][1 0 0 0 1 0 0 0 1]\n",
                  cycle, cycle, x, x, cycle & 0xffff, cycle & 0xf);
    return frame;
}

class CycleAllocation : public testing::Test {
protected:
    // Counted recvData calls, each with the next frame queued; frames are
    // made and sent outside the counted span.
    void run(DeviceRig& rig, int cycles) {
        std::string frames[4];
        for (int i = 0; i < 4; ++i) frames[i] = typicalFrame(i + 1);
        rig.send(frames[0]);
        ASSERT_EQ(1, rig.device->recvData(&rig.masks, 0));  // the first cycle grows the tables
        // The counter sees allocations made in this program.
        allocations = 0;
        counting = true;
        int* volatile probe = new int(1);  // volatile: the allocation cannot be elided
        delete probe;
        counting = false;
        ASSERT_EQ(1, allocations.load());
        allocations = 0;
        for (int i = 0; i < cycles; ++i) {
            rig.send(frames[i % 4]);
            counting = true;
            const int result = rig.device->recvData(&rig.masks, 0);
            counting = false;
            ASSERT_EQ(1, result);
        }
        EXPECT_EQ(0, allocations.load());
        EXPECT_NE(0u, rig.masks.trackerMask);  // the cycles did write
        EXPECT_NE(0u, rig.masks.controllerMask);
    }
};

}  // namespace

TEST_F(CycleAllocation, FullCycleAllocatesNothingAfterTheFirst) {
    DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"standardbodies", "2"},
                                        {"gripwands", "2"},
                                        {"measurementtools", "1"},
                                        {"sensoroffset", "3", "0", "0", "10", "cm"},
                                        {"transmitterrotation", "0", "1", "0", "30"},
                                        {"valuatorscale", "1", "[0.5,0,2,-1]", "all"},
                                        {"buttonorder", "1", "2", "1"},
                                        {"emulatetracker", "1", "[0,0,0,0,0,0]", "1", "2", "0", "0", "0", "0"}}));
    const DeviceConfig& config = *rig.lines.config();
    for (uint32_t i = 0; i < config.numLines; ++i) {
        EXPECT_EQ(1, config.lines[i].used) << config.lines[i].keyword;  // every option took effect
    }
    run(rig, 300);
}

TEST_F(CycleAllocation, DebugOutputAllocatesNothingEither) {
    DeviceRig rig;
    rig.log = CLogH();  // date, time and thread id in every line head, as a host would have them
    ASSERT_EQ(1, rig.configureQuietly({{"standardbodies", "2"}, {"gripwands", "2"}, {"measurementtools", "1"},
                                        {"debug", "60"}}));
    // The debug lines go to standard output; keep them out of the test log.
    testing::internal::CaptureStdout();
    run(rig, 200);
    testing::internal::GetCapturedStdout();
}

// Runs f with every allocation refused; true when it threw.
template <class F>
bool throwsWithoutMemory(F&& f) {
    refusing = true;
    bool threw = false;
    try {
        f();
    } catch (...) {
        threw = true;
    }
    refusing = false;
    return threw;
}

// Without memory a configuration text or a controller map is refused as a
// failure, not thrown out of the module.
TEST(AllocationFailure, IsReportedNotThrown) {
    ConfigLines lines;
    lines.add({"remote", "a-controller-name-longer-than-any-inline-text.example"});
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
