// trackhost against what only POSIX systems have: signals, FIFOs and devices.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/trackhost_fixture.h"

using namespace hosttest;

TEST_F(Trackhost, EveryStopSignalEndsTheHostCleanlyAndABrokenOutputNone) {
    std::string config = writeConfig("device a " + fake + "\n");
    for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM}) {
        SCOPED_TRACE(signal);
        std::unique_ptr<Child> host = startHost(config);
        ASSERT_TRUE(host->said("running")) << host->errors();
        kill(static_cast<pid_t>(host->pid()), SIGPIPE);  // what writing to a reader that went away raises: ignored
        kill(static_cast<pid_t>(host->pid()), signal);
        expectCleanEnd(*host);
    }
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
