// The framework's storage hook-up against real shared storage: records
// registered behind other modules' records, written byte-exactly under the
// inter-process mutex, with update masks, mapping, tracker emulation and
// real calibration libraries.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "calib/con_common.h"
#include "calib/tra_common.h"
#include "framework/base.h"
#include "shared_storage_fixture.h"
#include "stdout_capture.h"

using test_support::capturedStdout;
using test_support::fixedAt;
using test_support::fixedWordsAt;
using test_support::maskBits;
using test_support::wordAt;
using test_support::wordsAt;

namespace {

// The smallest module: the set-up sequence a device runs in its configure.
class TestModule final : public CBaseMod {
public:
    TestModule(DeviceConfig* config, const CLogH& log) : CBaseMod(config, &log) {}
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
    bool writePose(uint32_t local, float x, float y = 0, float z = 0, float azim = 0, float elev = 0, float roll = 0) {
        const float position[3] = {x, y, z};
        const float orientation[3] = {azim, elev, roll};
        return writeTrackerData(local, position, orientation);
    }
};

class StorageHookup : public testing::Test {
protected:
    // A module over the shared storage, with the lines added so far and
    // this test's masks.
    TestModule& module() {
        modules.push_back(std::make_unique<TestModule>(lines.config(), log));
        return *modules.back();
    }
    TestModule& setUp(uint32_t trackers, uint32_t controllers, uint32_t valuators = 8, uint32_t buttons = 16) {
        TestModule& m = module();
        EXPECT_TRUE(m.setUp(storage.initInfo(), trackers, controllers, valuators, buttons));
        m.modInfo->updateMasks = &masks;
        return m;
    }
    // Time words and stamp come from one clock reading taken during the write.
    static void expectTimeOf(const void* record, size_t stampOffset, int64_t before) {
        const uint32_t seconds = wordAt(record, 8);
        EXPECT_GE(static_cast<int64_t>(seconds), before);
        EXPECT_LE(static_cast<int64_t>(seconds), platform::readClock().seconds);
        TimeStampBlock stamp;
        std::memcpy(&stamp, static_cast<const char*>(record) + stampOffset, sizeof stamp);
        EXPECT_EQ(static_cast<int32_t>(seconds), stamp.seconds);
        EXPECT_EQ(uint32_t{stamp.milliseconds} * 1000u, wordAt(record, 12));
        EXPECT_LT(stamp.milliseconds, 1000);
    }

    test_support::SharedStorage storage;
    test_support::ConfigLines lines;
    CLogH log = test_support::quietLogger("dev");
    UpdateMasks masks{0, 0};
    std::vector<std::unique_ptr<TestModule>> modules;
    const float noValuators[8] = {};
    const int32_t button1[16] = {1};
};

}  // namespace

TEST_F(StorageHookup, MissingStoragesOrAFullListFailTheSetUp) {
    InitInfo info = storage.initInfo();
    info.controllerStorage = nullptr;
    TestModule& first = module();
    EXPECT_EQ("dev: ERROR: Controller data storage pointer is empty.\n",
              capturedStdout([&] { EXPECT_FALSE(first.setUp(info, 1, 1)); }));
    EXPECT_FALSE(first.modInfo->traHandler);  // failed before the tracker handler

    info = storage.initInfo();
    info.trackerStorage = nullptr;
    TestModule& second = module();
    EXPECT_EQ("dev: ERROR: Tracker data storage pointer is empty.\n",
              capturedStdout([&] { EXPECT_FALSE(second.setUp(info, 1, 1)); }));
    EXPECT_TRUE(second.modInfo->conHandler);  // the controller handler stays
    EXPECT_EQ(0u, storage.area->trackerCount | storage.area->controllerCount);

    storage.area->trackerCount = 31;
    TestModule& third = module();
    EXPECT_EQ("HOST: ERROR: CDataStorage: The new number is too big.\n",
              capturedStdout([&] { EXPECT_FALSE(third.setUp(storage.initInfo(), 2, 0)); }));
    EXPECT_EQ(31u, storage.area->trackerCount);
}

