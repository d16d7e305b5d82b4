// trackview and the Python reader against what only POSIX systems have:
// stopped processes, FIFOs and objects of other users under a storage's
// name, and the reader in another language.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/trackview_fixture.h"

using hosttest::Child;
using hosttest::stillSnapshotJson;
using storage::AttachOutcome;

namespace {

class TrackviewPosix : public hosttest::Trackview {
protected:
    std::unique_ptr<Child> runPython(const std::string& name, const char* option = "--json") {
        auto child = std::make_unique<Child>(
            std::vector<std::string>{"/usr/bin/env", "python3", READ_STORAGE_SCRIPT, "--storage", name, option},
            dir.path());
        EXPECT_TRUE(child->waitExit(10000));
        return child;
    }
};

}  // namespace

TEST_F(TrackviewPosix, AFifoUnderTheNameIsRefusedNotWaitedOn) {
    ASSERT_EQ(0, mkfifo(("/dev/shm/" + storage).c_str(), 0600));
    EXPECT_EQ("trackview: \"" + storage + "\" is not a trackhost storage of layout version 1\n",
              run({"--storage", storage, "--once"})->errors());
}

TEST_F(TrackviewPosix, AStoppedViewerNeverHoldsUpTheHost) {
    std::string config = dir.write("busy.conf", "storage " + storage + "\ndevice busy " FAKE_MODULE_LIBRARY
                                                                       "\n  trackers 32\n  controllers 32\n  rate 0\n");
    host = std::make_unique<Child>(std::vector<std::string>{TRACKHOST_PROGRAM, config}, dir.path());
    ASSERT_TRUE(hosttest::waitFor([&] { return reader.attach(storage) == AttachOutcome::Attached; }, 10000));
    Child view({TRACKVIEW_PROGRAM, "--storage", storage, "--interval", "10"}, dir.path());
    ASSERT_TRUE(hosttest::waitForOutput(view, "TRACKERS (32)"));
    kill(static_cast<pid_t>(view.pid()), SIGSTOP);
    // Mapped for reading only, it cannot hold a lock, wherever it stopped.
    std::string maps = hosttest::readFile("/proc/" + std::to_string(view.pid()) + "/maps");
    size_t at = maps.find("/dev/shm/" + storage);
    ASSERT_NE(std::string::npos, at) << maps;
    size_t line = maps.rfind('\n', at) + 1;
    EXPECT_EQ("r--s", maps.substr(maps.find(' ', line) + 1, 4));
    uint32_t before = reader.readCounters().trackers[31];
    EXPECT_TRUE(hosttest::waitFor([&] { return reader.readCounters().trackers[31] > before + 100; }, 2000));
    hosttest::Clock::time_point asked = hosttest::Clock::now();
    host->requestStop();
    ASSERT_TRUE(host->waitExit(2000));
    EXPECT_EQ(0, host->exitCode());
    RecordProperty("stop_millis", std::to_string(hosttest::millisSince(asked)));
}

TEST_F(TrackviewPosix, WarnsWhenTheStorageIsNotTheHostUsersOwn) {
    if (getuid() != 0) {
        GTEST_SKIP() << "only root can give the storage to another user";
    }
    startStillHost();
    ASSERT_EQ(0, chown(("/dev/shm/" + storage).c_str(), 65534, 65534));
    std::unique_ptr<Child> view = run({"--storage", storage, "--once", "--json"});
    EXPECT_EQ(0, view->exitCode());
    EXPECT_EQ(stillSnapshotJson(), view->output());
    EXPECT_EQ("trackview: warning: storage \"" + storage + "\" belongs to user nobody, but its host process " +
                  std::to_string(host->pid()) + " runs as user root; someone else may have made it\n",
              view->errors());
}

TEST_F(TrackviewPosix, ThePythonReaderGivesTheSameValues) {
    if (std::system("python3 -c pass >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "python3 is not installed";
    }
    startStillHost();
    std::unique_ptr<Child> script = runPython(storage);
    ASSERT_EQ(0, script->exitCode()) << script->errors();
    // Python divides in double precision; the shortest texts agree here.
    EXPECT_EQ(stillSnapshotJson(), script->output());

    host->requestStop();
    ASSERT_TRUE(host->waitExit(5000));
    // No host, a name a host is still sizing, and names no host can have.
    const std::string noHost = "read_storage: no host holds storage \"" + storage + "\"\n";
    std::unique_ptr<Child> gone = runPython(storage, "--controllers");
    EXPECT_EQ(1, gone->exitCode());
    EXPECT_EQ(noHost, gone->errors());
    std::ofstream("/dev/shm/" + storage);
    std::unique_ptr<Child> empty = runPython(storage);
    EXPECT_EQ(1, empty->exitCode());
    EXPECT_EQ(noHost, empty->errors());
    for (const char* name : {"", "../x"}) {
        std::unique_ptr<Child> invalid = runPython(name);
        EXPECT_EQ(2, invalid->exitCode());
        EXPECT_EQ(std::string("read_storage: invalid storage name \"") + name +
                      "\" (use 1 to 200 letters, digits, '.', '_' or '-')\n",
                  invalid->errors());
    }
}
