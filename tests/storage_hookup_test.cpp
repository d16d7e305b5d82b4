// The framework's storage hook-up against real shared storage: records
// registered behind other modules' records, written byte-exactly under the
// inter-process mutex, with update masks, mapping and tracker emulation.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <string>
#include <thread>

#include "calib/con_common.h"
#include "calib/tra_common.h"
#include "framework/base.h"
#include "shared_storage_fixture.h"

using test_support::fixedAt;
using test_support::maskBits;
using test_support::SharedStorage;
using test_support::wordAt;

namespace {

class Lines {
public:
    Lines() { config_.name = "unit"; }
    Lines& add(std::initializer_list<const char*> words) {
        ConfigLine& line = config_.lines[config_.numLines];
        line.lineNumber = static_cast<int32_t>(++config_.numLines) * 10;
        auto word = words.begin();
        line.keyword = *word++;
        for (; word != words.end(); ++word) line.args[line.argCount++] = *word;
        return *this;
    }
    DeviceConfig* config() { return &config_; }

private:
    DeviceConfig config_{};
};

CLogH moduleLogger() {
    CLogH log;
    log.showDate = log.showTime = log.showThreadId = 0;
    log.setName("dev");
    return log;
}

// The smallest module: the set-up sequence a device runs in its configure.
class TestModule : public CBaseMod {
public:
    explicit TestModule(DeviceConfig* config) : CBaseMod(config, &log_) {}
    int init(InitInfo*) override { return 1; }
    bool start() override { return true; }
    int check() override { return 1; }
    bool stop() override { return true; }
    bool printInfo() override { return printTail(); }
    int updateTrackers() override { return 1; }
    int updateControllers() override { return 1; }

    bool setUp(InitInfo info, uint32_t trackers, uint32_t controllers, uint32_t valuators = 8,
               uint32_t buttons = 16) {
        if (setInitInfo(&info) == 0) return false;
        maxTrackers = maxControllers = 32;
        numTrackers = trackers;
        numControllers = controllers;
        if (!createHandlers()) return false;
        for (uint32_t t = 1; t <= trackers; ++t) registerTracker(t, t);
        for (uint32_t c = 1; c <= controllers; ++c) registerController(c, c, valuators, buttons);
        return buildStorageLists();
    }
    bool writePose(uint32_t local, float x, float y, float z, float azim, float elev, float roll) {
        const float position[3] = {x, y, z};
        const float orientation[3] = {azim, elev, roll};
        return writeTrackerData(local, position, orientation);
    }
    void useMasks(UpdateMasks* masks) { modInfo->updateMasks = masks; }

private:
    static inline CLogH log_ = moduleLogger();
};

struct Captured {
    bool result;
    std::string out;
};

template <class F>
Captured capture(F f) {
    testing::internal::CaptureStdout();
    bool result = f();
    return {result, testing::internal::GetCapturedStdout()};
}

// Time words and stamp come from one clock reading taken during the write.
void expectTimeOf(const void* record, size_t stampOffset, int64_t before, int64_t after) {
    const uint32_t seconds = wordAt(record, 8);
    EXPECT_GE(static_cast<int64_t>(seconds), before);
    EXPECT_LE(static_cast<int64_t>(seconds), after);
    TimeStampBlock stamp;
    std::memcpy(&stamp, static_cast<const char*>(record) + stampOffset, sizeof stamp);
    EXPECT_EQ(static_cast<int32_t>(seconds), stamp.seconds);
    EXPECT_EQ(uint32_t{stamp.milliseconds} * 1000u, wordAt(record, 12));
    EXPECT_LT(stamp.milliseconds, 1000);
}

int64_t now() { return platform::readClock().seconds; }

}  // namespace

