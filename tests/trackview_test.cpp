// trackview (and the Python reader) against a real running host: the
// numbers they print are the numbers in the storage.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/records.h"
#include "host/storage_reader.h"
#include "platform/shared_memory.h"
#include "tests/host_process_support.h"
#include "tools/trackview/rate_meter.h"
#include "tools/trackview/snapshot_format.h"

using hosttest::Child;
using hosttest::TempDir;
using storage::AttachOutcome;
using storage::StorageReader;

namespace {

// The snapshot of the still host below, as JSON: cycle 5 of the stand-in
// module, trackers at 5 + id / 100 and valuators at a tenth of that, cut
// toward zero by the storage's encodings (5.02 is stored as 5.01999), the
// time words (cycle, id), buttons 1 and 3 pressed.
std::string stillSnapshotJson() {
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
    std::unique_ptr<Child> runPython(const std::string& name, const char* option = "--json") {
        auto child = std::make_unique<Child>(
            std::vector<std::string>{"/usr/bin/env", "python3", READ_STORAGE_SCRIPT, "--storage", name, option},
            dir.path());
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

}  // namespace

TEST_F(Trackview, OnceJsonGivesTheRecordsValuesInEveryLocale) {
    startStillHost();
    std::unique_ptr<Child> view = run({"--storage", storage, "--once", "--json"}, {"LC_ALL=C"});
    ASSERT_EQ(0, view->exitCode()) << view->errors();
    EXPECT_EQ(stillSnapshotJson(), view->output());
    // The same values the test reads from the storage itself.
    EXPECT_EQ(5.01999f, trackers[1].getRoll());
    EXPECT_EQ(0.501f, controllers[1].getValuator(8));
    EXPECT_EQ(1, controllers[0].getButton(3));

    ASSERT_NE(nullptr, std::setlocale(LC_ALL, "de_DE.UTF-8")) << "de_DE.UTF-8 is installed here";
    std::setlocale(LC_ALL, "C");
    std::unique_ptr<Child> german = run({"--storage", storage, "--once", "--json"}, {"LC_ALL=de_DE.UTF-8"});
    EXPECT_EQ(stillSnapshotJson(), german->output());
}

TEST_F(Trackview, OnceTableFitsAnEightyColumnTerminal) {
    startStillHost();
    std::unique_ptr<Child> view = run({"--storage", storage, "--once"}, {"LC_ALL=de_DE.UTF-8"});
    ASSERT_EQ(0, view->exitCode()) << view->errors();
    std::string table = view->output();
    std::istringstream lines(table);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_LT(line.size(), 80u) << line;
    }
    EXPECT_EQ(12, count) << table;
    const char* rows[] = {
        "TRACKERS (3)",
        "  2     5.020     5.020     5.020     5.020     5.020     5.020     old       -\n",
        "CONTROLLERS (2)",
        "  1     old       -  1 3\n",
        "     v1-8   0.501   0.501",
    };
    for (const char* row : rows) {
        EXPECT_NE(std::string::npos, table.find(row)) << row << "\n" << table;
    }
}

TEST_F(Trackview, LiveViewRefreshesAndEndsWithTheHost) {
    std::string config = dir.write("live.conf", "storage " + storage + "\ndevice live " FAKE_MODULE_LIBRARY
                                                                       "\n  trackers 1\n  controllers 1\n"
                                                                       "  rate 100\n");
    host = std::make_unique<Child>(std::vector<std::string>{TRACKHOST_PROGRAM, "--seconds", "1.5", config},
                                   dir.path());
    ASSERT_TRUE(hosttest::waitFor([&] { return reader.attach(storage) == AttachOutcome::Attached; }, 10000));
    std::unique_ptr<Child> view = run({"--storage", storage, "--interval", "50"});
    EXPECT_EQ(1, view->exitCode());
    EXPECT_EQ("trackview: the host of storage \"" + storage + "\" has ended\n", view->errors());
    // Several snapshots, and once the meter has two readings a rate.
    std::string output = view->output();
    size_t snapshots = 0;
    for (size_t at = output.find("TRACKERS"); at != std::string::npos; at = output.find("TRACKERS", at + 1)) {
        ++snapshots;
    }
    EXPECT_GT(snapshots, 5u);
    size_t header = output.rfind(" id         x");
    ASSERT_NE(std::string::npos, header);
    size_t rowStart = output.find('\n', header) + 1;
    std::string row = output.substr(rowStart, output.find('\n', rowStart) - rowStart);
    EXPECT_GT(std::atof(row.substr(row.size() - 7).c_str()), 10.0) << row;
}

TEST_F(Trackview, NoHostOrNoStorageIsAClearMessage) {
    std::unique_ptr<Child> view = run({"--storage", storage, "--once"});
    EXPECT_EQ(1, view->exitCode());
    EXPECT_EQ("trackview: no host holds storage \"" + storage + "\"\n", view->errors());
    EXPECT_EQ("", view->output());

    platform::SharedMemory foreign;
    ASSERT_EQ(platform::SharedMemoryResult::Ok, platform::createSharedMemory(storage.c_str(), 64, foreign).result);
    view = run({"--storage", storage, "--once", "--json"});
    EXPECT_EQ(1, view->exitCode());
    EXPECT_EQ("trackview: \"" + storage + "\" is not a trackhost storage of layout version 1\n", view->errors());
    platform::unmapSharedMemory(foreign);
    hosttest::removeStorage(storage);
    ASSERT_EQ(0, mkfifo(("/dev/shm/" + storage).c_str(), 0600));  // refused, not waited on
    EXPECT_EQ(view->errors(), run({"--storage", storage, "--once"})->errors());

    // Bad arguments: status 2 and the usage.
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--storage", "a/b", "--once"},
         "invalid storage name \"a/b\" (use 1 to 200 letters, digits, '.', '_' or '-')"},
        {{"--interval", "5"}, "invalid value \"5\" for --interval (10 to 60000)"},
        {{"--storage"}, "--storage needs a value"},
    };
    for (const auto& [arguments, message] : refused) {
        view = run(arguments);
        EXPECT_EQ(2, view->exitCode());
        EXPECT_EQ(0u, view->errors().find("trackview: " + message + "\nusage: trackview")) << view->errors();
    }
}

