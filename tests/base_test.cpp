#include "framework/base.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "device/exports.h"
#include "device/zelostrel.h"
#include "framework/records.h"

namespace {

std::string captured(const std::function<void()>& run) {
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
}

CLogH bareLogger(const char* name) {
    CLogH log;
    log.showDate = log.showTime = log.showThreadId = 0;
    log.setName(name);
    return log;
}

// recvData only asks whether a handler exists: stand-ins at fixed
// addresses, whose releases are logged in order.
std::vector<std::string> releases;
alignas(16) char trackerHandlerStandIn[16];
alignas(16) char controllerHandlerStandIn[16];

OwnedPtr<CTraCommonH> standInTrackerHandler() {
    return OwnedPtr<CTraCommonH>(reinterpret_cast<CTraCommonH*>(trackerHandlerStandIn),
                                 [](CTraCommonH*) noexcept { releases.push_back("tracker"); });
}

OwnedPtr<CConCommonH> standInControllerHandler() {
    return OwnedPtr<CConCommonH>(reinterpret_cast<CConCommonH*>(controllerHandlerStandIn),
                                 [](CConCommonH*) noexcept { releases.push_back("controller"); });
}

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

    std::vector<std::string> calls;
    int trackerResult = 1;
    int controllerResult = 1;
};

class BaseTest : public testing::Test {
protected:
    void SetUp() override {
        releases.clear();
        config.name = "tracker-1";
        info.words[InitInfo::kOpaqueWords - 1] = 0xC0FFEE;
    }

    // A configured module with the handlers asked for.
    void configure(bool trackers, bool controllers) {
        ASSERT_EQ(1u, module.setInitInfo(&info));
        if (trackers) {
            module.modInfo->traHandler = standInTrackerHandler();
        }
        if (controllers) {
            module.modInfo->conHandler = standInControllerHandler();
        }
    }

    DeviceConfig config{};
    InitInfo info{};
    CLogH hostLog = bareLogger("HOST");
    ProbeModule module{&config, &hostLog};
    UpdateMasks masks{0xFFFFFFFFu, 0xFFFFFFFFu};
};

}  // namespace

// --- Construction ---------------------------------------------------------------------

TEST(BaseConstruction, DefaultLoggerIsNamedAfterTheClass) {
    DeviceConfig config{};
    ProbeModule module(&config, nullptr);
    EXPECT_STREQ("CBase", module.logger->name);
    EXPECT_EQ(1, module.logger->ownerId);
    EXPECT_EQ(0, module.logger->debugLevel);
    EXPECT_TRUE(module.ownsLogger);
    EXPECT_TRUE(module.inputConnector);
}