TEST_F(StorageHookup, ModuleWithoutRecordsMakesNoHandlers) {
    TestModule& m = setUp(0, 0);
    EXPECT_FALSE(m.modInfo->traHandler);
    EXPECT_FALSE(m.modInfo->conHandler);
    EXPECT_EQ(0u, storage.area->trackerCount);
    // Without a tracker handler any local number is accepted and nothing lands.
    const TraData before = storage.tracker(1);
    EXPECT_TRUE(m.writePose(5, 1, 2, 3, 4, 5, 6));
    EXPECT_EQ(0, std::memcmp(&before, &storage.tracker(1), sizeof before));
    masks = UpdateMasks{0xdeadbeef, 0xfeedf00d};
    EXPECT_EQ(1, m.recvData(&masks, 0));
    EXPECT_EQ(0xdeadbeefu, masks.trackerMask);  // masks of absent kinds untouched
    EXPECT_EQ(0xfeedf00du, masks.controllerMask);
}

TEST_F(StorageHookup, TrackerRecordBehindEarlierRecordsIsByteExact) {
    storage.area->trackerCount = 3;  // three records of earlier modules
    TestModule& m = setUp(2, 0);
    EXPECT_EQ(5u, storage.area->trackerCount);
    EXPECT_EQ(3u, m.modInfo->traHandler->storageBase);

    const int64_t before = platform::readClock().seconds;
    const std::string out = capturedStdout([&] {
        EXPECT_TRUE(m.writePose(1, 1.5f, -2.25f, -0.0000099f, 90.0f, -45.5f, 180.0f));
    });
    EXPECT_EQ("", out);  // "TraData storage found" only with a debug logger
    const TraData& r = storage.tracker(4);
    EXPECT_EQ((std::vector<uint32_t>{4, 0, wordAt(&r, 8), wordAt(&r, 12), 0}), wordsAt(&r, 0, 5));
    const unsigned char x[4] = {0x00, 0x02, 0x49, 0xF0};  // 150000
    EXPECT_EQ(0, std::memcmp(x, reinterpret_cast<const unsigned char*>(&r) + 20, 4));
    // z truncated toward zero.
    EXPECT_EQ((std::vector<int32_t>{150000, -225000, 0, 9000000, -4550000, 18000000}), fixedWordsAt(&r, 20, 6));
    expectTimeOf(&r, 44, before);
    const unsigned char maskBytes[4] = {0, 0, 0, 0x08};  // bit of id 4
    EXPECT_EQ(0, std::memcmp(maskBytes, &masks.trackerMask, 4));
    EXPECT_EQ(0u, masks.controllerMask);
}

TEST_F(StorageHookup, SecondModuleNumbersBehindTheFirst) {
    TestModule& first = setUp(2, 1);
    TestModule& second = setUp(3, 2);
    EXPECT_EQ(5u, storage.area->trackerCount);
    EXPECT_EQ(3u, storage.area->controllerCount);
    EXPECT_EQ(2u, second.modInfo->traHandler->storageBase);
    EXPECT_EQ(1u, second.modInfo->conHandler->controllerBase);

    ASSERT_TRUE(second.writePose(1, 1));
    ASSERT_TRUE(second.writePose(3, 3));
    ASSERT_TRUE(second.writeControllerData(2, 8, 16, noValuators, button1));
    EXPECT_EQ(3u, wordAt(&storage.tracker(3), 0));
    EXPECT_EQ(100000, fixedAt(&storage.tracker(3), 20));
    EXPECT_EQ(300000, fixedAt(&storage.tracker(5), 20));
    EXPECT_EQ(3u, wordAt(&storage.controller(3), 0));
    EXPECT_EQ((1u << 2) | (1u << 4), maskBits(masks.trackerMask));
    EXPECT_EQ(1u << 2, maskBits(masks.controllerMask));

    ASSERT_TRUE(first.writePose(2, 2));
    EXPECT_EQ(200000, fixedAt(&storage.tracker(2), 20));
    EXPECT_EQ(100000, fixedAt(&storage.tracker(3), 20));  // the second module's record stays
}