TEST_F(Trackview, AStoppedViewerNeverHoldsUpTheHost) {
    std::string config = dir.write("busy.conf", "storage " + storage + "\ndevice busy " FAKE_MODULE_LIBRARY
                                                                       "\n  trackers 32\n  controllers 32\n  rate 0\n");
    host = std::make_unique<Child>(std::vector<std::string>{TRACKHOST_PROGRAM, config}, dir.path());
    ASSERT_TRUE(hosttest::waitFor([&] { return reader.attach(storage) == AttachOutcome::Attached; }, 10000));
    Child view({TRACKVIEW_PROGRAM, "--storage", storage, "--interval", "10"}, dir.path());
    ASSERT_TRUE(hosttest::waitForOutput(view, "TRACKERS (32)"));
    view.signal(SIGSTOP);
    // Mapped for reading only, it cannot hold a lock, wherever it stopped.
    std::string maps = hosttest::readFile("/proc/" + std::to_string(view.pid()) + "/maps");
    size_t at = maps.find("/dev/shm/" + storage);
    ASSERT_NE(std::string::npos, at) << maps;
    size_t line = maps.rfind('\n', at) + 1;
    EXPECT_EQ("r--s", maps.substr(maps.find(' ', line) + 1, 4));
    uint32_t before = reader.readCounters().trackers[31];
    EXPECT_TRUE(hosttest::waitFor([&] { return reader.readCounters().trackers[31] > before + 100; }, 2000));
    hosttest::Clock::time_point asked = hosttest::Clock::now();
    host->signal(SIGTERM);
    ASSERT_TRUE(host->waitExit(2000));
    EXPECT_EQ(0, host->exitCode());
    RecordProperty("stop_millis", std::to_string(hosttest::millisSince(asked)));
}

