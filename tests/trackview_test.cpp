// trackview (and the Python reader) against a real running host: the
// numbers they print are the numbers in the storage.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "framework/records.h"
#include "host/storage_reader.h"
#include "platform/shared_memory.h"
#include "tests/trackview_fixture.h"
#include "tools/ostrelsim/recording_format.h"
#include "tools/trackview/rate_meter.h"
#include "tools/trackview/snapshot_format.h"

using hosttest::Child;
using hosttest::stillSnapshotJson;
using hosttest::TempDir;
using hosttest::Trackview;
using storage::AttachOutcome;
using storage::StorageReader;

TEST_F(Trackview, OnceJsonGivesTheRecordsValuesInEveryLocale) {
    startStillHost();
    std::unique_ptr<Child> view = run({"--storage", storage, "--once", "--json"}, {"LC_ALL=C"});
    ASSERT_EQ(0, view->exitCode()) << view->errors();
    EXPECT_EQ(stillSnapshotJson(), view->output());
    // The same values the test reads from the storage itself.
    EXPECT_EQ(5.01999f, trackers[1].getRoll());
    EXPECT_EQ(0.501f, controllers[1].getValuator(8));
    EXPECT_EQ(1, controllers[0].getButton(3));

    ASSERT_TRUE(hosttest::useGermanLocale()) << "a German locale is installed here";
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

// The whole chain as a user runs it: ostrelsim replays frames of known poses
// (hosttest::kKnownFrame) to trackhost running the shipped module, trackview
// shows their values, and the host ends on a stop request, storage and all.
TEST_F(Trackview, TheWholeChainShowsTheFramesAndEndsOnRequest) {
    const std::string recording = dir.path() + "/known.rec";
    ostrelsim::RecordingWriter writer;
    std::string error;
    ASSERT_TRUE(writer.create(recording, error)) << error;
    for (uint64_t frame = 0; frame < 10; ++frame) {
        ASSERT_TRUE(writer.append(frame * 10000000, hosttest::kKnownFrame, sizeof hosttest::kKnownFrame - 1));
    }
    ASSERT_TRUE(writer.close());
    const std::string port = std::to_string(hosttest::freeUdpPort());
    std::string config = dir.write("chain.conf", "storage " + storage + "\ndevice cave " REAL_MODULE_LIBRARY
                                                 "\n  port " + port + "\n  standardbodies 2\n  gripwands 1\n");
    host = std::make_unique<Child>(std::vector<std::string>{TRACKHOST_PROGRAM, config}, dir.path());
    ASSERT_TRUE(hosttest::waitForOutput(*host, "running")) << host->output() << host->errors();
    Child simulator({OSTRELSIM_PROGRAM, "replay", recording, "--to", "127.0.0.1:" + port, "--loop"}, dir.path());
    // Without the time words, which tell when the records were written.
    const std::string expected =
        "{\"trackers\":[{\"id\":1,\"x\":0,\"y\":5,\"z\":0,\"azim\":0,\"elev\":0,\"roll\":0},"
        "{\"id\":2,\"x\":1,\"y\":2,\"z\":-3,\"azim\":0,\"elev\":0,\"roll\":0},"
        "{\"id\":3,\"x\":0.5,\"y\":0,\"z\":10,\"azim\":90.00001,\"elev\":0,\"roll\":0}],"
        "\"controllers\":[{\"id\":1,\"valuators\":[0.5,-0.25,0,0,0,0,0,0],"
        "\"buttons\":[1,0,1,0,0,0,0,0,0,0,0,0,0,0,0,0]}]}\n";
    std::string shown;
    for (int attempt = 0; attempt < 50 && shown != expected; ++attempt) {
        std::unique_ptr<Child> view = run({"--storage", storage, "--once", "--json"});
        shown = std::regex_replace(view->output(), std::regex(",\"sec\":[0-9]+,\"usec\":[0-9]+"), "");
    }
    EXPECT_EQ(expected, shown) << host->output() << simulator.errors();
    host->requestStop();
    ASSERT_TRUE(host->waitExit(5000));
    EXPECT_EQ(0, host->exitCode()) << host->errors();
    EXPECT_NE(std::string::npos, host->output().find("storage \"" + storage + "\" removed\n")) << host->output();
    EXPECT_FALSE(hosttest::storageExists(storage));
    EXPECT_FALSE(hosttest::storageExists(storage + "~lock"));
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