TEST(StorageHookup, MissingStoragesFailTheSetUp) {
    SharedStorage storage;
    Lines lines;
    TestModule module(lines.config());
    InitInfo info = storage.initInfo();
    info.controllerStorage = nullptr;
    Captured c = capture([&] { return module.setUp(info, 1, 1); });
    EXPECT_FALSE(c.result);
    EXPECT_EQ("dev: ERROR: Controller data storage pointer is empty.\n", c.out);
    EXPECT_FALSE(module.modInfo->traHandler);  // failed before the tracker handler

    TestModule second(lines.config());
    info = storage.initInfo();
    info.trackerStorage = nullptr;
    c = capture([&] { return second.setUp(info, 1, 1); });
    EXPECT_FALSE(c.result);
    EXPECT_EQ("dev: ERROR: Tracker data storage pointer is empty.\n", c.out);
    EXPECT_TRUE(second.modInfo->conHandler);  // the controller handler stays
    EXPECT_EQ(0u, storage.area->trackerCount);
    EXPECT_EQ(0u, storage.area->controllerCount);
}

TEST(StorageHookup, ModuleWithoutRecordsMakesNoHandlers) {
    SharedStorage storage;
    Lines lines;
    TestModule module(lines.config());
    ASSERT_TRUE(module.setUp(storage.initInfo(), 0, 0));
    EXPECT_FALSE(module.modInfo->traHandler);
    EXPECT_FALSE(module.modInfo->conHandler);
    EXPECT_EQ(0u, storage.area->trackerCount);
    // Without a tracker handler any local number is accepted and nothing lands.
    const TraData before = storage.tracker(1);
    EXPECT_TRUE(module.writePose(5, 1, 2, 3, 4, 5, 6));
    EXPECT_EQ(0, std::memcmp(&before, &storage.tracker(1), sizeof before));
    UpdateMasks masks{0xdeadbeef, 0xfeedf00d};
    EXPECT_EQ(1, module.recvData(&masks, 0));
    EXPECT_EQ(0xdeadbeefu, masks.trackerMask);  // masks of absent kinds untouched
}

TEST(StorageHookup, ZeroLocalNumbersAreRefused) {
    SharedStorage storage;
    Lines lines;
    TestModule module(lines.config());
    ASSERT_TRUE(module.setUp(storage.initInfo(), 1, 1));
    Captured c = capture([&] { return module.writePose(0, 1, 2, 3, 4, 5, 6); });
    EXPECT_FALSE(c.result);
    EXPECT_EQ("dev: ERROR: ID of TraData is zero.\n", c.out);
    const float v[8] = {};
    const int32_t b[16] = {};
    c = capture([&] { return module.writeControllerData(0, 8, 16, v, b); });
    EXPECT_FALSE(c.result);
    EXPECT_EQ("dev: ERROR: ID of ConData is zero.\n", c.out);
}

TEST(StorageHookup, TrackerRecordBehindEarlierRecordsIsByteExact) {
    SharedStorage storage;
    storage.area->trackerCount = 3;  // three records of earlier modules
    Lines lines;
    TestModule module(lines.config());
    ASSERT_TRUE(module.setUp(storage.initInfo(), 2, 0));
    EXPECT_EQ(5u, storage.area->trackerCount);
    EXPECT_EQ(3u, module.modInfo->traHandler->storageBase);

    UpdateMasks masks{0, 0};
    module.useMasks(&masks);
    const int64_t before = now();
    ASSERT_TRUE(module.writePose(1, 1.5f, -2.25f, -0.0000099f, 90.0f, -45.5f, 180.0f));
    const int64_t after = now();
    const TraData& r = storage.tracker(4);
    EXPECT_EQ(4u, wordAt(&r, 0));
    EXPECT_EQ(0u, wordAt(&r, 4));
    EXPECT_EQ(0u, wordAt(&r, 16));
    const unsigned char x[4] = {0x00, 0x02, 0x49, 0xF0};  // 150000
    EXPECT_EQ(0, std::memcmp(x, reinterpret_cast<const unsigned char*>(&r) + 20, 4));
    EXPECT_EQ(-225000, fixedAt(&r, 24));
    EXPECT_EQ(0, fixedAt(&r, 28));  // truncated toward zero
    EXPECT_EQ(9000000, fixedAt(&r, 32));
    EXPECT_EQ(-4550000, fixedAt(&r, 36));
    EXPECT_EQ(18000000, fixedAt(&r, 40));
    expectTimeOf(&r, 44, before, after);
    EXPECT_EQ(uint32_t{1} << 3, maskBits(masks.trackerMask));
    const unsigned char maskBytes[4] = {0, 0, 0, 0x08};
    EXPECT_EQ(0, std::memcmp(maskBytes, &masks.trackerMask, 4));
    EXPECT_EQ(0u, masks.controllerMask);
}