TEST_F(StorageHookup, ControllerRecordIsByteExact) {
    TestModule& m = setUp(0, 2);
    const float valuators[8] = {0.5f, -1.25f, 0.0015f, 0, 0, 0, 0, 2.0f};
    const int32_t buttons[16] = {1, 0, -1, 2, 0, 0, 0, 0, 1};  // 0 and below clear, above 0 sets
    const int64_t before = platform::readClock().seconds;
    ASSERT_TRUE(m.writeControllerData(2, 8, 16, valuators, buttons));
    const ConData& r = storage.controller(2);
    EXPECT_EQ((std::vector<uint32_t>{2, 0, wordAt(&r, 8), wordAt(&r, 12), 0, 8, 16, 36, 68}), wordsAt(&r, 0, 9));
    std::vector<int32_t> values(32, 0);
    values[0] = 500, values[1] = -1250, values[2] = 1, values[7] = 2000;
    EXPECT_EQ(values, fixedWordsAt(&r, 36, 32));
    const unsigned char bits[4] = {0x09, 0x01, 0x00, 0x00};  // buttons 1, 4, 9
    EXPECT_EQ(0, std::memcmp(bits, reinterpret_cast<const unsigned char*>(&r) + 164, 4));
    uint32_t byteCount;
    std::memcpy(&byteCount, reinterpret_cast<const unsigned char*>(&r) + 168, 4);
    EXPECT_EQ(4u, byteCount);  // host byte order
    expectTimeOf(&r, 172, before);
    EXPECT_EQ(1u << 1, maskBits(masks.controllerMask));
    EXPECT_EQ(0u, masks.trackerMask);

    // A tool: no valuators, the buttons start right after the offsets.
    ASSERT_TRUE(m.writeControllerData(1, 0, 16, nullptr, buttons));
    EXPECT_EQ(0u, wordAt(&storage.controller(1), 20));
    EXPECT_EQ(36u, wordAt(&storage.controller(1), 32));
}

TEST_F(StorageHookup, MappingOptionsReorderValuatorsAndButtons) {
    lines.add({"valuatororder", "1", "3", "0", "1"});
    lines.add({"buttonorder", "1", "2", "1", "3"});
    lines.add({"valuatorscale", "1", "2", "all"});
    setUp(0, 1);
    EXPECT_EQ(1, lines.config()->lines[0].used);
    const float valuators[8] = {1.0f, 2.0f, 3.0f, 4.0f};
    const int32_t buttons[16] = {1, 0, 1};
    ASSERT_TRUE(modules[0]->writeControllerData(1, 8, 16, valuators, buttons));
    const ConData& r = storage.controller(1);
    // Output 1: own 3, doubled; output 2 empty (own 2 goes to 0); output 3:
    // own 1, doubled; own 4 dropped.
    EXPECT_EQ((std::vector<int32_t>{6000, 0, 2000, 0}), fixedWordsAt(&r, 36, 4));
    EXPECT_EQ(0x06, reinterpret_cast<const unsigned char*>(&r)[164]);  // own 1 at 2, own 3 at 3
    // A record with 2 buttons has no room for output 3: that button is dropped.
    ASSERT_TRUE(modules[0]->writeControllerData(1, 8, 2, valuators, buttons));
    EXPECT_EQ(0x02, reinterpret_cast<const unsigned char*>(&r)[164]);
}