TEST_F(Trackview, WarnsWhenTheStorageIsNotTheHostUsersOwn) {
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

TEST_F(Trackview, ThePythonReaderGivesTheSameValues) {
    if (std::system("python3 -c pass >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "python3 is not installed";
    }
    startStillHost();
    std::unique_ptr<Child> script = runPython(storage);
    ASSERT_EQ(0, script->exitCode()) << script->errors();
    // Python divides in double precision; the shortest texts agree here.
    EXPECT_EQ(stillSnapshotJson(), script->output());

    host->signal(SIGTERM);
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

TEST(TrackviewJson, IsTheDocumentedShape) {
    trackview::Snapshot snapshot;
    snapshot.trackers.push_back({1, 1.5f, -0.25f, 0.0f, 90.0f, -45.5f, 180.0f, 1700000000u, 250000u});
    snapshot.controllers.push_back({2, 1700000000u, 1000u, {0.5f, -1.0f}, {0, 1, 1}});
    EXPECT_EQ(
        "{\"trackers\":[{\"id\":1,\"x\":1.5,\"y\":-0.25,\"z\":0,\"azim\":90,\"elev\":-45.5,\"roll\":180,"
        "\"sec\":1700000000,\"usec\":250000}],"
        "\"controllers\":[{\"id\":2,\"valuators\":[0.5,-1],\"buttons\":[0,1,1],\"sec\":1700000000,\"usec\":1000}]}\n",
        trackview::formatJson(snapshot));
    EXPECT_EQ("{\"trackers\":[],\"controllers\":[]}\n", trackview::formatJson(trackview::Snapshot{}));
}

TEST(TrackviewScreen, ShowsWhatFitsAndSaysHowMuchIsHidden) {
    trackview::Snapshot snapshot;
    for (uint32_t id = 1; id <= 32; ++id) {
        snapshot.trackers.push_back({id, 1, 2, 3, 4, 5, 6, 0, 0});
    }
    std::string table = trackview::formatTable(snapshot, trackview::TableContext{});  // 37 lines
    EXPECT_EQ(table, trackview::fitToScreen(table, 38, 80));
    const struct {
        int rows, columns;
        size_t lines;
    } screens[] = {{24, 80, 23}, {24, 30, 23}, {5, 80, 4}, {1, 80, 0}};
    for (const auto& screen : screens) {
        std::string fitted = trackview::fitToScreen(table, screen.rows, screen.columns);
        std::istringstream in(fitted);
        size_t lines = 0;
        for (std::string line; std::getline(in, line); ++lines) {
            EXPECT_LT(line.size(), static_cast<size_t>(screen.columns)) << line;
        }
        EXPECT_EQ(screen.lines, lines) << fitted;
        if (lines > 0) {
            std::string note = "... " + std::to_string(37 - (lines - 1)) + " more lines do not fit the terminal";
            EXPECT_EQ(note.substr(0, screen.columns - 1) + "\n", fitted.substr(fitted.rfind('\n', fitted.size() - 2) + 1));
        }
    }
}

TEST(TrackviewRates, CountWritesOverTheLastSecondAcrossTheWrap) {
    trackview::RateMeter meter;
    storage::UpdateCounters counters{};
    EXPECT_LT(meter.trackerRate(1), 0.0);
    counters.trackers[0] = 0xFFFFFFF0u;  // about to wrap
    meter.add(10000, counters);
    EXPECT_LT(meter.trackerRate(1), 0.0) << "one reading tells no rate";
    counters.trackers[0] += 60;
    counters.controllers[31] = 30;
    meter.add(10500, counters);
    EXPECT_DOUBLE_EQ(120.0, meter.trackerRate(1));
    EXPECT_DOUBLE_EQ(60.0, meter.controllerRate(32));
    // Readings older than the window drop out: the rate follows a slow-down.
    for (uint64_t t = 10600; t <= 13000; t += 100) {
        counters.trackers[0] += 1;
        meter.add(t, counters);
    }
    EXPECT_NEAR(10.0, meter.trackerRate(1), 1e-9);
    EXPECT_LT(meter.trackerRate(0), 0.0);
    EXPECT_LT(meter.trackerRate(33), 0.0);
}
