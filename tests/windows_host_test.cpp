// A Windows host's whole cycle through the shipped DLL: LoadLibraryA,
// createDev, init with storages guarded by mutex handles the host made
// (CreateMutexA, in the storage fixture), start, recvData against frames on
// loopback, stop, deleteDev, FreeLibrary.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "device/exports.h"
#include "link/socket_layer.h"
#include "shared_storage_fixture.h"
#include "stdout_capture.h"

namespace {

using namespace test_support;

TEST(WindowsHost, WholeCycleThroughTheDll) {
    HMODULE dll = LoadLibraryA("zelostrel.dll");
    ASSERT_NE(nullptr, dll);
    auto createDevice = reinterpret_cast<CreateDevFunction>(reinterpret_cast<void*>(GetProcAddress(dll, "createDev")));
    auto deleteDevice = reinterpret_cast<DeleteDevFunction>(reinterpret_cast<void*>(GetProcAddress(dll, "deleteDev")));
    ASSERT_TRUE(createDevice != nullptr && deleteDevice != nullptr);

    netStartup();
    SocketHandle* sender = nullptr;
    SocketHandle* probe = nullptr;
    uint16_t senderPort = 0, dataPort = 0;
    ASSERT_EQ(0, udpOpen(sender, senderPort, 0));
    ASSERT_EQ(0, udpOpen(probe, dataPort, 0));  // a port that is free, for the device
    udpClose(probe, 0);
    const std::string portText = std::to_string(dataPort);
    SharedStorage host;
    ConfigLines lines;
    lines.add({"port", portText.c_str()}).add({"gripwands", "1"}).add({"standardbodies", "1"});
    CLogH hostLog = quietLogger("TRK");
    CBaseMod* device = createDevice(lines.config(), &hostLog);
    ASSERT_NE(nullptr, device);
    InitInfo info = host.initInfo();
    capturedStdout([&] { ASSERT_EQ(1, device->init(&info)); });
    EXPECT_EQ(2u, host.area->trackerCount);
    EXPECT_EQ(1u, host.area->controllerCount);
    EXPECT_TRUE(device->start());

    // Two cycles: the wand's buttons reach its controller record one cycle
    // later. In the second, another host thread holds the tracker list for
    // 300 ms: the module waits on the host's handle.
    const std::string frame = "fr 1\n6d 1 [0 1.0][304.8 -609.6 152.4][0 0 -1 0 1 0 1 0 0]\n"
                              "6df2 1 1 [0 1.0 16 2][304.8 0 0][1 0 0 0 1 0 0 0 1][0x5 0.5 -0.25]\n";
    UpdateMasks masks{};
    for (int cycle = 0; cycle < 2; ++cycle) {
        ASSERT_EQ(0, udpSend(sender, frame.data(), static_cast<int32_t>(frame.size()), 0x7F000001, dataPort, 1000000));
        HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::thread holder([&] {
            if (cycle == 0) return;
            WaitForSingleObject(host.area->trackerMutex.native.handle, INFINITE);
            SetEvent(held);
            Sleep(300);
            ReleaseMutex(host.area->trackerMutex.native.handle);
        });
        if (cycle == 1) WaitForSingleObject(held, 5000);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ("", capturedStdout([&] { EXPECT_EQ(1, device->recvData(&masks, 0)); }));
        const auto waited = std::chrono::steady_clock::now() - start;
        holder.join();
        CloseHandle(held);
        EXPECT_GE(waited, std::chrono::milliseconds(cycle == 1 ? 250 : 0));
    }
    EXPECT_EQ((std::vector<uint32_t>{1, 0}), wordsAt(&host.area->trackers[0], 0, 2));
    EXPECT_EQ((std::vector<int32_t>{100000, 0, 0, 0, 0, 0}), fixedWordsAt(&host.area->trackers[0], 20, 6));
    EXPECT_EQ((std::vector<int32_t>{100000, -200000, 50000, 9000001, 0, 0}),
              fixedWordsAt(&host.area->trackers[1], 20, 6));
    const ConData& wand = host.area->controllers[0];
    EXPECT_EQ((std::vector<uint32_t>{1, 0}), wordsAt(&wand, 0, 2));
    EXPECT_EQ((std::vector<uint32_t>{8, 16, 36, 68}), wordsAt(&wand, 20, 4));
    EXPECT_EQ((std::vector<int32_t>{500, -250, 0}), fixedWordsAt(&wand, 36, 3));
    EXPECT_EQ((std::vector<uint32_t>{0x05000000, 0x04000000}), wordsAt(&wand, 164, 2));
    EXPECT_EQ(0b11u, maskBits(masks.trackerMask));
    EXPECT_EQ(0b1u, maskBits(masks.controllerMask));

    EXPECT_TRUE(device->stop());
    EXPECT_TRUE(deleteDevice(device));
    EXPECT_TRUE(FreeLibrary(dll));
    udpClose(sender, 0);
    netCleanup();
}

}  // namespace
