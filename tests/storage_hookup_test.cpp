// The framework's storage hook-up against real shared storage.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "calib/con_common.h"
#include "calib/tra_common.h"
#include "framework/base.h"
#include "tests/support/output.h"
#include "tests/support/shared_storage.h"

using namespace test_support;

namespace {

class TestModule final : public CBaseMod {
public:
    using CBaseMod::CBaseMod;
    int init(InitInfo*) override { return 1; }
    bool start() override { return true; }
    int check() override { return 1; }
    bool stop() override { return true; }
    bool printInfo() override { return true; }
    int updateTrackers() override { return 1; }
    int updateControllers() override { return 1; }
    bool setUp(InitInfo info, uint32_t trackers, uint32_t controllers) {
        if (setInitInfo(&info) == 0) return false;
        maxTrackers = maxControllers = 32;
        numTrackers = trackers;
        numControllers = controllers;
        if (!createHandlers()) return false;
        for (uint32_t t = 1; t <= trackers; ++t) registerTracker(t, t);
        for (uint32_t c = 1; c <= controllers; ++c) registerController(c, c, 8, 16);
        return buildStorageLists();
    }
    bool writePose(uint32_t local, float x, float y = 0, float z = 0, float azim = 0, float elev = 0, float roll = 0) {
        const float position[3] = {x, y, z}, orientation[3] = {azim, elev, roll};
        return writeTrackerData(local, position, orientation);
    }
};

class StorageHookup : public testing::Test {
protected:
    TestModule& setUp(uint32_t trackers, uint32_t controllers) {
        modules.push_back(std::make_unique<TestModule>(lines.config(), &log));
        EXPECT_TRUE(modules.back()->setUp(storage.initInfo(), trackers, controllers));
        modules.back()->modInfo->updateMasks = &masks;
        return *modules.back();
    }
    SharedStorage storage;
    ConfigLines lines;
    CLogH log = quietLogger("dev");
    UpdateMasks masks{0, 0};
    std::vector<std::unique_ptr<TestModule>> modules;
    const float noValuators[8] = {};
    const int32_t button1[16] = {1};
};

}  // namespace

// A missing storage or a full list fails the set-up; a module without records writes nothing.
TEST_F(StorageHookup, SetUpFailuresAndAModuleWithoutRecords) {
    InitInfo info = storage.initInfo();
    info.controllerStorage = nullptr;
    TestModule first(lines.config(), &log), second(lines.config(), &log), third(lines.config(), &log);
    EXPECT_EQ("dev: ERROR: Controller data storage pointer is empty.\n",
              capturedStdout([&] { EXPECT_FALSE(first.setUp(info, 1, 1)); }));
    info = storage.initInfo();
    info.trackerStorage = nullptr;
    EXPECT_EQ("dev: ERROR: Tracker data storage pointer is empty.\n",
              capturedStdout([&] { EXPECT_FALSE(second.setUp(info, 1, 1)); }));
    storage.area->trackerCount = 31;
    EXPECT_EQ("HOST: ERROR: CDataStorage: The new number is too big.\n",
              capturedStdout([&] { EXPECT_FALSE(third.setUp(storage.initInfo(), 2, 0)); }));

    storage.area->trackerCount = 0;
    TestModule& none = setUp(0, 0);
    EXPECT_FALSE(none.modInfo->traHandler || none.modInfo->conHandler || none.registerTracker(1, 1) ||
                 none.registerController(1, 1, 8, 16));
    EXPECT_TRUE(none.writePose(5, 1, 2, 3, 4, 5, 6)) << "without a tracker handler nothing is written";
    EXPECT_EQ(std::make_pair(0u, 0u), std::make_pair(masks.trackerMask, storage.area->trackerCount));
}

