#pragma once
// Test-only scaffolding for the host's tests: runs the real programs as
// child processes (output into files, so a chatty child never blocks on a
// full pipe), picks free loopback ports and storage names, and writes
// configuration files into a temporary folder. Every wait is bounded. The
// same on every system.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/child_process.h"
#include "platform/process.h"
#include "platform/server_socket.h"
#include "platform/shared_memory.h"

namespace hosttest {

using Clock = std::chrono::steady_clock;

inline long long millisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Polls `condition` every 5 ms until it holds or the time is up.
inline bool waitFor(const std::function<bool()>& condition, int timeoutMillis) {
    Clock::time_point start = Clock::now();
    while (!condition()) {
        if (millisSince(start) > timeoutMillis) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Switches this process to a German locale (a decimal comma) under the
// name this system has for it; false where none is installed. A child
// started with LC_ALL=de_DE.UTF-8 gets it too (Wine takes it from there).
inline bool useGermanLocale() {
    return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr || std::setlocale(LC_ALL, "German_Germany.1252") != nullptr;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A folder of its own in the system's temporary folder, removed with
// everything in it.
class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       ("trackhost-test-" + std::to_string(platform::currentProcessId()) + "-" +
                                        std::to_string(counter++));
        std::filesystem::create_directories(folder);
        path_ = folder.string();
    }
    // Windows removes a file once every process has closed it, and a child's
    // console may hold the child's output a moment after the child ended.
    // (The folder holds files only; remove_all can loop for good on Wine.)
    ~TempDir() {
        std::error_code error;
        waitFor(
            [&] {
                for (const auto& entry : std::filesystem::directory_iterator(path_, error)) {
                    std::filesystem::remove(entry.path(), error);
                }
                return std::filesystem::remove(path_, error);
            },
            5000);
        if (error) {
            std::fprintf(stderr, "could not remove %s: %s\n", path_.c_str(), error.message().c_str());
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string write(const std::string& name, const std::string& text) const {
        std::string file = path_ + "/" + name;
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }

private:
    std::string path_;
};

// A frame in the tracking system's text format with two standard bodies and
// a Gripwand whose poses give round numbers in feet and degrees: 304.8 mm is
// one foot; the second body is turned 90 degrees about y (column by column:
// (0 0 -1) (0 1 0) (1 0 0)). The wand's buttons 1 and 3 are pressed, its
// joystick is at (0.5, -0.25).
constexpr char kKnownFrame[] =
    "fr 7\n"
    "6d 2 [0 1.000][304.8 609.6 -914.4][1 0 0 0 1 0 0 0 1] [1 1.000][152.4 0 3048][0 0 -1 0 1 0 1 0 0]\n"
    "6df2 1 1 [0 1.000 8 2][0 1524 0][1 0 0 0 1 0 0 0 1][5 0.5 -0.25]\n";

// A storage name no other test run uses at the same time.
inline std::string uniqueStorageName(const std::string& tag) {
    static std::atomic<int> counter{0};
    return "zt-" + tag + "-" + std::to_string(platform::currentProcessId()) + "-" + std::to_string(counter++);
}

// Whether anything lies under the name: a storage, a host's lock
// ("NAME~lock"), or whatever else took the name.
inline bool storageExists(const std::string& name) {
    platform::SharedMemory view;
    platform::SharedMemoryResult result = platform::openSharedMemory(name.c_str(), false, view).result;
    platform::unmapSharedMemory(view);
    return result != platform::SharedMemoryResult::NotFound;
}

// Removes a storage and its host's lock, as a killed host leaves them
// (where names can be removed: on Windows they go with their last user).
inline void removeStorage(const std::string& name) {
    platform::removeSharedMemory(name.c_str());
    platform::removeSharedMemory((name + "~lock").c_str());
}

constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1

// A UDP port on 127.0.0.1 that was free a moment ago (the system picks it).
inline int freeUdpPort() {
    platform::ServerSocket* socket = nullptr;
    uint16_t port = 0;
    int bound = platform::udpBind(socket, kLoopback, port);
    platform::closeServerSocket(socket);
    return bound == 0 ? port : -1;
}

// Sends frames to 127.0.0.1:port from its own thread until destroyed: frame
// k is compose(k); a period of 0 sends as fast as the socket takes them.
class FrameSender {
public:
    FrameSender(int port, std::function<std::string(uint64_t)> compose, int periodMicros)
        : compose_(std::move(compose)) {
        uint16_t ownPort = 0;
        platform::udpBind(socket_, kLoopback, ownPort);
        thread_ = std::thread([this, port, periodMicros] {
            for (uint64_t k = 1; !stop_.load(); ++k) {
                std::string frame = compose_(k);
                platform::udpSendTo(socket_, frame.data(), frame.size(), kLoopback, static_cast<uint16_t>(port));
                sent_.store(k);
                if (periodMicros > 0) {
                    std::this_thread::sleep_for(std::chrono::microseconds(periodMicros));
                } else if (k % 64 == 0) {
                    std::this_thread::yield();
                }
            }
        });
    }
    ~FrameSender() {
        stop_.store(true);
        thread_.join();
        platform::closeServerSocket(socket_);
    }
    FrameSender(const FrameSender&) = delete;
    FrameSender& operator=(const FrameSender&) = delete;

    uint64_t sent() const { return sent_.load(); }

private:
    std::function<std::string(uint64_t)> compose_;
    platform::ServerSocket* socket_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> sent_{0};
    std::thread thread_;
};

// One program run as a child process; killed and collected on destruction.
class Child {
public:
    // `environment` entries ("NAME=value") are added to (or replace in) the
    // test's own environment.
    Child(const std::vector<std::string>& argv, const std::string& outputFolder,
          const std::vector<std::string>& environment = {}) {
        static std::atomic<int> counter{0};
        std::string stem = outputFolder + "/child" + std::to_string(counter++);
        outPath_ = stem + ".out";
        errPath_ = stem + ".err";
        platform::startChildProcess(argv, outPath_, errPath_, environment, process_);
        pid_ = process_.id;
    }
    ~Child() {
        if (platform::killChildProcess(process_)) {
            waitExit(10000);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    uint32_t pid() const { return pid_; }
    bool running() const { return process_.isRunning(); }
    // Asks it to stop as a service manager (or, on Windows, Ctrl-C) does.
    void requestStop() const { platform::requestChildStop(process_); }
    void kill() const { platform::killChildProcess(process_); }

    // True when the child ended within the time; exitCode() then tells how
    // (the exit status, or 128 + the signal).
    bool waitExit(int timeoutMillis) {
        return !running() ? pid_ != 0 : platform::waitChildProcess(process_, static_cast<uint32_t>(timeoutMillis), exitCode_);
    }
    int exitCode() const { return exitCode_; }
    std::string output() const { return readFile(outPath_); }
    std::string errors() const { return readFile(errPath_); }

private:
    platform::ChildProcess process_;
    uint32_t pid_ = 0;
    int exitCode_ = -1;
    std::string outPath_;
    std::string errPath_;
};

// Waits until the child has written `text` to its standard output.
inline bool waitForOutput(const Child& child, const std::string& text, int timeoutMillis = 5000) {
    return waitFor([&] { return child.output().find(text) != std::string::npos; }, timeoutMillis);
}

// The number behind `text` in the child's output (a port the system chose),
// or -1 when the text does not come.
inline int numberAfter(const Child& child, const std::string& text) {
    if (!waitForOutput(child, text)) {
        return -1;
    }
    std::string output = child.output();
    return std::atoi(output.c_str() + output.find(text) + text.size());
}

}  // namespace hosttest
