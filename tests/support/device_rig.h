#pragma once
#include <memory>
#include <string>

#include "device/zelostrel.h"
#include "link/socket_layer.h"
#include "tests/support/output.h"
#include "tests/support/shared_storage.h"

namespace test_support {

constexpr uint32_t kLoopback = 0x7f000001;
constexpr const char* kIdentity = "[1 0 0 0 1 0 0 0 1]";

// The host's side of a device: storage, logger, configuration lines, a sender to a data port the system found free.
class HostSide {
public:
    HostSide() {
        netStartup();
        SocketHandle* probe = nullptr;
        if (udpOpen(probe, dataPort, 0) == 0) udpClose(probe, 0);
    }
    ~HostSide() {
        udpClose(sender, 0);
        netCleanup();
    }
    void send(const std::string& frame) {
        uint16_t port = 0;
        if (sender == nullptr) udpOpen(sender, port, 0);
        EXPECT_EQ(0, udpSend(sender, frame.data(), static_cast<int32_t>(frame.size()), kLoopback, dataPort, 1000000));
    }

    SharedStorage storage;
    CLogH log = quietLogger("TRK");
    ConfigLines lines;
    uint16_t dataPort = 0;
    SocketHandle* sender = nullptr;
};

// The real device in-process, driven as a host drives it.
class DeviceRig : public HostSide {
public:
    ~DeviceRig() { device.reset(); }
    // Line 1 is "port <data port>", then the lines given; init's output is kept.
    int configure(std::initializer_list<ConfigLines::Words> words) {
        lines.add({"port", std::to_string(dataPort)});
        for (const ConfigLines::Words& line : words) lines.add(line);
        device = std::make_unique<zelostrel>(lines.config(), &log);
        InitInfo info = storage.initInfo();
        int result = 0;
        initOutput = capturedStdout([&] { result = device->init(&info); });
        return result;
    }
    // One host cycle, with a frame sent first unless null; its output is kept.
    int cycle(const char* frame = nullptr) {
        if (frame != nullptr) send(frame);
        int result = 0;
        cycleOutput = capturedStdout([&] { result = device->recvData(&masks, 0); });
        return result;
    }
    int cycle(const std::string& frame) { return cycle(frame.c_str()); }

    std::unique_ptr<zelostrel> device;
    UpdateMasks masks{0, 0};
    std::string initOutput, cycleOutput;
};

}  // namespace test_support
