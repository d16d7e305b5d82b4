// The shipped library as a host loads it: exports by name, a session through the virtual table, frames into storage.
#include <gtest/gtest.h>

#include <string>

#include "device/exports.h"
#include "platform/dynamic_library.h"
#include "tests/support/device_rig.h"

using namespace test_support;

// The device as a host's header declares it, in the host's table order (the destructor, last, only through deleteDev).
// Not in an unnamed namespace, or the compiler would bind the calls to these pure declarations.
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

TEST(Exports, AHostsSessionThroughTheLibrarysExportsAndVirtualTable) {
    platform::LibraryHandle library;
    char reason[512];
    ASSERT_TRUE(platform::openLibrary(ZELOSTREL_MODULE, library, reason, sizeof reason)) << reason;
    auto create = reinterpret_cast<CreateDevFunction>(platform::findProcedure(library, kCreateDevName));
    auto destroy = reinterpret_cast<DeleteDevFunction>(platform::findProcedure(library, kDeleteDevName));
    ASSERT_TRUE(create != nullptr && destroy != nullptr);
    EXPECT_FALSE(destroy(nullptr));
    {
        HostSide s;
        SocketHandle* controller = nullptr;
        uint16_t port = 0;
        ASSERT_EQ(0, udpOpen(controller, port, 0));
        s.lines.add({"port", std::to_string(s.dataPort)})
            .add({"remote", "127.0.0.1", std::to_string(port)})
            .add({"gripwands", "1"});
        CBaseMod* created = create(s.lines.config(), &s.log);
        ASSERT_NE(nullptr, created);
        HostDevice& device = *reinterpret_cast<HostDevice*>(static_cast<CBase*>(created));
        auto command = [&] {
            char buffer[64] = {};
            const int32_t length = udpReceive(controller, buffer, sizeof buffer, 200000);
            return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : "";
        };
        InitInfo info = s.storage.initInfo();
        EXPECT_NE(std::string::npos, capturedStdout([&] { EXPECT_EQ(1, device.init(&info)); }).find("DEVICE TYPE"));
        EXPECT_TRUE(device.start());
        EXPECT_EQ(std::string("ostrel 31", 10), command());
        EXPECT_EQ("", capturedStdout([&] { EXPECT_EQ(1, device.check()); }) + command());
        EXPECT_TRUE(device.stop());
        EXPECT_EQ(std::string("ostrel 10 0", 12), command());
        EXPECT_EQ(0u, capturedStdout([&] { EXPECT_TRUE(device.printInfo()); }).find("TRK: INFO: DEVICE NAME"));
        UpdateMasks masks{};
        for (int call = 0; call < 3; ++call) {  // recvData, then the two updates, each on a frame of its own
            s.send(
                "fr 1\n6d 1 [0 1.0][304.8 0 0][1 0 0 0 1 0 0 0 1]\n6df2 1 1 [0 1.0 16 2][304.8 0 0][1 0 0 0 1 0 0 0 "
                "1][5 0.5 -0.25]\n");
            EXPECT_EQ(1, call == 0   ? device.recvData(&masks, 0)
                         : call == 1 ? device.updateTrackers()
                                     : device.updateControllers());
        }
        EXPECT_EQ(0, device.sendData(1, 2));
        EXPECT_EQ(std::make_pair(0b11u, 0b1u),
                  std::make_pair(maskBits(masks.trackerMask), maskBits(masks.controllerMask)));
        EXPECT_EQ((std::vector<int32_t>{100000, 0, 0}), fixedWordsAt(&s.storage.tracker(2), 20, 3));
        EXPECT_EQ((std::vector<int32_t>{500, -250, 0}), fixedWordsAt(&s.storage.controller(1), 36, 3));
        EXPECT_TRUE(destroy(created));
        udpClose(controller, 0);
    }
    platform::closeLibrary(library);
}