TEST(StorageHookup, SecondModuleNumbersBehindTheFirst) {
    SharedStorage storage;
    Lines lines;
    TestModule first(lines.config());
    TestModule second(lines.config());
    ASSERT_TRUE(first.setUp(storage.initInfo(), 2, 1));
    ASSERT_TRUE(second.setUp(storage.initInfo(), 3, 2));
    EXPECT_EQ(5u, storage.area->trackerCount);
    EXPECT_EQ(3u, storage.area->controllerCount);
    EXPECT_EQ(2u, second.modInfo->traHandler->storageBase);
    EXPECT_EQ(1u, second.modInfo->conHandler->controllerBase);

    UpdateMasks masks{0, 0};
    second.useMasks(&masks);
    ASSERT_TRUE(second.writePose(1, 1, 0, 0, 0, 0, 0));
    ASSERT_TRUE(second.writePose(3, 3, 0, 0, 0, 0, 0));
    const float v[8] = {};
    const int32_t b[16] = {1};
    ASSERT_TRUE(second.writeControllerData(2, 8, 16, v, b));
    EXPECT_EQ(3u, wordAt(&storage.tracker(3), 0));
    EXPECT_EQ(100000, fixedAt(&storage.tracker(3), 20));
    EXPECT_EQ(300000, fixedAt(&storage.tracker(5), 20));
    EXPECT_EQ(3u, wordAt(&storage.controller(3), 0));
    EXPECT_EQ((1u << 2) | (1u << 4), maskBits(masks.trackerMask));
    EXPECT_EQ(1u << 2, maskBits(masks.controllerMask));

    ASSERT_TRUE(first.writePose(2, 2, 0, 0, 0, 0, 0));
    EXPECT_EQ(200000, fixedAt(&storage.tracker(2), 20));
    EXPECT_EQ(100000, fixedAt(&storage.tracker(3), 20));  // the second module's record stays
}

TEST(StorageHookup, StorageListFullFailsTheSetUp) {
    SharedStorage storage;
    storage.area->trackerCount = 31;
    Lines lines;
    TestModule module(lines.config());
    Captured c = capture([&] { return module.setUp(storage.initInfo(), 2, 0); });
    EXPECT_FALSE(c.result);
    EXPECT_EQ("HOST: ERROR: CDataStorage: The new number is too big.\n", c.out);
    EXPECT_EQ(31u, storage.area->trackerCount);
}

