#pragma once
// The real device in-process, as a host drives it: configuration lines,
// real shared storage, and a sender that puts frames on the device's UDP
// data port over loopback.
#include <initializer_list>
#include <memory>
#include <string>

#include "device/zelostrel.h"
#include "link/socket_layer.h"
#include "shared_storage_fixture.h"
#include "stdout_capture.h"

namespace test_support {

constexpr uint32_t kLoopback = 0x7f000001;
constexpr const char* kIdentity = "[1 0 0 0 1 0 0 0 1]";

// A UDP port that is free right now (the system's pick, then released).
inline uint16_t freeUdpPort() {
    SocketHandle* socket = nullptr;
    uint16_t port = 0;
    if (udpOpen(socket, port, 0) == 0) udpClose(socket, 0);
    return port;
}

class DeviceRig {
public:
    // The rig's own sockets need the socket library for the rig's whole life.
    DeviceRig() : log(quietLogger("TRK")) {
        netStartup();
        dataPort = freeUdpPort();
        portText = std::to_string(dataPort);
    }
    ~DeviceRig() {
        device.reset();
        udpClose(sender, 0);
        netCleanup();
    }

    // Adds "port <free port>" first, then the given lines; runs init.
    int configure(std::initializer_list<std::initializer_list<const char*>> lines) {
        this->lines.add({"port", portText.c_str()});
        for (const auto& words : lines) this->lines.add(words);
        device = std::make_unique<zelostrel>(this->lines.config(), &log);
        InitInfo info = storage.initInfo();
        return device->init(&info);
    }
    // init with its output captured.
    int configureQuietly(std::initializer_list<std::initializer_list<const char*>> lines) {
        int result = 0;
        initOutput = capturedStdout([&] { result = configure(lines); });
        return result;
    }

    void send(const std::string& frame) {
        if (sender == nullptr) {
            uint16_t port = 0;
            ASSERT_EQ(0, udpOpen(sender, port, 0));
        }
        ASSERT_EQ(0, udpSend(sender, frame.data(), static_cast<int32_t>(frame.size()), kLoopback, dataPort,
                             1000000));
    }
    // One host cycle; returns recvData's result, output in cycleOutput.
    int cycle() {
        int result = 0;
        cycleOutput = capturedStdout([&] { result = device->recvData(&masks, 0); });
        return result;
    }
    int cycle(const std::string& frame) {
        send(frame);
        return cycle();
    }

    SharedStorage storage;
    CLogH log;
    ConfigLines lines;
    uint16_t dataPort;
    std::string portText;
    std::unique_ptr<zelostrel> device;
    UpdateMasks masks{0, 0};
    std::string initOutput;
    std::string cycleOutput;
    SocketHandle* sender = nullptr;
};

}  // namespace test_support
