#pragma once
// The fixture of trackview's tests (trackview_test.cpp, and the POSIX-only
// trackview_posix_test.cpp): a host whose stand-in module wrote known
// records and stopped, and trackview run against it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/records.h"
#include "host/storage_reader.h"
#include "tests/host_process_support.h"

namespace hosttest {

using storage::AttachOutcome;
using storage::StorageReader;

// The snapshot of the still host below, as JSON: cycle 5 of the stand-in
// module, trackers at 5 + id / 100 and valuators at a tenth of that, cut
// toward zero by the storage's encodings (5.02 is stored as 5.01999), the
// time words (cycle, id), buttons 1 and 3 pressed.
inline std::string stillSnapshotJson() {
    const char* values[] = {"5.01", "5.01999", "5.03"};
    std::string json = "{\"trackers\":[";
    for (int id = 1; id <= 3; ++id) {
        json += std::string(id > 1 ? "," : "") + "{\"id\":" + std::to_string(id);
        for (const char* name : {"x", "y", "z", "azim", "elev", "roll"}) {
            json += std::string(",\"") + name + "\":" + values[id - 1];
        }
        json += ",\"sec\":5,\"usec\":" + std::to_string(id) + "}";
    }
    json += "],\"controllers\":[";
    for (int id = 1; id <= 2; ++id) {
        json += std::string(id > 1 ? "," : "") + "{\"id\":" + std::to_string(id) +
                ",\"valuators\":[0.501,0.501,0.501,0.501,0.501,0.501,0.501,0.501],"
                "\"buttons\":[1,0,1,0,0,0,0,0,0,0,0,0,0,0,0,0],\"sec\":5,\"usec\":" +
                std::to_string(id) + "}";
    }
    return json + "]}\n";
}

class Trackview : public ::testing::Test {
protected:
    // A host that is killed cannot remove its storage.
    ~Trackview() override {
        host.reset();
        hosttest::removeStorage(storage);
    }

    // A host whose stand-in module writes 5 cycles and then keeps still.
    void startStillHost() {
        std::string config = dir.write("host.conf", "storage " + storage + "\ndevice still " FAKE_MODULE_LIBRARY
                                                                          "\n  trackers 3\n  controllers 2\n"
                                                                          "  writes 5\n  rate 0\n");
        host = std::make_unique<Child>(std::vector<std::string>{TRACKHOST_PROGRAM, config}, dir.path());
        ASSERT_TRUE(hosttest::waitFor(
            [&] {
                return (reader.isAttached() || reader.attach(storage) == AttachOutcome::Attached) &&
                       reader.readCounters().trackers[2] == 5 && reader.readCounters().controllers[1] == 5;
            },
            10000))
            << host->output() << host->errors();
        ASSERT_TRUE(reader.copyTrackers(trackers));
        ASSERT_TRUE(reader.copyControllers(controllers));
        ASSERT_EQ(3u, trackers.size());
        ASSERT_EQ(2u, controllers.size());
    }

    std::unique_ptr<Child> run(std::vector<std::string> argv, const std::vector<std::string>& environment = {}) {
        argv.insert(argv.begin(), TRACKVIEW_PROGRAM);
        auto child = std::make_unique<Child>(argv, dir.path(), environment);
        EXPECT_TRUE(child->waitExit(10000));
        return child;
    }
    TempDir dir;
    std::string storage = hosttest::uniqueStorageName("view");
    std::unique_ptr<Child> host;
    StorageReader reader;
    std::vector<TraData> trackers;
    std::vector<ConData> controllers;
};

}  // namespace hosttest
