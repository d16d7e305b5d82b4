#pragma once
// Child processes (output into files: a chatty child never blocks on a full pipe), free ports, names of their own.
#include <atomic>
#include <chrono>
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

inline bool waitFor(const std::function<bool()>& condition, int timeoutMillis) {
    for (Clock::time_point start = Clock::now(); !condition();
         std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        if (millisSince(start) > timeoutMillis) return false;
    return true;
}

inline std::string readFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// A name of its own, for a storage or a folder.
inline std::string uniqueStorageName(const std::string& tag) {
    static std::atomic<int> counter{0};
    return "zt-" + tag + "-" + std::to_string(platform::currentProcessId()) + "-" + std::to_string(counter++);
}

// A temporary folder, removed with its files (on Windows once a child's console let go of them).
class TempDir {
public:
    TempDir() : path_((std::filesystem::temp_directory_path() / uniqueStorageName("dir")).string()) {
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        waitFor([&] { return removeTree(path_); }, 5000);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ + "/" + name, std::ios::binary) << text;
        return path_ + "/" + name;
    }

private:
    // One pass; under Wine std::filesystem::remove_all can retry a file whose deletion is pending for ever.
    static bool removeTree(const std::filesystem::path& path) {
        std::error_code error;
        bool removed = true;
        if (std::filesystem::is_directory(std::filesystem::symlink_status(path, error)))
            for (std::filesystem::directory_iterator entry(path, error), end; !error && entry != end;
                 entry.increment(error))
                removed = removeTree(entry->path()) && removed;
        return std::filesystem::remove(path, error) || (!error && removed);
    }

    std::string path_;
};

// Two bodies and a Gripwand at round feet and degrees (body 1 turned about y); buttons 1, 3, joystick (0.5, -0.25).
constexpr char kKnownFrame[] =
    "fr 7\n"
    "6d 2 [0 1.000][304.8 609.6 -914.4][1 0 0 0 1 0 0 0 1] [1 1.000][152.4 0 3048][0 0 -1 0 1 0 1 0 0]\n"
    "6df2 1 1 [0 1.000 8 2][0 1524 0][1 0 0 0 1 0 0 0 1][5 0.5 -0.25]\n";

inline bool storageExists(const std::string& name) {
    platform::SharedMemory view;
    platform::SharedMemoryResult result = platform::openSharedMemory(name.c_str(), false, view).result;
    platform::unmapSharedMemory(view);
    return result != platform::SharedMemoryResult::NotFound;
}

// What a killed host leaves (where names can be removed at all).
inline void removeStorage(const std::string& name) {
    platform::removeSharedMemory(name.c_str());
    platform::removeSharedMemory((name + "~lock").c_str());
}

constexpr uint32_t kLoopback = 0x7F000001;

inline int freeUdpPort() {
    platform::ServerSocket* socket = nullptr;
    uint16_t port = 0;
    int bound = platform::udpBind(socket, kLoopback, port);
    platform::closeServerSocket(socket);
    return bound == 0 ? port : -1;
}

// A child process, killed and collected on destruction; `environment` ("NAME=value") adds to the test's own.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::string& outputFolder,
          const std::vector<std::string>& environment = {}) {
        static std::atomic<int> counter{0};
        outPath_ = outputFolder + "/child" + std::to_string(counter++) + ".out";
        errPath_ = outPath_.substr(0, outPath_.size() - 3) + "err";
        platform::startChildProcess(argv, outPath_, errPath_, environment, process_);
        pid_ = process_.id;
    }
    ~Child() {
        if (platform::killChildProcess(process_)) waitExit(10000);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    uint32_t pid() const { return pid_; }
    bool running() const { return process_.isRunning(); }
    // On Windows the stop goes through the child's console, which another thread may hold a moment: retried.
    bool requestStop() const {
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (platform::requestChildStop(process_)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    void kill() const { platform::killChildProcess(process_); }
    // True once it ended; exitCode() then is its status (or 128 + the signal).
    bool waitExit(int timeoutMillis) {
        return !running() ? pid_ != 0
                          : platform::waitChildProcess(process_, static_cast<uint32_t>(timeoutMillis), exitCode_);
    }
    int finish() { return waitExit(10000) ? exitCode_ : -1; }
    int exitCode() const { return exitCode_; }
    std::string output() const { return readFile(outPath_); }
    std::string errors() const { return readFile(errPath_); }
    bool said(const std::string& text, int timeoutMillis = 5000) const {
        return waitFor([&] { return output().find(text) != std::string::npos; }, timeoutMillis);
    }
    // The number behind `text` in its output (a port the system chose), or -1.
    int numberAfter(const std::string& text) const {
        if (!said(text)) return -1;
        std::string out = output();
        return std::atoi(out.c_str() + out.find(text) + text.size());
    }

private:
    platform::ChildProcess process_;
    uint32_t pid_ = 0;
    int exitCode_ = -1;
    std::string outPath_, errPath_;
};

}  // namespace hosttest
