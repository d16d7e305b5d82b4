// trackview against what only POSIX systems have: stopped processes, FIFOs, other users' objects.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/trackview_fixture.h"

using hosttest::Trackview;

TEST_F(Trackview, AFifoUnderTheNameIsRefusedNotWaitedOn) {
    ASSERT_EQ(0, mkfifo(("/dev/shm/" + storage).c_str(), 0600));
    EXPECT_EQ("trackview: \"" + storage + "\" is not a trackhost storage of layout version 1\n",
              run({"--storage", storage, "--once"})->errors());
}

TEST_F(Trackview, AStoppedViewerNeverHoldsUpTheHost) {
    startHost(FAKE_MODULE_LIBRARY "\n  trackers 32\n  controllers 32\n  rate 0\n");
    ASSERT_TRUE(hosttest::waitFor([&] { return reader.attach(storage) == storage::AttachOutcome::Attached; }, 10000));
    hosttest::Child view({TRACKVIEW_PROGRAM, "--storage", storage, "--interval", "10"}, dir.path());
    ASSERT_TRUE(view.said("TRACKERS (32)"));
    kill(static_cast<pid_t>(view.pid()), SIGSTOP);
    // Mapped for reading only, it cannot hold a lock, wherever it stopped.
    std::string maps = hosttest::readFile("/proc/" + std::to_string(view.pid()) + "/maps");
    size_t at = maps.find("/dev/shm/" + storage);
    ASSERT_NE(std::string::npos, at) << maps;
    EXPECT_EQ("r--s", maps.substr(maps.find(' ', maps.rfind('\n', at) + 1) + 1, 4));
    uint32_t before = reader.readCounters().trackers[31];
    EXPECT_TRUE(hosttest::waitFor([&] { return reader.readCounters().trackers[31] > before + 100; }, 2000));
    host->requestStop();
    ASSERT_TRUE(host->waitExit(2000));
    EXPECT_EQ(0, host->exitCode());
}

// On a terminal the table is rewritten in place, each line clearing its old tail, within the window's size.
TEST_F(Trackview, OnATerminalTheTableIsRewrittenInPlaceWithinTheWindow) {
    if (access("/usr/bin/script", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/script to give trackview a terminal";
    startStillHost();
    const std::string command = "stty rows 6 cols 50; exec timeout -s INT 1 " TRACKVIEW_PROGRAM " --storage " + storage;
    hosttest::Child view({"/usr/bin/script", "-qec", command, "/dev/null"}, dir.path());
    ASSERT_TRUE(view.waitExit(10000));
    const std::string out = view.output();
    const size_t first = out.find("\x1b[H"), second = out.find("\x1b[H", first + 1);
    ASSERT_NE(std::string::npos, second) << out;
    const std::string frame = out.substr(first + 3, second - first - 3);
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = frame.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(frame.substr(start, end - start));
    EXPECT_EQ("\x1b[J", frame.substr(frame.rfind('\n') + 1));
    EXPECT_TRUE(lines.size() >= 3 && lines.size() <= 6) << frame;
    for (const std::string& line : lines)
        EXPECT_TRUE(line.size() <= 50 + 3 && line.size() >= 3 && line.compare(line.size() - 3, 3, "\x1b[K") == 0)
            << line;
}

TEST_F(Trackview, WarnsWhenTheStorageIsNotTheHostUsersOwn) {
    if (getuid() != 0) GTEST_SKIP() << "only root can give the storage to another user";
    startStillHost();
    ASSERT_EQ(0, chown(("/dev/shm/" + storage).c_str(), 65534, 65534));
    auto view = run({"--storage", storage, "--once", "--json"});
    EXPECT_EQ(0, view->exitCode());
    EXPECT_EQ(hosttest::kStillSnapshotJson, view->output());
    EXPECT_EQ("trackview: warning: storage \"" + storage + "\" belongs to user nobody, but its host process " +
                  std::to_string(host->pid()) + " runs as user root; someone else may have made it\n",
              view->errors());
}