TEST(StorageHookup, ControllerRecordIsByteExact) {
    SharedStorage storage;
    Lines lines;
    TestModule module(lines.config());
    ASSERT_TRUE(module.setUp(storage.initInfo(), 0, 2));
    UpdateMasks masks{0, 0};
    module.useMasks(&masks);
    const float valuators[8] = {0.5f, -1.25f, 0.0015f, 0, 0, 0, 0, 2.0f};
    const int32_t buttons[16] = {1, 0, -1, 2, 0, 0, 0, 0, 1};
    const int64_t before = now();
    ASSERT_TRUE(module.writeControllerData(2, 8, 16, valuators, buttons));
    const int64_t after = now();
    const ConData& r = storage.controller(2);
    EXPECT_EQ(2u, wordAt(&r, 0));
    EXPECT_EQ(0u, wordAt(&r, 4));
    EXPECT_EQ(0u, wordAt(&r, 16));
    EXPECT_EQ(8u, wordAt(&r, 20));
    EXPECT_EQ(16u, wordAt(&r, 24));
    EXPECT_EQ(36u, wordAt(&r, 28));
    EXPECT_EQ(68u, wordAt(&r, 32));
    EXPECT_EQ(500, fixedAt(&r, 36));
    EXPECT_EQ(-1250, fixedAt(&r, 40));
    EXPECT_EQ(1, fixedAt(&r, 44));
    EXPECT_EQ(2000, fixedAt(&r, 64));
    for (size_t k = 9; k <= 32; ++k) EXPECT_EQ(0, fixedAt(&r, 32 + 4 * k)) << k;
    const unsigned char bits[4] = {0x09, 0x01, 0x00, 0x00};  // buttons 1, 4, 9
    EXPECT_EQ(0, std::memcmp(bits, reinterpret_cast<const unsigned char*>(&r) + 164, 4));
    uint32_t byteCount;
    std::memcpy(&byteCount, reinterpret_cast<const unsigned char*>(&r) + 168, 4);
    EXPECT_EQ(4u, byteCount);  // host byte order
    expectTimeOf(&r, 172, before, after);
    EXPECT_EQ(1u << 1, maskBits(masks.controllerMask));
    EXPECT_EQ(0u, masks.trackerMask);

    // A tool: no valuators, the buttons start right after the offsets.
    ASSERT_TRUE(module.writeControllerData(1, 0, 16, nullptr, buttons));
    EXPECT_EQ(0u, wordAt(&storage.controller(1), 20));
    EXPECT_EQ(36u, wordAt(&storage.controller(1), 32));
}

TEST(StorageHookup, MappingOptionsReorderValuatorsAndButtons) {
    SharedStorage storage;
    Lines lines;
    lines.add({"valuatororder", "1", "3", "0", "1"});
    lines.add({"buttonorder", "1", "2", "1"});
    lines.add({"valuatorscale", "1", "2", "all"});
    TestModule module(lines.config());
    ASSERT_TRUE(module.setUp(storage.initInfo(), 0, 1));
    EXPECT_EQ(1, lines.config()->lines[0].used);
    const float valuators[8] = {1.0f, 2.0f, 3.0f, 4.0f};
    const int32_t buttons[16] = {1, 0};
    ASSERT_TRUE(module.writeControllerData(1, 8, 16, valuators, buttons));
    const ConData& r = storage.controller(1);
    EXPECT_EQ(6000, fixedAt(&r, 36));  // output 1: own 3, doubled
    EXPECT_EQ(0, fixedAt(&r, 40));     // output 2 left empty
    EXPECT_EQ(2000, fixedAt(&r, 44));  // output 3: own 1, doubled
    EXPECT_EQ(0, fixedAt(&r, 48));     // own 4 dropped
    EXPECT_EQ(0x02, reinterpret_cast<const unsigned char*>(&r)[164]);  // own button 1 at output 2
}

