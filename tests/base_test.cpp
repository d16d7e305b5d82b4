// CBase and CBaseMod: logger, init info, the per-cycle entry and the name line.
#include "framework/base.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "calib/con_common.h"
#include "calib/tra_common.h"
#include "tests/support/host_records.h"
#include "tests/support/output.h"

using test_support::capturedStdout;
using Calls = std::vector<std::string>;

namespace {

class ProbeModule final : public CBaseMod {
public:
    using CBaseMod::CBaseMod;
    int init(InitInfo*) override { return 1; }
    bool start() override { return true; }
    int check() override { return 1; }
    bool stop() override { return true; }
    bool printInfo() override { return printName(); }
    int updateTrackers() override { return calls.push_back("trackers"), trackerResult; }
    int updateControllers() override { return calls.push_back("controllers"), controllerResult; }
    void giveHandlers(bool trackers, bool controllers) {
        if (trackers) modInfo->traHandler.reset(new CTraCommonH(logger));
        if (controllers) modInfo->conHandler.reset(new CConCommonH(logger));
    }
    Calls calls;
    int trackerResult = 1, controllerResult = 1;
};

class Base : public testing::Test {
protected:
    void SetUp() override { hostLog.debugThreshold = 10; }  // only the handlers' debug lines (owner 3) show
    DeviceConfig config{0, "tracker-1", {}, 0};
    InitInfo info{};
    CLogH hostLog = test_support::quietLogger("HOST", 3);
    ProbeModule module{&config, &hostLog};
    UpdateMasks masks{0xFFFFFFFFu, 0xFFFFFFFFu};
};

const char kFarewells[] =
    "HOST: DEBUG: CTraCommonH: \"destructor\" called.\n"
    "HOST: DEBUG: CConCommonH: \"destructor\" called.\n";

}  // namespace

TEST_F(Base, LoggerIsTheHostsCopyOrNamedCBaseAndOwnedAsOne) {
    hostLog.ownerId = 42;
    ProbeModule copied(&config, &hostLog);
    hostLog.setName("CHANGED");
    EXPECT_EQ(std::make_pair('H', 1), std::make_pair(copied.logger->name[0], copied.logger->ownerId));
    ProbeModule own(&config, nullptr);
    EXPECT_STREQ("CBase", own.logger->name);
    EXPECT_TRUE(own.logger->ownerId == 1 && own.ownsLogger && own.inputConnector && own.sendData(1, 2) == 0);
}

// A new record releases the old one's handlers, the tracker handler first.
TEST_F(Base, InitInfoIsCopiedAndReplacedWithItsHandlers) {
    info.trackerStorage = reinterpret_cast<CDataStorage*>(0x1000);
    for (int i = 0; i < InitInfo::kOpaqueWords; ++i) info.words[i] = 100u + static_cast<uint32_t>(i);
    module.inputConnector = false;
    EXPECT_EQ("", capturedStdout([&] { EXPECT_EQ(1u, module.setInitInfo(&info)); }));
    ASSERT_TRUE(module.modInfo);
    EXPECT_EQ(0, std::memcmp(&info, static_cast<InitInfo*>(module.modInfo.get()), sizeof info));
    EXPECT_TRUE(module.lastInitWord == 109 && !module.modInfo->updateMasks && module.inputConnector);
    EXPECT_TRUE(config.name != module.deviceName.get() && std::string("tracker-1") == module.deviceName.get());

    capturedStdout([&] { module.giveHandlers(true, true); });
    ModInfo* before = module.modInfo.get();
    EXPECT_EQ("HOST: ERROR: Init info is empty.\n",
              capturedStdout([&] { EXPECT_EQ(0u, module.setInitInfo(nullptr)); }));
    EXPECT_EQ(before, module.modInfo.get());
    config.name = nullptr;
    EXPECT_EQ(kFarewells, capturedStdout([&] { EXPECT_EQ(1u, module.setInitInfo(&info)); }));
    EXPECT_STREQ("", module.deviceName.get());
}

// Only the kinds the module has are cleared and updated, controllers first; a failure fails the cycle.
TEST_F(Base, RecvDataRunsTheUpdatesOfTheKindsTheModuleHas) {
    const struct {
        int trackers, controllers, trackerResult, controllerResult;
        uint32_t trackerMask, controllerMask;
        int result;
        Calls calls;
    } cases[] = {
        {false, false, 1, 1, ~0u, ~0u, 1, {}},           {false, true, 1, 1, ~0u, 0u, 1, {"controllers"}},
        {true, false, 1, 1, 0u, ~0u, 1, {"trackers"}},   {true, true, 1, 1, 0u, 0u, 1, {"controllers", "trackers"}},
        {true, true, 1, 0, 0u, 0u, -1, {"controllers"}}, {true, false, 0, 1, 0u, ~0u, -1, {"trackers"}},
    };
    hostLog.debugLevel = 0;
    for (const auto& c : cases) {
        ProbeModule probe(&config, &hostLog);
        probe.setInitInfo(&info);
        probe.giveHandlers(c.trackers, c.controllers);
        probe.trackerResult = c.trackerResult, probe.controllerResult = c.controllerResult;
        masks = UpdateMasks{~0u, ~0u};
        EXPECT_EQ("", capturedStdout([&] { EXPECT_EQ(c.result, probe.recvData(&masks, 0)); }));
        EXPECT_EQ(std::make_tuple(c.trackerMask, c.controllerMask, c.calls, &masks),
                  std::make_tuple(masks.trackerMask, masks.controllerMask, probe.calls, probe.modInfo->updateMasks));
        const bool any = c.trackers || c.controllers;  // without handlers no masks are needed
        EXPECT_EQ(any ? "HOST: ERROR: Update masks are empty.\n" : "",
                  capturedStdout([&] { EXPECT_EQ(any ? -1 : 1, probe.recvData(nullptr, 0)); }));
    }
    hostLog.debugLevel = 1;
    masks = UpdateMasks{~0u, ~0u};
    ProbeModule fresh(&config, &hostLog);
    EXPECT_EQ("HOST: DEBUG: \"recvData\" called.\nHOST: ERROR: \"recvData\" called before the init info was set.\n",
              capturedStdout([&] { EXPECT_EQ(-1, fresh.recvData(&masks, 0)); }));
    EXPECT_EQ(~0u, masks.trackerMask & masks.controllerMask);
}

TEST_F(Base, NameLineShowsTheNameEvenWithTheLoggerOff) {
    module.setInitInfo(&info);
    EXPECT_EQ("HOST: INFO: DEVICE NAME           : tracker-1\n",
              capturedStdout([&] { EXPECT_TRUE(module.printName()); }));
    module.logger->enabled = 0;
    EXPECT_EQ("tracker-1\n", capturedStdout([&] { EXPECT_TRUE(module.printName()); }));
}
