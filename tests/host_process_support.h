#pragma once
// Test-only scaffolding for the host's tests: runs the real programs as
// child processes (output into files, so a chatty child never blocks on a
// full pipe), picks free loopback ports and storage names, and writes
// configuration files into a temporary folder. Every wait is bounded.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/server_socket.h"

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

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A folder under /tmp, removed with everything in it.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/trackhost-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made != nullptr ? made : "/tmp";
    }
    ~TempDir() {
        std::string command = "rm -rf '" + path_ + "'";
        if (path_ != "/tmp" && std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "could not remove %s\n", path_.c_str());
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
    return "zt-" + tag + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

inline bool storageExists(const std::string& name) {
    struct stat facts {};
    return stat(("/dev/shm/" + name).c_str(), &facts) == 0;
}

// Removes a storage and its host's lock, as a killed host leaves them.
inline void removeStorage(const std::string& name) {
    unlink(("/dev/shm/" + name).c_str());
    unlink(("/dev/shm/" + name + "~lock").c_str());
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
        // Everything the child needs is made before fork: the test may run threads.
        std::vector<std::string> env = mergedEnvironment(environment);
        std::vector<char*> args = pointersTo(argv);
        std::vector<char*> envp = pointersTo(env);
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(err, 2);
            // A clean signal mask: the test runner's must not leak into the child.
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            execve(args[0], args.data(), envp.data());
            _exit(127);
        }
    }
    ~Child() {
        if (running()) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0 && !exited_; }
    void signal(int number) const {
        if (running()) {
            kill(pid_, number);
        }
    }

    // True when the child ended within the time; exitCode() then tells how
    // (the exit status, or 128 + the signal).
    bool waitExit(int timeoutMillis) {
        if (pid_ <= 0) {
            return false;
        }
        return waitFor(
            [this] {
                if (exited_) {
                    return true;
                }
                int status = 0;
                if (waitpid(pid_, &status, WNOHANG) == pid_) {
                    exited_ = true;
                    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                }
                return exited_;
            },
            timeoutMillis);
    }
    int exitCode() const { return exitCode_; }
    std::string output() const { return readFile(outPath_); }
    std::string errors() const { return readFile(errPath_); }

private:
    static std::vector<char*> pointersTo(const std::vector<std::string>& texts) {
        std::vector<char*> pointers;
        for (const std::string& text : texts) {
            pointers.push_back(const_cast<char*>(text.c_str()));
        }
        pointers.push_back(nullptr);
        return pointers;
    }
    static std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
        std::vector<std::string> env(extra);
        for (char** e = environ; *e != nullptr; ++e) {
            std::string entry = *e;
            auto sameName = [&](const std::string& x) {
                return entry.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0;
            };
            if (std::none_of(extra.begin(), extra.end(), sameName)) {
                env.push_back(entry);
            }
        }
        return env;
    }

    pid_t pid_ = -1;
    bool exited_ = false;
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
