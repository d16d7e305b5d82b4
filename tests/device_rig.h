#pragma once
// The real device in-process, as a host drives it: configuration lines,
// real shared storage, and a sender that puts frames on the device's UDP
// data port over loopback.
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "device/zelostrel.h"
#include "link/socket_layer.h"
#include "platform/server_socket.h"
#include "shared_storage_fixture.h"

namespace test_support {

constexpr uint32_t kLoopback = 0x7f000001;
constexpr const char* kIdentity = "[1 0 0 0 1 0 0 0 1]";

// A UDP port that is free right now (the system's pick, then released).
inline uint16_t freeUdpPort() {
    platform::ServerSocket* socket = nullptr;
    uint16_t port = 0;
    if (platform::udpBind(socket, 0, port) != 0) return 0;
    platform::closeServerSocket(socket);
    return port;
}

class ConfigLines {
public:
    ConfigLines() { config_.name = "ostrel"; }
    ConfigLines& add(std::initializer_list<const char*> words) {
        auto& kept = texts_.emplace_back(words.begin(), words.end());
        ConfigLine& line = config_.lines[config_.numLines];
        line.lineNumber = static_cast<int32_t>(config_.numLines) + 3;  // lines 3, 4, ...
        ++config_.numLines;
        line.keyword = kept[0].c_str();
        for (size_t i = 1; i < kept.size(); ++i) line.args[line.argCount++] = kept[i].c_str();
        return *this;
    }
    DeviceConfig* config() { return &config_; }

private:
    DeviceConfig config_{};
    std::vector<std::vector<std::string>> texts_;
};

inline CLogH hostLogger(const char* name = "TRK") {
    CLogH log;
    log.showDate = log.showTime = log.showThreadId = 0;
    log.setName(name);
    return log;
}

class DeviceRig {
public:
    DeviceRig() : log(hostLogger()) {
        dataPort = freeUdpPort();
        portText = std::to_string(dataPort);
    }
    ~DeviceRig() {
        device.reset();
        udpClose(sender, 0);
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
        testing::internal::CaptureStdout();
        int result = configure(lines);
        initOutput = testing::internal::GetCapturedStdout();
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
        testing::internal::CaptureStdout();
        int result = device->recvData(&masks, 0);
        cycleOutput = testing::internal::GetCapturedStdout();
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