// Behind three earlier records the module's tracker 1 is record 4 with id 4.
TEST_F(StorageHookup, RecordsLandBehindEarlierModulesRecords) {
    storage.area->trackerCount = 3;
    TestModule& first = setUp(2, 1);
    TestModule& second = setUp(3, 2);
    EXPECT_EQ(std::make_tuple(8u, 3u, 5u, 1u),
              std::make_tuple(storage.area->trackerCount, storage.area->controllerCount,
                              second.modInfo->traHandler->storageBase, second.modInfo->conHandler->controllerBase));
    const int64_t before = platform::readClock().seconds;
    ASSERT_TRUE(first.writePose(1, 1.5f, -2.25f, -0.0000099f, 90.0f, -45.5f, 180.0f));
    const TraData& r = storage.tracker(4);
    EXPECT_EQ((std::vector<uint32_t>{4, 0, wordAt(&r, 8), wordAt(&r, 12), 0}), wordsAt(&r, 0, 5));
    EXPECT_EQ((std::vector<int32_t>{150000, -225000, 0, 9000000, -4550000, 18000000}), fixedWordsAt(&r, 20, 6));
    EXPECT_GE(static_cast<int64_t>(wordAt(&r, 8)), before);
    ASSERT_TRUE(second.writePose(3, 3) && second.writeControllerData(2, 8, 16, noValuators, button1));
    EXPECT_EQ(std::make_tuple(8u, 300000, 3u),
              std::make_tuple(wordAt(&storage.tracker(8), 0), fixedAt(&storage.tracker(8), 20),
                              wordAt(&storage.controller(3), 0)));
    EXPECT_EQ(std::make_pair((1u << 3) | (1u << 7), 1u << 2),
              std::make_pair(maskBits(masks.trackerMask), maskBits(masks.controllerMask)));
}

// Valuator order 3, -, 1, scale 2; button order 2, 1, 3 into 2 buttons; a state above 0 sets a button.
TEST_F(StorageHookup, ControllerRecordsAreMappedAndScaled) {
    lines.add({"valuatororder", "1", "3", "0", "1"})
        .add({"buttonorder", "1", "2", "1", "3"})
        .add({"valuatorscale", "1", "2", "all"});
    TestModule& m = setUp(0, 2);
    const float valuators[8] = {1.0f, 0.25f};  // own valuator 3 reads 0
    const int32_t buttons[16] = {1, -5, 7, 0, 2};
    ASSERT_TRUE(m.writeControllerData(1, 8, 2, valuators, buttons));
    const ConData& r = storage.controller(1);
    EXPECT_EQ((std::vector<uint32_t>{1, 0, wordAt(&r, 8), wordAt(&r, 12), 0, 8, 2, 36, 68}), wordsAt(&r, 0, 9));
    EXPECT_EQ((std::vector<int32_t>{0, 0, 2000, 0}), fixedWordsAt(&r, 36, 4));
    EXPECT_EQ((std::vector<uint32_t>{0x02000000, 4}), (std::vector<uint32_t>{wordAt(&r, 164), r.numButtonBytes}));
    ASSERT_TRUE(m.writeControllerData(2, 0, 16, nullptr, buttons));
    EXPECT_EQ((std::vector<uint32_t>{0, 16, 36, 36}), wordsAt(&storage.controller(2), 20, 4));
    EXPECT_EQ(0x15u, storage.controller(2).buttonBits[0]);
    ASSERT_TRUE(m.writeControllerData(2, 33, 33, valuators, buttons));  // counts no record holds
    EXPECT_EQ((std::vector<uint32_t>{0, 0}), wordsAt(&storage.controller(2), 20, 2));
    EXPECT_EQ(0b11u, maskBits(masks.controllerMask));
}

