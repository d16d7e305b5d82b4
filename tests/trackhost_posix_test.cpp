// trackhost against what only POSIX systems have: signals, pipes, FIFOs, devices and other users' objects.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "tests/trackhost_fixture.h"

using namespace hosttest;

TEST_F(Trackhost, EveryStopSignalEndsTheHostCleanlyAndABrokenOutputNone) {
    std::string config = writeConfig("device a " + fake + "\n");
    std::error_code error;
    for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM}) {
        SCOPED_TRACE(signal);
        std::unique_ptr<Child> host = startHost(config);
        ASSERT_TRUE(host->said("running")) << host->errors();
        int lockDescriptors = 0;  // one holds the lock; none is left from checking that its name leads to it
        for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(host->pid()) + "/fd"))
            lockDescriptors += std::filesystem::read_symlink(fd.path(), error).filename() == storage + "~lock";
        EXPECT_EQ(1, lockDescriptors);
        kill(static_cast<pid_t>(host->pid()), SIGPIPE);  // what writing to a reader that went away raises: ignored
        kill(static_cast<pid_t>(host->pid()), signal);
        expectCleanEnd(*host);
    }
    // The reader of the host's output is gone before the host writes to it; the host's status comes on stderr.
    Child piped({"/bin/sh", "-c", "{ " TRACKHOST_PROGRAM " '" + config + "'; echo $? >&2; } | true"}, dir.path());
    struct Reader : StorageReader {  // the pipeline's host is no child of ours: killed here if left
        ~Reader() {
            if (isAttached() && hostAlive()) kill(static_cast<pid_t>(hostProcessId()), SIGKILL);
        }
    } reader;
    ASSERT_TRUE(waitFor([&] { return reader.attach(storage) == AttachOutcome::Attached; }, 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(reader.hostAlive());
    kill(static_cast<pid_t>(reader.hostProcessId()), SIGTERM);
    EXPECT_EQ(0, piped.finish());
    EXPECT_EQ("0\n", piped.errors());
    EXPECT_FALSE(storageExists(storage)) << "it stopped cleanly";
}

TEST_F(Trackhost, NeverTakesOverWhatAnotherUserMade) {
    if (getuid() != 0) GTEST_SKIP() << "not root: only root can run a host as another user (nobody)";
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/setpriv to run a host as another user";
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0755));
    // Left behind by root's killed host: neither another user's host takes it nor, once it is theirs, root's.
    std::string config = writeConfig("device a " + fake + "\n");
    std::unique_ptr<Child> killed = startHost(config);
    ASSERT_TRUE(killed->said("running"));
    killed->kill();
    ASSERT_TRUE(killed->waitExit(5000));
    const std::string taken =
        "trackhost: " + config + ":1: storage name \"" + storage + "\" is taken by an object of another user (user ";
    const std::string where = "); remove it if nothing uses it (on Linux: /dev/shm/" + storage + ")\n";
    Child other({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", TRACKHOST_PROGRAM, config},
                dir.path());
    EXPECT_EQ(2, other.finish());
    EXPECT_EQ(taken + "root" + where, other.errors());
    ASSERT_EQ(0, chown(("/dev/shm/" + storage).c_str(), 65534, 65534));
    EXPECT_EQ(taken + "nobody" + where, refusal(config, true));
}

// Under the storage's name (any local user can make one there), as configuration or as module.
TEST_F(Trackhost, FifosAndDevicesAreRefusedNotWaitedOn) {
    std::string config = writeConfig("device a " + fake + "\n"), fifo = dir.path() + "/fifo";
    ASSERT_EQ(0, mkfifo(("/dev/shm/" + storage).c_str(), 0600) + mkfifo(fifo.c_str(), 0600));
    const std::string notRegular = ": cannot read the configuration file: it is not a regular file\n";
    const std::pair<std::string, std::string> cases[] = {
        {config, ":1: storage name \"" + storage + "\" is taken (it is not a shared memory object); remove it if " +
                     "nothing uses it (on Linux: /dev/shm/" + storage + ")\n"},
        {fifo, notRegular},
        {"/dev/zero", notRegular},
        {writeConfig("device a " + fifo + "\n", "fifo.conf"),
         ":2: device \"a\": cannot load module library \"" + fifo + "\": it is not a regular file\n"},
    };
    for (const auto& [path, message] : cases) {
        EXPECT_EQ("trackhost: " + path + message, refusal(path, path == config)) << path;
        removeStorage(storage);
    }
}
