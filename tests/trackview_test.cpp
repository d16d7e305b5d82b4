// trackview against a real host (it prints the storage's numbers), the whole chain, its screen fitting and rates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/shared_memory.h"
#include "tests/support/output.h"
#include "tests/trackview_fixture.h"
#include "tools/ostrelsim/recording_format.h"
#include "tools/trackview/rate_meter.h"
#include "tools/trackview/snapshot_format.h"

using hosttest::Child;
using hosttest::Trackview;

TEST_F(Trackview, OnceGivesTheRecordsValuesInEveryLocale) {
    startStillHost();
    std::unique_ptr<Child> json = run({"--storage", storage, "--once", "--json"}, {"LC_ALL=C"});
    ASSERT_EQ(0, json->exitCode()) << json->errors();
    EXPECT_EQ(hosttest::kStillSnapshotJson, json->output());
    if (!test_support::GermanLocale().installed) GTEST_SKIP() << "no German locale is installed";
    EXPECT_EQ(hosttest::kStillSnapshotJson,
              run({"--storage", storage, "--once", "--json"}, {"LC_ALL=de_DE.UTF-8"})->output());
    std::string table = run({"--storage", storage, "--once"}, {"LC_ALL=de_DE.UTF-8"})->output();
    EXPECT_NE(std::string::npos,
              table.find("  2     5.020     5.020     5.020     5.020     5.020     5.020     old       -\n"))
        << table;
}