TEST_F(StorageHookup, EmulationStartsAtItsInitialPoseAndIntegrates) {
    static double clockSeconds = 1700000000.0;
    storage.area->trackerCount = 1;
    lines.add({"emulatetracker", "2", "[1,2,3,10,20,30]", "1", "2", "0", "0", "0", "0", "3"});
    TestModule& m = setUp(2, 2);
    EXPECT_EQ(1u, m.numTrackerEmulations);
    EXPECT_EQ(4u, storage.area->trackerCount);  // 1 earlier + 2 own + 1 emulated
    const TraData& e = storage.tracker(4);
    EXPECT_EQ(4u, wordAt(&e, 0));
    EXPECT_EQ((std::vector<int32_t>{100000, 200000, 300000, 1000000, 2000000, 3000000}), fixedWordsAt(&e, 20, 6));

    m.modInfo->conHandler->setClockSource([]() noexcept { return clockSeconds; });
    const float rates[8] = {0.5f, -1.0f};
    int32_t buttons[16] = {};
    ASSERT_TRUE(m.writeControllerData(2, 8, 16, rates, buttons));  // first write: reset
    EXPECT_EQ(100000, fixedAt(&e, 20));
    EXPECT_EQ(1u << 3, maskBits(masks.trackerMask));
    EXPECT_EQ(1u << 1, maskBits(masks.controllerMask));
    // The emulated record carries the controller record's time words.
    EXPECT_EQ(wordAt(&storage.controller(2), 8), wordAt(&e, 8));
    EXPECT_EQ(wordAt(&storage.controller(2), 12), wordAt(&e, 12));

    clockSeconds += 0.2;
    ASSERT_TRUE(m.writeControllerData(2, 8, 16, rates, buttons));
    EXPECT_NEAR(110000, fixedAt(&e, 20), 2);
    EXPECT_NEAR(180000, fixedAt(&e, 24), 2);
    EXPECT_EQ(300000, fixedAt(&e, 28));

    buttons[2] = 1;  // the reset button
    clockSeconds += 0.2;
    ASSERT_TRUE(m.writeControllerData(2, 8, 16, rates, buttons));
    EXPECT_EQ(100000, fixedAt(&e, 20));
    EXPECT_EQ(200000, fixedAt(&e, 24));
}

TEST_F(StorageHookup, EmulationOnlyModuleGetsATrackerHandlerAndRepeatedSetUpCountsAfresh) {
    lines.add({"emulatetracker", "1", "[0.5]", "1", "0", "0", "0", "0", "0"});
    TestModule& m = setUp(0, 1);
    ASSERT_TRUE(m.modInfo->traHandler);
    EXPECT_EQ(1u, m.numTrackerEmulations);
    EXPECT_EQ(1u, storage.area->trackerCount);
    EXPECT_EQ(1u, wordAt(&storage.tracker(1), 0));
    EXPECT_EQ(50000, fixedAt(&storage.tracker(1), 20));
    // Configured again without controllers: no emulation is left over.
    EXPECT_EQ("", capturedStdout([&] { EXPECT_TRUE(m.setUp(storage.initInfo(), 1, 0)); }));
    EXPECT_EQ(0u, m.numTrackerEmulations);
    EXPECT_EQ(2u, storage.area->trackerCount);  // behind the first set-up's record
    EXPECT_EQ(1u, m.modInfo->traHandler->storageBase);
}

// A library that moves every tracker by one in x is applied before the
// record is stored; one without its entry point fails every write, so
// nothing is stored and no bit is set.
TEST_F(StorageHookup, CalibrationLibrariesAreAppliedOrStopTheWrite) {
    lines.add({"calibration", CALIB_ADD_ONE_PATH});
    TestModule& m = setUp(1, 0);
    ASSERT_TRUE(m.writePose(1, 2.5f));
    EXPECT_EQ(350000, fixedAt(&storage.tracker(1), 20));
    EXPECT_EQ(1u, maskBits(masks.trackerMask));

    test_support::ConfigLines failing;
    failing.add({"calibration", CALIB_NO_ENTRY_PATH});
    TestModule broken(failing.config(), log);
    ASSERT_TRUE(broken.setUp(storage.initInfo(), 1, 0));
    UpdateMasks brokenMasks{0, 0};
    broken.modInfo->updateMasks = &brokenMasks;
    const TraData before = storage.tracker(2);
    EXPECT_EQ("", capturedStdout([&] { EXPECT_FALSE(broken.writePose(1, 1, 2, 3, 4, 5, 6)); }));
    EXPECT_EQ(0, std::memcmp(&before, &storage.tracker(2), sizeof before));
    EXPECT_EQ(0u, brokenMasks.trackerMask);
}

