#include "framework/base.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "calib/con_common.h"
#include "calib/tra_common.h"
#include "device/exports.h"
#include "device/zelostrel.h"
#include "shared_storage_fixture.h"
#include "stdout_capture.h"

using test_support::capturedStdout;
using test_support::quietLogger;
using Calls = std::vector<std::string>;

namespace {

// A module that records the order of its update calls.
class ProbeModule final : public CBaseMod {
public:
    ProbeModule(DeviceConfig* config, const CLogH* log) : CBaseMod(config, log) {}
    int init(InitInfo*) override { return 1; }
    bool start() override { return true; }
    int check() override { return 1; }
    bool stop() override { return true; }
    bool printInfo() override { return printName(); }
    int updateTrackers() override {
        calls.push_back("trackers");
        return trackerResult;
    }
    int updateControllers() override {
        calls.push_back("controllers");
        return controllerResult;
    }
    // Init info set, with the handlers asked for.
    void configure(const InitInfo& info, bool trackers, bool controllers) {
        ASSERT_EQ(1u, setInitInfo(&info));
        if (trackers) modInfo->traHandler.reset(new CTraCommonH(logger));
        if (controllers) modInfo->conHandler.reset(new CConCommonH(logger));
    }

    Calls calls;
    int trackerResult = 1;
    int controllerResult = 1;
};

class BaseTest : public testing::Test {
protected:
    void SetUp() override {
        config.name = "tracker-1";
        info.words[InitInfo::kOpaqueWords - 1] = 0xC0FFEE;
    }

    DeviceConfig config{};
    InitInfo info{};
    CLogH hostLog = quietLogger("HOST");
    ProbeModule module{&config, &hostLog};
    UpdateMasks masks{0xFFFFFFFFu, 0xFFFFFFFFu};
};

}  // namespace

TEST(BaseConstruction, DefaultLoggerFieldsAndSendData) {
    DeviceConfig config{};
    ProbeModule module(&config, nullptr);
    EXPECT_STREQ("CBase", module.logger->name);
    EXPECT_EQ(1, module.logger->ownerId);
    EXPECT_EQ(0, module.logger->debugLevel);
    EXPECT_TRUE(module.ownsLogger);
    EXPECT_TRUE(module.inputConnector);
    EXPECT_EQ(nullptr, module.modInfo);
    EXPECT_EQ(nullptr, module.deviceName);
    EXPECT_EQ(&config, module.config);
    EXPECT_EQ(0u, module.maxTrackers | module.maxControllers | module.numTrackers | module.numControllers |
                      module.numTrackerEmulations);
    EXPECT_EQ(0, module.sendData(1, 2));
}

TEST(BaseConstruction, HostLoggerIsCopiedWhole) {
    CLogH host = quietLogger("HOST");
    host.debugLevel = 3;
    host.debugThreshold = 9;
    host.ownerId = 42;
    host.enabled = 0;
    DeviceConfig config{};
    ProbeModule module(&config, &host);
    host.setName("CHANGED");
    EXPECT_NE(&host, module.logger);
    EXPECT_STREQ("HOST", module.logger->name);
    EXPECT_EQ(0, module.logger->showDate);
    EXPECT_EQ(0, module.logger->enabled);
    EXPECT_EQ(3, module.logger->debugLevel);
    EXPECT_EQ(9, module.logger->debugThreshold);
    EXPECT_EQ(1, module.logger->ownerId);
}

TEST_F(BaseTest, SetInitInfoCopiesWordsAndName) {
    auto* trackerStorage = reinterpret_cast<CDataStorage*>(0x1000);
    info.trackerStorage = trackerStorage;
    for (int i = 0; i < InitInfo::kOpaqueWords; ++i) info.words[i] = 100u + static_cast<uint32_t>(i);
    module.inputConnector = false;
    EXPECT_EQ("", capturedStdout([&] { EXPECT_EQ(1u, module.setInitInfo(&info)); }));
    ASSERT_NE(nullptr, module.modInfo);
    EXPECT_NE(static_cast<InitInfo*>(module.modInfo.get()), &info);
    EXPECT_EQ(trackerStorage, module.modInfo->trackerStorage);
    EXPECT_EQ(nullptr, module.modInfo->controllerStorage);
    EXPECT_EQ(0, std::memcmp(info.words, module.modInfo->words, sizeof info.words));
    EXPECT_EQ(109u, module.lastInitWord);
    EXPECT_FALSE(module.modInfo->traHandler);
    EXPECT_FALSE(module.modInfo->conHandler);
    EXPECT_EQ(nullptr, module.modInfo->updateMasks);
    EXPECT_STREQ("tracker-1", module.deviceName.get());
    EXPECT_NE(config.name, module.deviceName.get());
    EXPECT_TRUE(module.inputConnector);

    config.name = nullptr;  // a missing name is copied as empty
    EXPECT_EQ(1u, module.setInitInfo(&info));
    EXPECT_STREQ("", module.deviceName.get());
}