TEST(BaseConstruction, HostLoggerIsCopiedWhole) {
    CLogH host = bareLogger("HOST");
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

TEST(BaseConstruction, ModuleFieldsStartEmpty) {
    DeviceConfig config{};
    ProbeModule module(&config, nullptr);
    EXPECT_EQ(nullptr, module.modInfo);
    EXPECT_EQ(nullptr, module.deviceName);
    EXPECT_EQ(&config, module.config);
    EXPECT_EQ(0u, module.maxTrackers);
    EXPECT_EQ(0u, module.maxControllers);
    EXPECT_EQ(0u, module.numTrackers);
    EXPECT_EQ(0u, module.numControllers);
    EXPECT_EQ(0u, module.numTrackerEmulations);
    EXPECT_EQ(0, module.sendData(1, 2));
}

// --- setInitInfo ------------------------------------------------------------------------

TEST_F(BaseTest, SetInitInfoCopiesWordsAndName) {
    CDataStorage* trackerStorage = reinterpret_cast<CDataStorage*>(0x1000);
    info.trackerStorage = trackerStorage;
    for (int i = 0; i < InitInfo::kOpaqueWords; ++i) {
        info.words[i] = 100u + static_cast<uint32_t>(i);
    }
    module.inputConnector = false;
    EXPECT_EQ("", captured([&] { EXPECT_EQ(1u, module.setInitInfo(&info)); }));
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
}

TEST_F(BaseTest, NullInitInfoIsRefusedAndChangesNothing) {
    configure(true, false);
    ModInfo* before = module.modInfo.get();
    EXPECT_EQ("HOST: ERROR: Init info is empty.\n", captured([&] { EXPECT_EQ(0u, module.setInitInfo(nullptr)); }));
    EXPECT_EQ(before, module.modInfo.get());
    EXPECT_TRUE(module.modInfo->traHandler);
    EXPECT_TRUE(releases.empty());
}

TEST_F(BaseTest, SecondInitInfoReplacesTheCopyAndReleasesItsHandlers) {
    configure(true, true);
    config.name = "tracker-2";
    info.words[InitInfo::kOpaqueWords - 1] = 7;
    EXPECT_EQ(1u, module.setInitInfo(&info));
    // The tracker handler goes first: with a debug logger their farewell
    // lines show in this order.
    EXPECT_EQ((std::vector<std::string>{"tracker", "controller"}), releases);
    EXPECT_FALSE(module.modInfo->traHandler);
    EXPECT_FALSE(module.modInfo->conHandler);
    EXPECT_STREQ("tracker-2", module.deviceName.get());
    EXPECT_EQ(7u, module.lastInitWord);
}

TEST_F(BaseTest, DestructionReleasesTheHandlers) {
    {
        ProbeModule scoped(&config, nullptr);
        ASSERT_EQ(1u, scoped.setInitInfo(&info));
        scoped.modInfo->traHandler = standInTrackerHandler();
        scoped.modInfo->conHandler = standInControllerHandler();
    }
    EXPECT_EQ((std::vector<std::string>{"tracker", "controller"}), releases);
}

TEST_F(BaseTest, AMissingDeviceNameIsCopiedAsEmpty) {
    config.name = nullptr;
    EXPECT_EQ(1u, module.setInitInfo(&info));
    EXPECT_STREQ("", module.deviceName.get());
}

// --- recvData -----------------------------------------------------------------------------

TEST_F(BaseTest, RecvDataBeforeInitInfoTouchesNothing) {
    hostLog.debugLevel = 1;
    ProbeModule fresh(&config, &hostLog);
    EXPECT_EQ("HOST: DEBUG: \"recvData\" called.\nHOST: ERROR: \"recvData\" called before the init info was set.\n",
              captured([&] { EXPECT_EQ(-1, fresh.recvData(&masks, 0)); }));
    EXPECT_EQ(0xFFFFFFFFu, masks.trackerMask);
    EXPECT_EQ(0xFFFFFFFFu, masks.controllerMask);
    EXPECT_TRUE(fresh.calls.empty());
}

TEST_F(BaseTest, RecvDataWithoutHandlersOnlyLogs) {
    configure(false, false);
    EXPECT_EQ("", captured([&] { EXPECT_EQ(1, module.recvData(&masks, 0)); }));
    EXPECT_EQ(&masks, module.modInfo->updateMasks);
    EXPECT_EQ(0xFFFFFFFFu, masks.trackerMask);
    EXPECT_EQ(0xFFFFFFFFu, masks.controllerMask);
    EXPECT_TRUE(module.calls.empty());
}

TEST_F(BaseTest, RecvDataDebugLineNeedsADebugLogger) {
    hostLog.debugLevel = 1;
    ProbeModule verbose(&config, &hostLog);
    ASSERT_EQ(1u, verbose.setInitInfo(&info));
    EXPECT_EQ("HOST: DEBUG: \"recvData\" called.\n", captured([&] { EXPECT_EQ(1, verbose.recvData(&masks, 0)); }));
}

TEST_F(BaseTest, OnlyTheControllerMaskIsClearedForControllersOnly) {
    configure(false, true);
    EXPECT_EQ(1, module.recvData(&masks, 0));
    EXPECT_EQ(0xFFFFFFFFu, masks.trackerMask);
    EXPECT_EQ(0u, masks.controllerMask);
    EXPECT_EQ(std::vector<std::string>{"controllers"}, module.calls);
}

TEST_F(BaseTest, OnlyTheTrackerMaskIsClearedForTrackersOnly) {
    configure(true, false);
    EXPECT_EQ(1, module.recvData(&masks, 0));
    EXPECT_EQ(0u, masks.trackerMask);
    EXPECT_EQ(0xFFFFFFFFu, masks.controllerMask);
    EXPECT_EQ(std::vector<std::string>{"trackers"}, module.calls);
}

TEST_F(BaseTest, ControllersAreUpdatedBeforeTrackers) {
    configure(true, true);
    EXPECT_EQ(1, module.recvData(&masks, 0));
    EXPECT_EQ(0u, masks.trackerMask);
    EXPECT_EQ(0u, masks.controllerMask);
    EXPECT_EQ((std::vector<std::string>{"controllers", "trackers"}), module.calls);
}

TEST_F(BaseTest, AFailedUpdateFailsTheCycle) {
    configure(true, true);
    module.controllerResult = 0;
    EXPECT_EQ(-1, module.recvData(&masks, 0));
    EXPECT_EQ(std::vector<std::string>{"controllers"}, module.calls);  // trackers not reached
    module.calls.clear();
    module.controllerResult = 1;
    module.trackerResult = 0;
    EXPECT_EQ(-1, module.recvData(&masks, 0));
    EXPECT_EQ((std::vector<std::string>{"controllers", "trackers"}), module.calls);
}

TEST_F(BaseTest, RecvDataWithoutMasksIsRefused) {
    configure(true, true);
    EXPECT_EQ("HOST: ERROR: Update masks are empty.\n", captured([&] { EXPECT_EQ(-1, module.recvData(nullptr, 0)); }));
    EXPECT_TRUE(module.calls.empty());
}

// --- printName ------------------------------------------------------------------------------

TEST_F(BaseTest, PrintNameWritesTheNameEvenWithTheLoggerOff) {
    configure(false, false);
    EXPECT_EQ("HOST: INFO: DEVICE NAME           : tracker-1\n", captured([&] { EXPECT_TRUE(module.printName()); }));
    module.logger->enabled = 0;
    EXPECT_EQ("tracker-1\n", captured([&] { EXPECT_TRUE(module.printName()); }));
}

// --- The shipped module ---------------------------------------------------------------------

TEST(Exports, DeleteDevOfNullDoesNothing) { EXPECT_FALSE(deleteDev(nullptr)); }

TEST(Exports, CreateDevCopiesTheHostSettings) {
    DeviceConfig config{};
    config.name = "tracker-1";
    CLogH host = bareLogger("HOST");
    CBaseMod* device = createDev(&config, &host);
    ASSERT_NE(nullptr, device);
    EXPECT_EQ(1, device->check());
    EXPECT_EQ(&config, device->config);
    EXPECT_STREQ("HOST", device->logger->name);
    EXPECT_EQ(1, device->logger->ownerId);
    EXPECT_EQ(nullptr, device->modInfo);
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
    for (const auto& state : dev.gripwandState) {
        for (float v : state.valuator) EXPECT_EQ(0.0f, v);
        for (int32_t b : state.button) EXPECT_EQ(0, b);
    }
    for (const auto& tool : dev.measurementToolButtons) {
        for (int32_t b : tool) EXPECT_EQ(0, b);
    }
}

TEST(Exports, CheckAnswersOneWithoutConfiguration) {
    CBaseMod* device = createDev(nullptr, nullptr);
    ASSERT_NE(nullptr, device);
    EXPECT_EQ(1, device->check());
    EXPECT_EQ(1, device->check());
    EXPECT_STREQ("CBase", device->logger->name);
    EXPECT_TRUE(deleteDev(device));
}