// An emulated tracker follows the module's own, starts at its initial pose; a set-up without controllers drops it.
TEST_F(StorageHookup, TrackersEmulatedFromControllersFollowTheModulesOwn) {
    storage.area->trackerCount = 1;
    lines.add({"emulatetracker", "2", "[1,2,3,10,20,30]", "1", "2", "0", "0", "0", "0", "3"});
    TestModule& m = setUp(2, 2);
    EXPECT_EQ(std::make_pair(1u, 4u), std::make_pair(m.numTrackerEmulations, storage.area->trackerCount));
    const TraData& e = storage.tracker(4);
    EXPECT_EQ((std::vector<int32_t>{4, 0, 0, 0, 0, 100000, 200000, 300000, 1000000, 2000000, 3000000}),
              fixedWordsAt(&e, 0, 11));
    const float rates[8] = {0.5f, -1.0f};
    const int32_t buttons[16] = {};
    ASSERT_TRUE(m.writeControllerData(2, 8, 16, rates, buttons));  // the first resets; the steps are the handler's
    EXPECT_EQ(std::make_tuple(1u << 3, 1u << 1, 100000),
              std::make_tuple(maskBits(masks.trackerMask), maskBits(masks.controllerMask), fixedAt(&e, 20)));

    ConfigLines only{{"emulatetracker", "1", "[0.5]", "1", "0", "0", "0", "0", "0"}};
    TestModule emulationOnly(only.config(), &log);
    ASSERT_TRUE(emulationOnly.setUp(storage.initInfo(), 0, 1));
    ASSERT_TRUE(emulationOnly.modInfo->traHandler) << "an emulation alone makes a tracker handler";
    EXPECT_EQ(
        std::make_tuple(5u, 5u, 50000),
        std::make_tuple(storage.area->trackerCount, wordAt(&storage.tracker(5), 0), fixedAt(&storage.tracker(5), 20)));
    EXPECT_EQ("", capturedStdout([&] { EXPECT_TRUE(emulationOnly.setUp(storage.initInfo(), 1, 0)); }));
    EXPECT_EQ(std::make_tuple(0u, 6u, 5u),
              std::make_tuple(emulationOnly.numTrackerEmulations, storage.area->trackerCount,
                              emulationOnly.modInfo->traHandler->storageBase));
}

// A library is applied first; one without its entry point fails every write: nothing stored, no bit set.
TEST_F(StorageHookup, CalibrationLibrariesAreAppliedOrStopTheWrite) {
    lines.add({"calibration", CALIB_ADD_ONE_PATH});
    ASSERT_TRUE(setUp(1, 0).writePose(1, 2.5f));
    EXPECT_EQ(std::make_pair(350000, 1u),
              std::make_pair(fixedAt(&storage.tracker(1), 20), maskBits(masks.trackerMask)));
    lines.line(0).args[0] = CALIB_NO_ENTRY_PATH;
    masks.trackerMask = 0;
    TestModule& broken = setUp(1, 0);
    const TraData before = storage.tracker(2);
    EXPECT_EQ("", capturedStdout([&] { EXPECT_FALSE(broken.writePose(1, 1, 2, 3, 4, 5, 6)); }));
    EXPECT_EQ(0, std::memcmp(&before, &storage.tracker(2), sizeof before));
    EXPECT_EQ(0u, masks.trackerMask);
}

// A local number without a slot or output position must not land on another module's record.
TEST_F(StorageHookup, LocalNumbersWithoutARecordWriteNothing) {
    storage.area->trackerCount = storage.area->controllerCount = 3;
    log.debugLevel = 1;
    TestModule& m = setUp(2, 1);
    const SharedArea before = *storage.area;
    const auto write = [&](uint32_t tracker, uint32_t controller) {
        return capturedStdout([&] {
            EXPECT_FALSE(m.writePose(tracker, 1) || m.writeControllerData(controller, 8, 16, noValuators, button1));
        });
    };
    EXPECT_EQ("dev: ERROR: ID of TraData is zero.\ndev: ERROR: ID of ConData is zero.\n", write(0, 0));
    for (uint32_t local : {3u, 33u})
        EXPECT_EQ("dev: ERROR: TraData storage not found\ndev: ERROR: ConData storage not found\n",
                  write(local, local - 1));
    EXPECT_EQ(0, std::memcmp(&before, storage.area, offsetof(SharedArea, trackerSequence)));
    EXPECT_EQ(0u, masks.trackerMask | masks.controllerMask);
    EXPECT_EQ("dev: DEBUG: TraData storage found\ndev: DEBUG: ConData storage found\n", capturedStdout([&] {
                  EXPECT_TRUE(m.writePose(1, 1) && m.writeControllerData(1, 8, 16, noValuators, button1));
              }));
}
