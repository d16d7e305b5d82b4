// The shipped library as a host loads it: its two exports by name, a session
// only through the virtual table in the host's order, frames on loopback into
// shared storage while another host thread holds its lock. Linux and Windows.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "device/exports.h"
#include "platform/dynamic_library.h"
#include "tests/support/device_rig.h"

using namespace test_support;

// The device as a host's header declares it, in the host's table order (the
// destructor, last, only through deleteDev). Not in an unnamed namespace, or
// the compiler would bind the calls to these pure declarations.
class HostDevice {
public:
    virtual int init(InitInfo* info) = 0;
    virtual bool start() = 0;
    virtual int check() = 0;
    virtual bool stop() = 0;
    virtual bool printInfo() = 0;
    virtual int recvData(UpdateMasks* masks, uint32_t unused) = 0;
    virtual int sendData(uint32_t first, uint32_t second) = 0;
    virtual int updateTrackers() = 0;
    virtual int updateControllers() = 0;

protected:
    ~HostDevice() = default;
};

namespace {

const std::string kFrame =
    "fr 1\n6d 1 [0 1.0][304.8 -609.6 152.4][0 0 -1 0 1 0 1 0 0]\n"
    "6df2 1 1 [0 1.0 16 2][304.8 0 0][1 0 0 0 1 0 0 0 1][0x5 0.5 -0.25]\n";
const std::string kBodyLine = "TRK: INFO: zelostrel: Standard Body 2 Loc 1.000 -2.000 0.500 Ang 90.000 -0.000 0.000\n";

std::string lastCommand(SocketHandle* controller) {
    char buffer[64] = {};
    const int32_t length = udpReceive(controller, buffer, sizeof buffer, 200000);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : "";
}

void driveThroughTheHostsTable(HostDevice& device, HostSide& s, SocketHandle* controller) {
    InitInfo info = s.storage.initInfo();
    EXPECT_NE(std::string::npos, capturedStdout([&] { EXPECT_EQ(1, device.init(&info)); }).find("DEVICE TYPE"));
    EXPECT_TRUE(device.start());
    EXPECT_EQ(std::string("ostrel 31", 10), lastCommand(controller));
    EXPECT_EQ("", capturedStdout([&] { EXPECT_EQ(1, device.check()); }));
    EXPECT_EQ("", lastCommand(controller));
    EXPECT_TRUE(device.stop());
    EXPECT_EQ(std::string("ostrel 10 0", 12), lastCommand(controller));
    EXPECT_EQ(0u, capturedStdout([&] { EXPECT_TRUE(device.printInfo()); }).find("TRK: INFO: DEVICE NAME"));

    // The cycle waits for the host thread that holds the tracker list.
    s.send(kFrame);
    std::thread holder([&] {
        s.storage.trackerStorage.lock();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        s.storage.trackerStorage.unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    UpdateMasks masks{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("TRK: INFO: zelostrel: Controller grp 0 0 mea 0 0\n" + kBodyLine,
              capturedStdout([&] { EXPECT_EQ(1, device.recvData(&masks, 0)); }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    holder.join();
    EXPECT_EQ(0, device.sendData(1, 2));
    s.send(kFrame);
    EXPECT_EQ(kBodyLine, capturedStdout([&] { EXPECT_EQ(1, device.updateTrackers()); }));
    EXPECT_EQ("TRK: INFO: zelostrel: Controller grp 1 0 mea 0 0\n",
              capturedStdout([&] { EXPECT_EQ(1, device.updateControllers()); }));

    EXPECT_EQ(0b11u, maskBits(masks.trackerMask));
    EXPECT_EQ(0b1u, maskBits(masks.controllerMask));
    // What the records hold is the device's test (zelostrel_test.cpp); here that the cycle wrote them.
    EXPECT_EQ((std::vector<int32_t>{100000, -200000, 50000, 9000001, 0, 0}),
              fixedWordsAt(&s.storage.tracker(2), 20, 6));
    EXPECT_EQ((std::vector<int32_t>{500, -250, 0}), fixedWordsAt(&s.storage.controller(1), 36, 3));
}

}  // namespace

TEST(Exports, AHostsSessionThroughTheLibrarysExportsAndVirtualTable) {
    platform::LibraryHandle library;
    char reason[512];
    ASSERT_TRUE(platform::openLibrary(ZELOSTREL_MODULE, library, reason, sizeof reason)) << reason;
    auto create = reinterpret_cast<CreateDevFunction>(platform::findProcedure(library, kCreateDevName));
    auto destroy = reinterpret_cast<DeleteDevFunction>(platform::findProcedure(library, kDeleteDevName));
    ASSERT_TRUE(create != nullptr && destroy != nullptr);
    EXPECT_FALSE(destroy(nullptr));
    {
        HostSide rig;
        SocketHandle* controller = nullptr;
        uint16_t controllerPort = 0;
        ASSERT_EQ(0, udpOpen(controller, controllerPort, 0));
        rig.lines.add({"port", std::to_string(rig.dataPort)})
            .add({"remote", "127.0.0.1", std::to_string(controllerPort)});
        rig.lines.add({"gripwands", "1"}).add({"debug", "36"});
        CBaseMod* device = create(rig.lines.config(), &rig.log);
        ASSERT_NE(nullptr, device);
        driveThroughTheHostsTable(*reinterpret_cast<HostDevice*>(static_cast<CBase*>(device)), rig, controller);
        EXPECT_TRUE(destroy(device));
        udpClose(controller, 0);
    }
    platform::closeLibrary(library);
}
