#pragma once
// The fixture of trackview_test.cpp and trackview_posix_test.cpp: a host whose stand-in module wrote and keeps still.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/storage_reader.h"
#include "tests/host_process_support.h"

namespace hosttest {

using storage::AttachOutcome;
using storage::StorageReader;

// The still host's snapshot as JSON: cycle 5 of the stand-in module, trackers at 5 + id / 100 and valuators at a
// tenth of that, cut toward zero by the storage's encodings (5.02 is 5.01999), time words (cycle, id), buttons 1, 3.
constexpr char kStillSnapshotJson[] =
    "{\"trackers\":[{\"id\":1,\"x\":5.01,\"y\":5.01,\"z\":5.01,\"azim\":5.01,\"elev\":5.01,\"roll\":5.01,"
    "\"sec\":5,\"usec\":1},{\"id\":2,\"x\":5.01999,\"y\":5.01999,\"z\":5.01999,\"azim\":5.01999,"
    "\"elev\":5.01999,\"roll\":5.01999,\"sec\":5,\"usec\":2},{\"id\":3,\"x\":5.03,\"y\":5.03,\"z\":5.03,"
    "\"azim\":5.03,\"elev\":5.03,\"roll\":5.03,\"sec\":5,\"usec\":3}],\"controllers\":[{\"id\":1,\"valuators\":"
    "[0.501,0.501,0.501,0.501,0.501,0.501,0.501,0.501],\"buttons\":[1,0,1,0,0,0,0,0,0,0,0,0,0,0,0,0],\"sec\":5,"
    "\"usec\":1},{\"id\":2,\"valuators\":[0.501,0.501,0.501,0.501,0.501,0.501,0.501,0.501],\"buttons\":"
    "[1,0,1,0,0,0,0,0,0,0,0,0,0,0,0,0],\"sec\":5,\"usec\":2}]}\n";

class Trackview : public ::testing::Test {
protected:
    ~Trackview() override {
        host.reset();
        removeStorage(storage);  // a killed host cannot
    }
    // A host running `device` (lines of the stand-in module) on the storage.
    void startHost(const std::string& device, const std::vector<std::string>& environment = {}) {
        const std::string config = dir.write("host.conf", "storage " + storage + "\ndevice d " + device);
        host = std::make_unique<Child>(std::vector<std::string>{TRACKHOST_PROGRAM, config}, dir.path(), environment);
    }
    // One whose stand-in module writes 5 cycles and then keeps still.
    void startStillHost() {
        startHost(FAKE_MODULE_LIBRARY "\n  trackers 3\n  controllers 2\n  writes 5\n  rate 0\n");
        ASSERT_TRUE(waitFor(
            [&] {
                return (reader.isAttached() || reader.attach(storage) == AttachOutcome::Attached) &&
                       reader.readCounters().trackers[2] == 5 && reader.readCounters().controllers[1] == 5;
            },
            10000))
            << host->output() << host->errors();
    }
    std::unique_ptr<Child> run(std::vector<std::string> argv, const std::vector<std::string>& environment = {}) {
        argv.insert(argv.begin(), TRACKVIEW_PROGRAM);
        auto child = std::make_unique<Child>(argv, dir.path(), environment);
        EXPECT_TRUE(child->waitExit(10000));
        return child;
    }
    TempDir dir;
    std::string storage = uniqueStorageName("view");
    std::unique_ptr<Child> host;
    StorageReader reader;
};

}  // namespace hosttest