TEST_F(BaseTest, NullInitInfoIsRefusedAndChangesNothing) {
    module.configure(info, true, false);
    ModInfo* before = module.modInfo.get();
    EXPECT_EQ("HOST: ERROR: Init info is empty.\n",
              capturedStdout([&] { EXPECT_EQ(0u, module.setInitInfo(nullptr)); }));
    EXPECT_EQ(before, module.modInfo.get());
    EXPECT_TRUE(module.modInfo->traHandler);
}

// The tracker handler goes first: with a debug logger the handlers'
// farewell lines show in this order.
TEST_F(BaseTest, ReplacementAndDestructionReleaseTheHandlersInOrder) {
    const std::string farewells = "HOST: DEBUG: CTraCommonH: \"destructor\" called.\n"
                                  "HOST: DEBUG: CConCommonH: \"destructor\" called.\n";
    hostLog.debugLevel = 3;  // only the handlers' debug lines (owner 3) show
    hostLog.debugThreshold = 10;
    auto probe = std::make_unique<ProbeModule>(&config, &hostLog);
    capturedStdout([&] { probe->configure(info, true, true); });
    config.name = "tracker-2";
    info.words[InitInfo::kOpaqueWords - 1] = 7;
    EXPECT_EQ(farewells, capturedStdout([&] { EXPECT_EQ(1u, probe->setInitInfo(&info)); }));
    EXPECT_FALSE(probe->modInfo->traHandler);
    EXPECT_FALSE(probe->modInfo->conHandler);
    EXPECT_STREQ("tracker-2", probe->deviceName.get());
    EXPECT_EQ(7u, probe->lastInitWord);

    capturedStdout([&] { probe->configure(info, true, true); });
    EXPECT_EQ(farewells, capturedStdout([&] { probe.reset(); }));
}

TEST_F(BaseTest, RecvDataBeforeInitInfoTouchesNothing) {
    hostLog.debugLevel = 1;
    ProbeModule fresh(&config, &hostLog);
    EXPECT_EQ("HOST: DEBUG: \"recvData\" called.\nHOST: ERROR: \"recvData\" called before the init info was set.\n",
              capturedStdout([&] { EXPECT_EQ(-1, fresh.recvData(&masks, 0)); }));
    EXPECT_EQ(0xFFFFFFFFu, masks.trackerMask & masks.controllerMask);
    EXPECT_TRUE(fresh.calls.empty());

    fresh.configure(info, false, false);  // no handler: only the debug line
    EXPECT_EQ("HOST: DEBUG: \"recvData\" called.\n",
              capturedStdout([&] { EXPECT_EQ(1, fresh.recvData(&masks, 0)); }));
    EXPECT_EQ(&masks, fresh.modInfo->updateMasks);
}