TEST_F(StorageHookup, LocalNumbersZeroOrWithoutSlotsWriteNothing) {
    storage.area->trackerCount = 3;
    storage.area->controllerCount = 3;
    TestModule& m = setUp(2, 1);
    test_support::SharedArea before;
    std::memcpy(&before, storage.area, sizeof before);

    EXPECT_EQ("dev: ERROR: ID of TraData is zero.\n", capturedStdout([&] { EXPECT_FALSE(m.writePose(0, 1)); }));
    EXPECT_EQ("dev: ERROR: ID of ConData is zero.\n",
              capturedStdout([&] { EXPECT_FALSE(m.writeControllerData(0, 8, 16, noValuators, button1)); }));

    // Beyond the handler's 32 slots, and a slot without an output position
    // (it must not land on record 3 of the earlier module).
    for (uint32_t local : {3u, 32u, 33u, 4000000000u}) {
        EXPECT_EQ("dev: ERROR: TraData storage not found\n",
                  capturedStdout([&] { EXPECT_FALSE(m.writePose(local, 1, 2, 3, 4, 5, 6)); }))
            << local;
    }
    for (uint32_t local : {2u, 32u, 33u, 4000000000u}) {
        EXPECT_EQ("dev: ERROR: ConData storage not found\n",
                  capturedStdout([&] { EXPECT_FALSE(m.writeControllerData(local, 8, 16, noValuators, button1)); }))
            << local;
    }
    EXPECT_EQ(0, std::memcmp(&before.trackers, storage.area->trackers, sizeof before.trackers));
    EXPECT_EQ(0, std::memcmp(&before.controllers, storage.area->controllers, sizeof before.controllers));
    EXPECT_EQ(0u, masks.trackerMask | masks.controllerMask);
}

TEST_F(StorageHookup, WriteWaitsForTheStorageLock) {
    TestModule& m = setUp(1, 0);
    ASSERT_TRUE(storage.trackerStorage.lock());  // a reader holds the list
    std::atomic<bool> written{false};
    std::thread writer([&] {
        m.writePose(1, 7);
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

TEST_F(StorageHookup, PrintTailReportsBothHandlersThenTheRule) {
    TestModule& m = setUp(1, 1, 0, 2);
    const std::string out = capturedStdout([&] { EXPECT_TRUE(m.printTail()); });
    const size_t controllers = out.find("dev: INFO: CONTROLLER ORDER      : <Real con> -> <Output con>\n");
    const size_t trackers = out.find("dev: INFO: TRACKER ORDER         : <Real tra> -> <Output tra>\n");
    ASSERT_NE(std::string::npos, controllers);
    ASSERT_NE(std::string::npos, trackers);
    EXPECT_LT(controllers, trackers);
    const std::string rule = "dev: INFO: -----------------------\n";
    ASSERT_GE(out.size(), rule.size());
    EXPECT_EQ(rule, out.substr(out.size() - rule.size()));

    TestModule& bare = setUp(0, 0);
    EXPECT_EQ(rule, capturedStdout([&] { EXPECT_TRUE(bare.printTail()); }));
}

// With a debug logger: each write reports its look-up, and the handlers
// say farewell tracker first.
TEST_F(StorageHookup, DebugLinesOfWritesAndTeardown) {
    log.debugLevel = 1;
    TestModule& m = setUp(1, 1);
    EXPECT_EQ("dev: DEBUG: TraData storage found\n", capturedStdout([&] { EXPECT_TRUE(m.writePose(1, 1)); }));
    EXPECT_EQ("dev: DEBUG: ConData storage found\n",
              capturedStdout([&] { EXPECT_TRUE(m.writeControllerData(1, 8, 16, noValuators, button1)); }));
    const std::string out = capturedStdout([&] { modules.clear(); });
    const size_t tracker = out.find("dev: DEBUG: CTraCommonH: \"destructor\" called.\n");
    const size_t controller = out.find("dev: DEBUG: CConCommonH: \"destructor\" called.\n");
    ASSERT_NE(std::string::npos, tracker) << out;
    ASSERT_NE(std::string::npos, controller) << out;
    EXPECT_LT(tracker, controller);
}