TEST(StorageHookup, EmulationStartsAtItsInitialPoseAndIntegrates) {
    static double clockSeconds = 1700000000.0;
    struct FakeClock {
        static platform::ClockReading read() noexcept {
            platform::ClockReading r{};
            r.seconds = static_cast<int64_t>(clockSeconds);
            r.milliseconds = static_cast<uint16_t>((clockSeconds - static_cast<double>(r.seconds)) * 1000.0 + 0.5);
            return r;
        }
    };
    SharedStorage storage;
    storage.area->trackerCount = 1;
    Lines lines;
    lines.add({"emulatetracker", "2", "[1,2,3,10,20,30]", "1", "2", "0", "0", "0", "0", "3"});
    TestModule module(lines.config());
    ASSERT_TRUE(module.setUp(storage.initInfo(), 2, 2));
    EXPECT_EQ(1u, module.numTrackerEmulations);
    EXPECT_EQ(4u, storage.area->trackerCount);  // 1 earlier + 2 own + 1 emulated
    const TraData& e = storage.tracker(4);
    EXPECT_EQ(4u, wordAt(&e, 0));
    EXPECT_EQ(100000, fixedAt(&e, 20));
    EXPECT_EQ(200000, fixedAt(&e, 24));
    EXPECT_EQ(300000, fixedAt(&e, 28));
    EXPECT_EQ(1000000, fixedAt(&e, 32));
    EXPECT_EQ(2000000, fixedAt(&e, 36));
    EXPECT_EQ(3000000, fixedAt(&e, 40));

    module.modInfo->conHandler->setClockSource(&FakeClock::read);
    UpdateMasks masks{0, 0};
    module.useMasks(&masks);
    const float rates[8] = {0.5f, -1.0f};
    int32_t buttons[16] = {};
    ASSERT_TRUE(module.writeControllerData(2, 8, 16, rates, buttons));  // first write: reset
    EXPECT_EQ(100000, fixedAt(&e, 20));
    EXPECT_EQ(1u << 3, maskBits(masks.trackerMask));
    EXPECT_EQ(1u << 1, maskBits(masks.controllerMask));
    // The emulated record carries the controller record's time words.
    EXPECT_EQ(wordAt(&storage.controller(2), 8), wordAt(&e, 8));
    EXPECT_EQ(wordAt(&storage.controller(2), 12), wordAt(&e, 12));

    clockSeconds += 0.2;
    ASSERT_TRUE(module.writeControllerData(2, 8, 16, rates, buttons));
    EXPECT_NEAR(110000, fixedAt(&e, 20), 2);
    EXPECT_NEAR(180000, fixedAt(&e, 24), 2);
    EXPECT_EQ(300000, fixedAt(&e, 28));

    buttons[2] = 1;  // the reset button
    clockSeconds += 0.2;
    ASSERT_TRUE(module.writeControllerData(2, 8, 16, rates, buttons));
    EXPECT_EQ(100000, fixedAt(&e, 20));
    EXPECT_EQ(200000, fixedAt(&e, 24));
}

TEST(StorageHookup, EmulationOnlyModuleGetsATrackerHandler) {
    SharedStorage storage;
    Lines lines;
    lines.add({"emulatetracker", "1", "[0.5]", "1", "0", "0", "0", "0", "0"});
    TestModule module(lines.config());
    ASSERT_TRUE(module.setUp(storage.initInfo(), 0, 1));
    ASSERT_TRUE(module.modInfo->traHandler);
    EXPECT_EQ(1u, storage.area->trackerCount);
    EXPECT_EQ(1u, wordAt(&storage.tracker(1), 0));
    EXPECT_EQ(50000, fixedAt(&storage.tracker(1), 20));
}

TEST(StorageHookup, RepeatedSetUpCountsEmulationsAfresh) {
    SharedStorage storage;
    Lines lines;
    lines.add({"emulatetracker", "1", "[0.5]", "1", "0", "0", "0", "0", "0"});
    TestModule module(lines.config());
    ASSERT_TRUE(module.setUp(storage.initInfo(), 0, 1));
    EXPECT_EQ(1u, module.numTrackerEmulations);
    // Configured again without controllers: no emulation is left over.
    Captured c = capture([&] { return module.setUp(storage.initInfo(), 1, 0); });
    EXPECT_TRUE(c.result);
    EXPECT_EQ("", c.out);
    EXPECT_EQ(0u, module.numTrackerEmulations);
    EXPECT_EQ(2u, storage.area->trackerCount);  // behind the first set-up's record
    EXPECT_EQ(1u, module.modInfo->traHandler->storageBase);
}

TEST(StorageHookup, FailingCalibrationLibraryWritesNothing) {
    SharedStorage storage;
    Lines lines;
    lines.add({"calibration", "/nonexistent/libno_such_calibration.so"});
    TestModule module(lines.config());
    testing::internal::CaptureStdout();
    ASSERT_TRUE(module.setUp(storage.initInfo(), 1, 0));
    testing::internal::GetCapturedStdout();
    UpdateMasks masks{0, 0};
    module.useMasks(&masks);
    const TraData before = storage.tracker(1);
    Captured c = capture([&] { return module.writePose(1, 1, 2, 3, 4, 5, 6); });
    EXPECT_FALSE(c.result);
    EXPECT_EQ(0, std::memcmp(&before, &storage.tracker(1), sizeof before));
    EXPECT_EQ(0u, masks.trackerMask);
}