// Only the masks of the kinds the module has are cleared; controllers are
// updated before trackers.
TEST_F(BaseTest, RecvDataClearsAndUpdatesTheKindsTheModuleHas) {
    const struct {
        bool trackers, controllers;
        uint32_t trackerMask, controllerMask;
        Calls calls;
    } cases[] = {
        {false, false, 0xFFFFFFFFu, 0xFFFFFFFFu, {}},
        {false, true, 0xFFFFFFFFu, 0u, {"controllers"}},
        {true, false, 0u, 0xFFFFFFFFu, {"trackers"}},
        {true, true, 0u, 0u, {"controllers", "trackers"}},
    };
    for (const auto& c : cases) {
        ProbeModule probe(&config, &hostLog);
        probe.configure(info, c.trackers, c.controllers);
        masks = UpdateMasks{0xFFFFFFFFu, 0xFFFFFFFFu};
        EXPECT_EQ("", capturedStdout([&] { EXPECT_EQ(1, probe.recvData(&masks, 0)); }));
        EXPECT_EQ(c.trackerMask, masks.trackerMask) << c.trackers << c.controllers;
        EXPECT_EQ(c.controllerMask, masks.controllerMask) << c.trackers << c.controllers;
        EXPECT_EQ(c.calls, probe.calls);
    }
    ProbeModule idle(&config, &hostLog);  // no handler: no masks needed
    idle.configure(info, false, false);
    EXPECT_EQ("", capturedStdout([&] { EXPECT_EQ(1, idle.recvData(nullptr, 0)); }));
}

TEST_F(BaseTest, AFailedUpdateFailsTheCycle) {
    module.configure(info, true, true);
    module.controllerResult = 0;
    EXPECT_EQ(-1, module.recvData(&masks, 0));
    EXPECT_EQ(Calls{"controllers"}, module.calls);  // trackers not reached
    module.calls.clear();
    module.controllerResult = 1;
    module.trackerResult = 0;
    EXPECT_EQ(-1, module.recvData(&masks, 0));
    EXPECT_EQ((Calls{"controllers", "trackers"}), module.calls);
    module.calls.clear();
    EXPECT_EQ("HOST: ERROR: Update masks are empty.\n",
              capturedStdout([&] { EXPECT_EQ(-1, module.recvData(nullptr, 0)); }));
    EXPECT_TRUE(module.calls.empty());
}

TEST_F(BaseTest, PrintNameWritesTheNameEvenWithTheLoggerOff) {
    module.configure(info, false, false);
    EXPECT_EQ("HOST: INFO: DEVICE NAME           : tracker-1\n",
              capturedStdout([&] { EXPECT_TRUE(module.printName()); }));
    module.logger->enabled = 0;
    EXPECT_EQ("tracker-1\n", capturedStdout([&] { EXPECT_TRUE(module.printName()); }));
}

// --- The shipped module: createDev and deleteDev through its exports ----------

TEST(Exports, CreateCheckAndDelete) {
    EXPECT_FALSE(deleteDev(nullptr));
    DeviceConfig config{};
    config.name = "tracker-1";
    CLogH host = quietLogger("HOST");
    CBaseMod* device = createDev(&config, &host);
    ASSERT_NE(nullptr, device);
    EXPECT_EQ(1, device->check());
    EXPECT_EQ(&config, device->config);
    EXPECT_STREQ("HOST", device->logger->name);
    EXPECT_EQ(1, device->logger->ownerId);
    EXPECT_EQ(nullptr, device->modInfo);
    EXPECT_TRUE(deleteDev(device));

    device = createDev(nullptr, nullptr);  // check answers 1 without any configuration
    ASSERT_NE(nullptr, device);
    EXPECT_EQ(1, device->check());
    EXPECT_STREQ("CBase", device->logger->name);
    EXPECT_TRUE(deleteDev(device));
}

TEST(Device, FieldsStartAtTheirDefaults) {
    DeviceConfig config{};
    zelostrel dev(&config, nullptr);
    EXPECT_EQ(1, dev.numStandardBodies);
    EXPECT_EQ(0u, dev.numGripwands);
    EXPECT_EQ(0, dev.numMeasurementTools);
    EXPECT_EQ(5000, dev.dataPort);
    EXPECT_FALSE(dev.remoteControl);
    EXPECT_TRUE(dev.remoteHost.empty());
    EXPECT_EQ(0, dev.remotePort);
    EXPECT_FALSE(dev.client);
    EXPECT_EQ(0, dev.bufferSize);
    EXPECT_EQ(0u, dev.debugFlags);
    const unsigned char zeros[sizeof dev.gripwandState] = {};
    EXPECT_EQ(0, std::memcmp(zeros, dev.gripwandState, sizeof dev.gripwandState));
    EXPECT_EQ(0, std::memcmp(zeros, dev.measurementToolButtons, sizeof dev.measurementToolButtons));
}