TEST_F(Trackview, NoHostOrNoStorageOrABadCommandLineIsAClearMessage) {
    std::unique_ptr<Child> view = run({"--storage", storage, "--once"});
    EXPECT_EQ(1, view->exitCode());
    EXPECT_EQ("trackview: no host holds storage \"" + storage + "\"\n", view->errors());
    platform::SharedMemory foreign;
    ASSERT_EQ(platform::SharedMemoryResult::Ok, platform::createSharedMemory(storage.c_str(), 64, foreign).result);
    view = run({"--storage", storage, "--once", "--json"});
    EXPECT_EQ(1, view->exitCode());
    EXPECT_EQ("trackview: \"" + storage + "\" is not a trackhost storage of layout version 1\n", view->errors());
    platform::unmapSharedMemory(foreign);
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

// The whole chain: ostrelsim replays known poses to trackhost (real module, German locale); trackview shows them live.
TEST_F(Trackview, TheWholeChainShowsTheFramesLiveAndEndsWithTheHost) {
    const std::string recording = dir.path() + "/known.rec";
    ostrelsim::RecordingWriter writer;
    std::string error;
    ASSERT_TRUE(writer.create(recording, error)) << error;
    for (uint64_t frame = 0; frame < 10; ++frame)
        ASSERT_TRUE(writer.append(frame * 10000000, hosttest::kKnownFrame, sizeof hosttest::kKnownFrame - 1));
    ASSERT_TRUE(writer.close());
    const std::string port = std::to_string(hosttest::freeUdpPort());
    std::vector<std::string> german;
    if (test_support::GermanLocale().installed) german.push_back("LC_ALL=de_DE.UTF-8");
    startHost(REAL_MODULE_LIBRARY "\n  port " + port + "\n  standardbodies 2\n  gripwands 1\n", german);
    ASSERT_TRUE(host->said("running")) << host->output() << host->errors();
    Child simulator({OSTRELSIM_PROGRAM, "replay", recording, "--to", "127.0.0.1:" + port, "--loop"}, dir.path());
    Child view({TRACKVIEW_PROGRAM, "--storage", storage, "--interval", "50"}, dir.path());
    // The Gripwand is tracker 1, then the bodies; the rate shown last, once the meter has two readings.
    const std::string rows[] = {"  1     0.000     5.000     0.000     0.000     0.000     0.000 ",
                                "  3     0.500     0.000    10.000    90.000     0.000     0.000 ",
                                "     v1-8   0.500  -0.250   0.000   0.000   0.000   0.000   0.000   0.000\n"};
    auto lastRate = [&] {
        const std::string output = view.output();
        const size_t end = output.rfind("\nCONTROLLERS");
        return end == std::string::npos ? 0.0 : std::atof(output.substr(end - 7, 7).c_str());
    };
    EXPECT_TRUE(hosttest::waitFor([&] { return lastRate() > 10.0; }, 5000)) << view.output() << simulator.errors();
    for (const std::string& row : rows) EXPECT_NE(std::string::npos, view.output().find(row)) << row;
    host->requestStop();
    EXPECT_EQ(0, host->finish()) << host->errors();
    ASSERT_TRUE(view.waitExit(10000));
    EXPECT_EQ(1, view.exitCode());
    EXPECT_EQ("trackview: the host of storage \"" + storage + "\" has ended\n", view.errors());
    // Gone once no one maps it (Windows keeps a name while the viewer still does).
    EXPECT_FALSE(hosttest::storageExists(storage) || hosttest::storageExists(storage + "~lock"));
}

TEST(TrackviewTable, ShowsEachRecordsAgeAndWhatFitsTheScreen) {
    const auto linesOf = [](const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    };
    // The age in ms, at 20000.5 s.
    const std::tuple<uint32_t, uint32_t, std::string> ages[] = {
        {20000, 250000, "250"}, {20001, 0, "0"}, {10000, 501000, "9999999"}, {10000, 500000, "old"}, {0, 0, "-"}};
    trackview::Snapshot snapshot;
    for (uint32_t id = 1; id <= 32; ++id) {
        const auto& [seconds, microseconds, age] = ages[std::min<size_t>(id - 1, 4)];
        snapshot.trackers.push_back({id, 1, 2, 3, 4, 5, 6, seconds, microseconds});
    }
    // Buttons 3 to 24 fill the line to its last column exactly, 25 goes on; valuator 9 starts a line.
    std::vector<int> buttons(32, 0);
    std::fill(buttons.begin() + 2, buttons.begin() + 25, 1);
    snapshot.controllers.push_back({1, 0, 0, std::vector<float>(9, 0.0f), buttons});
    trackview::TableContext context;
    context.nowSeconds = 20000.5;
    std::string table = trackview::formatTable(snapshot, context);
    const size_t total = linesOf(table).size();
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(std::string(8 - std::get<2>(ages[i]).size(), ' ') + std::get<2>(ages[i]),
                  linesOf(table)[3 + i].substr(63, 8));
    EXPECT_NE(std::string::npos, table.find(" 23 24\n" + std::string(21, ' ') + "25\n     v1-8")) << table;
    EXPECT_NE(std::string::npos, table.find("\n     v9-9   0.000\n")) << table;
    EXPECT_EQ(table, trackview::fitToScreen(table, static_cast<int>(total) + 1, 80));
    const int screens[][3] = {{24, 80, 23}, {24, 30, 23}, {5, 2, 4}, {1, 80, 0}};  // rows, columns, lines shown
    for (const auto& [rows, columns, shown] : screens) {
        std::vector<std::string> lines = linesOf(trackview::fitToScreen(table, rows, columns));
        ASSERT_EQ(static_cast<size_t>(shown), lines.size());
        for (const std::string& line : lines) EXPECT_LT(line.size(), static_cast<size_t>(columns)) << line;
        std::string note = "... " + std::to_string(total + 1 - lines.size()) + " more lines do not fit the terminal";
        EXPECT_EQ(lines.empty() ? "" : note.substr(0, columns - 1), lines.empty() ? "" : lines.back());
    }
}

TEST(TrackviewRates, CountWritesOverTheLastSecondAcrossTheWrap) {
    trackview::RateMeter meter;
    storage::UpdateCounters counters{};
    counters.trackers[0] = 0xFFFFFFF0u;  // about to wrap
    meter.add(10000, counters);
    EXPECT_LT(meter.trackerRate(1), 0.0) << "one reading tells no rate";
    counters.trackers[0] += 60;
    counters.controllers[31] = 30;
    meter.add(10500, counters);
    EXPECT_DOUBLE_EQ(120.0, meter.trackerRate(1));
    EXPECT_DOUBLE_EQ(60.0, meter.controllerRate(32));
    for (uint64_t t = 10600; t <= 13000; t += 100) {  // older readings drop out: the rate follows a slow-down
        counters.trackers[0] += 1;
        meter.add(t, counters);
    }
    EXPECT_NEAR(10.0, meter.trackerRate(1), 1e-9);
    EXPECT_TRUE(meter.trackerRate(0) < 0.0 && meter.trackerRate(33) < 0.0) << "no such tracker";
}
