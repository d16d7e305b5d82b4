#pragma once
// The fixture of the host's tests (trackhost_test.cpp, and the POSIX-only
// trackhost_posix_test.cpp): configuration files, hosts run as children,
// refusals and clean ends.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "host/storage_reader.h"
#include "tests/host_process_support.h"

namespace hosttest {

using storage::AttachOutcome;
using storage::StorageReader;

class Trackhost : public ::testing::Test {
protected:
    // A host that a test leaves to be killed cannot remove its storage.
    ~Trackhost() override { hosttest::removeStorage(storage); }

    std::string writeConfig(const std::string& body, const std::string& file = "host.conf") {
        return dir.write(file, "storage " + storage + "\n" + body);
    }

    std::unique_ptr<Child> startHost(const std::string& config, const std::vector<std::string>& options = {},
                                     const std::vector<std::string>& environment = {}) {
        std::vector<std::string> argv{TRACKHOST_PROGRAM};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(config);
        return std::make_unique<Child>(argv, dir.path(), environment);
    }

    // Attaches once the host has set up its storage and its devices.
    bool attachWhenReady(StorageReader& reader, const Child& host, uint32_t trackers) {
        return hosttest::waitFor(
            [&] {
                if (!reader.isAttached() && reader.attach(storage) != AttachOutcome::Attached) {
                    return false;
                }
                std::vector<TraData> records;
                return reader.copyTrackers(records) && records.size() >= trackers &&
                       host.output().find("running") != std::string::npos;
            },
            10000);
    }

    // Runs a host that must refuse; returns its error output. What held the
    // storage's name before still holds it; otherwise nothing is left.
    std::string refusal(const std::string& config, bool nameWasTaken = false) {
        std::unique_ptr<Child> host = startHost(config);
        EXPECT_TRUE(host->waitExit(10000));
        EXPECT_EQ(2, host->exitCode()) << host->output() << host->errors();
        EXPECT_EQ(nameWasTaken, hosttest::storageExists(storage));
        EXPECT_FALSE(hosttest::storageExists(storage + "~lock"));
        return host->errors();
    }

    // Runs `trackhost --check`; returns its exit status, its output and its errors.
    std::tuple<int, std::string, std::string> check(const std::string& config) {
        std::unique_ptr<Child> host = startHost(config, {"--check"});
        EXPECT_TRUE(host->waitExit(10000));
        EXPECT_FALSE(hosttest::storageExists(storage)) << "a check creates no storage";
        return {host->exitCode(), host->output(), host->errors()};
    }

    // Asks the host to stop as a service manager (or Ctrl-C) does; it must
    // end cleanly and leave no storage behind. (On Windows a reader that
    // still maps the storage keeps it alive: the tests detach theirs first.)
    void terminate(Child& host) {
        host.requestStop();
        expectCleanEnd(host);
    }
    void expectCleanEnd(Child& host) {
        ASSERT_TRUE(host.waitExit(5000));
        EXPECT_EQ(0, host.exitCode()) << host.errors();
        EXPECT_FALSE(hosttest::storageExists(storage));
        EXPECT_FALSE(hosttest::storageExists(storage + "~lock"));
    }

    TempDir dir;
    std::string storage = hosttest::uniqueStorageName("host");
    std::string fake = FAKE_MODULE_LIBRARY;
};

}  // namespace hosttest
