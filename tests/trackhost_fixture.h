#pragma once
// The fixture of trackhost_test.cpp and trackhost_posix_test.cpp: hosts as children, refusals and clean ends.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/storage_reader.h"
#include "tests/host_process_support.h"

namespace hosttest {

using storage::AttachOutcome;
using storage::StorageReader;

class Trackhost : public ::testing::Test {
protected:
    ~Trackhost() override { removeStorage(storage); }  // a killed host cannot

    std::string writeConfig(const std::string& body, const std::string& file = "host.conf") {
        return dir.write(file, "storage " + storage + "\n" + body);
    }
    std::unique_ptr<Child> startHost(const std::string& config, std::vector<std::string> options = {}) {
        options.insert(options.begin(), TRACKHOST_PROGRAM);
        options.push_back(config);
        return std::make_unique<Child>(options, dir.path());
    }
    // Attaches once the host has set up its storage and its devices.
    bool attachWhenReady(StorageReader& reader, const Child& host, uint32_t trackers) {
        std::vector<TraData> records;
        return waitFor(
            [&] {
                return (reader.isAttached() || reader.attach(storage) == AttachOutcome::Attached) &&
                       reader.copyTrackers(records) && records.size() >= trackers &&
                       host.output().find("running") != std::string::npos;
            },
            10000);
    }
    // A host that must refuse: its errors. What held the name before still holds it; otherwise nothing is left.
    std::string refusal(const std::string& config, bool nameWasTaken = false) {
        std::unique_ptr<Child> host = startHost(config);
        EXPECT_EQ(2, host->finish()) << host->output() << host->errors();
        EXPECT_EQ(std::make_pair(nameWasTaken, false),
                  std::make_pair(storageExists(storage), storageExists(storage + "~lock")));
        return host->errors();
    }
    void expectCleanEnd(Child& host, int status = 0) {
        ASSERT_TRUE(host.waitExit(5000));
        EXPECT_EQ(status, host.exitCode()) << host.errors();
        EXPECT_FALSE(storageExists(storage) || storageExists(storage + "~lock"));
    }

    TempDir dir;
    std::string storage = uniqueStorageName("host"), fake = FAKE_MODULE_LIBRARY;
};

}  // namespace hosttest