TEST(StorageHookup, LocalNumbersWithoutSlotsAreNotFound) {
    SharedStorage storage;
    storage.area->trackerCount = 3;
    storage.area->controllerCount = 3;
    Lines lines;
    TestModule module(lines.config());
    ASSERT_TRUE(module.setUp(storage.initInfo(), 2, 1));
    UpdateMasks masks{0, 0};
    module.useMasks(&masks);
    test_support::SharedArea before;
    std::memcpy(&before, storage.area, sizeof before);

    // Beyond the handler's 32 slots, and a slot without an output position
    // (it must not land on record 3 of the earlier module).
    for (uint32_t local : {3u, 32u, 33u, 4000000000u}) {
        Captured c = capture([&] { return module.writePose(local, 1, 2, 3, 4, 5, 6); });
        EXPECT_FALSE(c.result) << local;
        EXPECT_EQ("dev: ERROR: TraData storage not found\n", c.out) << local;
    }
    const float v[8] = {};
    const int32_t b[16] = {1};
    for (uint32_t local : {2u, 32u, 33u, 4000000000u}) {
        Captured c = capture([&] { return module.writeControllerData(local, 8, 16, v, b); });
        EXPECT_FALSE(c.result) << local;
        EXPECT_EQ("dev: ERROR: ConData storage not found\n", c.out) << local;
    }
    EXPECT_EQ(0, std::memcmp(&before.trackers, storage.area->trackers, sizeof before.trackers));
    EXPECT_EQ(0, std::memcmp(&before.controllers, storage.area->controllers, sizeof before.controllers));
    EXPECT_EQ(0u, masks.trackerMask);
    EXPECT_EQ(0u, masks.controllerMask);
}

TEST(StorageHookup, WriteWaitsForTheStorageLock) {
    SharedStorage storage;
    Lines lines;
    TestModule module(lines.config());
    ASSERT_TRUE(module.setUp(storage.initInfo(), 1, 0));
    ASSERT_TRUE(storage.trackerStorage.lock());  // a reader holds the list
    std::atomic<bool> written{false};
    std::thread writer([&] {
        module.writePose(1, 7, 0, 0, 0, 0, 0);
        written = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(written.load());
    EXPECT_EQ(0, fixedAt(&storage.tracker(1), 20));  // nothing torn in while held
    ASSERT_TRUE(storage.trackerStorage.unlock());
    writer.join();
    EXPECT_TRUE(written.load());
    EXPECT_EQ(700000, fixedAt(&storage.tracker(1), 20));
}

TEST(StorageHookup, PrintTailReportsBothHandlersThenTheRule) {
    SharedStorage storage;
    Lines lines;
    TestModule module(lines.config());
    ASSERT_TRUE(module.setUp(storage.initInfo(), 1, 1, 0, 2));
    Captured c = capture([&] { return module.printTail(); });
    EXPECT_TRUE(c.result);
    const size_t controllers = c.out.find("dev: INFO: CONTROLLER ORDER      : <Real con> -> <Output con>\n");
    const size_t trackers = c.out.find("dev: INFO: TRACKER ORDER         : <Real tra> -> <Output tra>\n");
    ASSERT_NE(std::string::npos, controllers);
    ASSERT_NE(std::string::npos, trackers);
    EXPECT_LT(controllers, trackers);
    const std::string rule = "dev: INFO: -----------------------\n";
    ASSERT_GE(c.out.size(), rule.size());
    EXPECT_EQ(rule, c.out.substr(c.out.size() - rule.size()));

    TestModule bare(lines.config());
    ASSERT_TRUE(bare.setUp(storage.initInfo(), 0, 0));
    c = capture([&] { return bare.printTail(); });
    EXPECT_EQ(rule, c.out);
}
