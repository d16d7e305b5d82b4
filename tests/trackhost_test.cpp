// trackhost run for real: the daemon as a child process with real shared
// memory and real module libraries (a stand-in module with known output, and
// the shipped module fed real frames on loopback).
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "framework/records.h"
#include "host/device_runner.h"
#include "host/storage_layout.h"
#include "host/storage_reader.h"
#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "platform/regular_file.h"
#include "platform/shared_memory.h"
#include "platform/shared_mutex.h"
#include "tests/trackhost_fixture.h"

using hosttest::Child;
using hosttest::TempDir;
using hosttest::Trackhost;
using storage::AttachOutcome;
using storage::StorageReader;

namespace {

// The stand-in module's values (tests/fake_device_module.cpp).
float fakeValue(uint32_t cycle, uint32_t id) {
    return static_cast<float>(cycle % 10000) + static_cast<float>(id) / 100.0f;
}

// A record written by the stand-in module in one piece (or never written).
bool fakeTrackerIsWhole(const TraData& r, uint32_t id) {
    uint32_t cycle = records::fromBE32(r.seconds);
    uint32_t v = cycle == 0 ? 0 : records::encodeFix5(fakeValue(cycle, id));
    return records::fromBE32(r.id) == id && records::fromBE32(r.microseconds) == (cycle == 0 ? 0 : id) &&
           r.x == v && r.y == v && r.z == v && r.azim == v && r.elev == v && r.roll == v &&
           r.stamp.seconds == static_cast<int32_t>(cycle);
}

bool fakeControllerIsWhole(const ConData& r, uint32_t id) {
    uint32_t cycle = records::fromBE32(r.seconds);
    if (records::fromBE32(r.id) != id) {
        return false;
    }
    if (cycle == 0) {
        return r.numValuators == 0 && r.buttonBits[0] == 0;
    }
    uint32_t v = records::encodeFix3(fakeValue(cycle, id) / 10.0f);
    bool ok = records::fromBE32(r.microseconds) == id && records::fromBE32(r.numValuators) == 8 &&
              records::fromBE32(r.numButtons) == 16 && r.stamp.seconds == static_cast<int32_t>(cycle) &&
              r.buttonBits[0] == (cycle & 0xFFu) && r.buttonBits[1] == ((cycle >> 8) & 0xFFu) &&
              r.buttonBits[2] == 0 && r.buttonBits[3] == 0;
    for (uint32_t k = 0; k < 8; ++k) {
        ok = ok && r.valuators[k] == v;
    }
    return ok;
}

}  // namespace

TEST_F(Trackhost, StorageHeaderIsTheDocumentedLayout) {
    std::unique_ptr<Child> host =
        startHost(writeConfig("device wand " + fake + "\n  trackers 3\n  controllers 2\n  rate 100\n"));
    StorageReader reader;
    ASSERT_TRUE(attachWhenReady(reader, *host, 3)) << host->output() << host->errors();

    platform::SharedMemory view;
    ASSERT_EQ(platform::SharedMemoryResult::Ok, platform::openSharedMemory(storage.c_str(), false, view).result);
    auto wordAt = [&](size_t offset) {
        uint32_t word = 0;
        std::memcpy(&word, static_cast<const char*>(view.address) + offset, sizeof word);
        return word;
    };
    ASSERT_GE(view.size, 8128u);  // on Windows the mapping is whole pages
    EXPECT_EQ(0, std::memcmp(view.address, "TRACKHST", 8));
    // Version, header size, capacities, counts, record offsets; process id;
    // offsets of the counters and the locks, total size.
    const std::pair<size_t, uint32_t> header[] = {
        {8, 1},     {12, 64},    {16, 32},  {20, 32},  {24, 3},   {28, 2}, {32, 448},
        {36, 2240}, {48, host->pid()}, {52, 64}, {56, 320}, {60, 8128},
    };
    for (const auto& [offset, value] : header) {
        EXPECT_EQ(value, wordAt(offset)) << "offset " << offset;
    }
    for (uint32_t i = 0; i < 32; ++i) {
        EXPECT_EQ(records::toBE32(i + 1), wordAt(448 + 56 * i)) << "every record carries its id, written or not";
        EXPECT_EQ(records::toBE32(i + 1), wordAt(2240 + 184 * i));
    }
    platform::unmapSharedMemory(view);

    // The update counters follow the writes.
    storage::UpdateCounters first = reader.readCounters();
    ASSERT_TRUE(hosttest::waitFor(
        [&] {
            storage::UpdateCounters now = reader.readCounters();
            return now.trackers[2] > first.trackers[2] + 5 && now.controllers[1] > first.controllers[1] + 5;
        },
        5000));
    EXPECT_EQ(0u, reader.readCounters().trackers[3]) << "no module writes tracker 4";
}

TEST_F(Trackhost, DevicesTakeStorageIdsInFileOrder) {
    std::unique_ptr<Child> host = startHost(writeConfig("device first " + fake +
                                                        "\n  trackers 2\n  controllers 1\n  colour blue\n"
                                                        "device second " + fake +
                                                        "\n  trackers 3\n  controllers 2\n"));
    StorageReader reader;
    ASSERT_TRUE(attachWhenReady(reader, *host, 5)) << host->output() << host->errors();
    std::vector<TraData> trackers;
    std::vector<ConData> controllers;
    ASSERT_TRUE(hosttest::waitFor(
        [&] {
            reader.copyTrackers(trackers);
            reader.copyControllers(controllers);
            return trackers.size() == 5 && controllers.size() == 3 &&
                   std::all_of(trackers.begin(), trackers.end(), [](const TraData& r) { return r.seconds != 0; }) &&
                   std::all_of(controllers.begin(), controllers.end(), [](const ConData& r) { return r.seconds != 0; });
        },
        5000));
    for (uint32_t id = 1; id <= 5; ++id) {
        EXPECT_TRUE(fakeTrackerIsWhole(trackers[id - 1], id)) << "tracker " << id;
    }
    for (uint32_t id = 1; id <= 3; ++id) {
        EXPECT_TRUE(fakeControllerIsWhole(controllers[id - 1], id)) << "controller " << id;
    }
    std::string log = host->output();
    EXPECT_NE(std::string::npos, log.find("device \"first\" (" + fake + "): trackers 1-2, controllers 1\n")) << log;
    EXPECT_NE(std::string::npos, log.find("device \"second\" (" + fake + "): trackers 3-5, controllers 2-3\n"))
        << log;
    EXPECT_NE(std::string::npos,
              log.find("device \"first\": line 5 (\"colour\") was not read by the module; is it spelt right?\n"))
        << log;
    EXPECT_EQ(log.find("was not read"), log.rfind("was not read")) << "only that line";
    reader.detach();
    terminate(*host);
}

TEST_F(Trackhost, CyclesAndSecondsEndTheRunByThemselves) {
    // A relative library path starts at the configuration's folder.
    const std::string local = "local-module" + std::filesystem::path(fake).extension().string();
    std::filesystem::copy_file(fake, dir.path() + "/" + local);
    std::string config = writeConfig("device a " + local + "\n  rate 0\ndevice b " + fake + "\n  rate 0\n");
    std::unique_ptr<Child> counted = startHost(config, {"--cycles", "25"});
    ASSERT_TRUE(counted->waitExit(10000));
    EXPECT_EQ(0, counted->exitCode()) << counted->errors();
    EXPECT_NE(std::string::npos, counted->output().find("stopped after 50 cycle(s)")) << counted->output();
    EXPECT_FALSE(hosttest::storageExists(storage));

    hosttest::Clock::time_point started = hosttest::Clock::now();
    std::unique_ptr<Child> timed = startHost(config, {"--seconds", "0.5"});
    ASSERT_TRUE(timed->waitExit(10000));
    EXPECT_GE(hosttest::millisSince(started), 500);
    EXPECT_EQ(0, timed->exitCode()) << timed->errors();
    EXPECT_FALSE(hosttest::storageExists(storage));
    std::unique_ptr<Child> brief = startHost(config, {"--seconds", "0.0004"});  // below one millisecond
    EXPECT_TRUE(brief->waitExit(10000));
}

TEST_F(Trackhost, SecondHostOnTheSameStorageIsRefused) {
    std::string config = writeConfig("device a " + fake + "\n");
    std::unique_ptr<Child> first = startHost(config);
    StorageReader reader;
    ASSERT_TRUE(attachWhenReady(reader, *first, 2)) << first->output() << first->errors();

    std::unique_ptr<Child> second = startHost(config);
    ASSERT_TRUE(second->waitExit(10000));
    EXPECT_EQ(2, second->exitCode());
    EXPECT_EQ("trackhost: " + config + ":1: storage \"" + storage + "\" is held by a running host (process " +
                  std::to_string(first->pid()) + ")\n",
              second->errors());
    // The first host is untouched and still writing.
    EXPECT_TRUE(first->running());
    EXPECT_TRUE(reader.hostAlive());
    reader.detach();
    terminate(*first);
}

TEST_F(Trackhost, TakesOverTheStorageOfAKilledHost) {
    std::string config = writeConfig("device a " + fake + "\n");
    std::unique_ptr<Child> killed = startHost(config);
    // This reader keeps the storage mapped, which on Windows keeps it alive.
    StorageReader reader;
    ASSERT_TRUE(attachWhenReady(reader, *killed, 2)) << killed->output();
    killed->kill();
    ASSERT_TRUE(killed->waitExit(5000));
    ASSERT_TRUE(hosttest::storageExists(storage)) << "a killed host cannot clean up";
    StorageReader late;
    EXPECT_EQ(AttachOutcome::NoHost, late.attach(storage)) << "readers see that its host is gone";

    std::unique_ptr<Child> next = startHost(config);
    ASSERT_TRUE(attachWhenReady(late, *next, 2)) << next->output() << next->errors();
    EXPECT_EQ(next->pid(), late.hostProcessId());
    EXPECT_NE(std::string::npos, next->output().find("took over storage \"" + storage +
                                                     "\" left behind by ended process " +
                                                     std::to_string(killed->pid())))
        << next->output();
}

TEST_F(Trackhost, ANameHeldBySomethingElseIsLeftAlone) {
    std::string config = writeConfig("device a " + fake + "\n");
    const std::string taken = "trackhost: " + config + ":1: storage name \"" + storage + "\" is taken (it is not a ";
    const std::string where = "); remove it if nothing uses it (" + platform::sharedMemoryPlace(storage.c_str()) + ")\n";
    platform::SharedMemory foreign;
    ASSERT_EQ(platform::SharedMemoryResult::Ok,
              platform::createSharedMemory(storage.c_str(), 100, foreign).result);
    std::memcpy(foreign.address, "not ours", 8);
    EXPECT_EQ(taken + "trackhost storage" + where, refusal(config, true));
    EXPECT_EQ(0, std::memcmp(foreign.address, "not ours", 8));
    platform::unmapSharedMemory(foreign);
}

namespace {

// What the system says about loading or reading a path, which the host
// passes on (its words differ between systems).
std::string loaderReason(const std::string& path) {
    platform::LibraryHandle library;
    char reason[512] = "";
    EXPECT_FALSE(platform::openLibrary(path.c_str(), library, reason, sizeof reason));
    std::string text = reason;
    return text.compare(0, path.size() + 2, path + ": ") == 0 ? text.substr(path.size() + 2) : text;
}

std::string readingReason(const std::string& path) {
    std::string text;
    char reason[256];
    return platform::systemErrorText(platform::readRegularFile(path.c_str(), 16, text).systemCode, reason, sizeof reason);
}

}  // namespace

TEST_F(Trackhost, RefusesWhatItCannotRunNamingFileAndLine) {
    std::string tooManyLines = "device a " + fake + "\n";
    for (int i = 0; i < 33; ++i) {
        tooManyLines += "  option" + std::to_string(i) + "\n";
    }
    std::string tooWide = "device a " + fake + "\n  wide";
    for (int i = 0; i < 65; ++i) {
        tooWide += " x";
    }
    const std::pair<std::string, std::string> cases[] = {
        {"bogus 1\ndevice a " + fake + "\n",
         ":2: unknown directive \"bogus\" (only \"storage\" and \"device\" may come before the first device)\n"},
        {tooManyLines, ":35: device \"a\" has more than 32 configuration lines\n"},
        {tooWide + "\n", ":3: more than 64 arguments on one line\n"},
        {"device a missing-module.so\n", ":2: device \"a\": cannot load module library \"" + dir.path() +
                                             "/missing-module.so\": " + loaderReason(dir.path() + "/missing-module.so") +
                                             "\n"},
        {"device a " NOT_A_MODULE_LIBRARY "\n",
         ":2: device \"a\": \"" NOT_A_MODULE_LIBRARY "\" is not a device module: it does not export createDev and "
         "deleteDev\n"},
    };
    for (const auto& [text, message] : cases) {
        std::string path = writeConfig(text);
        EXPECT_EQ("trackhost: " + path + message, refusal(path));
        EXPECT_EQ(std::make_tuple(1, std::string(), "trackhost: " + path + message), check(path)) << "--check says the same";
    }
    const std::string cannotRead = ": cannot read the configuration file: ";
    for (const std::string& path : {dir.path() + "/none.conf", dir.path()}) {  // a folder is not read either
        EXPECT_EQ("trackhost: " + path + cannotRead + readingReason(path) + "\n", refusal(path));
    }
}

TEST_F(Trackhost, CheckLoadsEveryModuleButStartsNothing) {
    // Nothing but the verdict on the output: no device was created, so no
    // module printed its information block or opened its data socket.
    std::string good = writeConfig("device cave " REAL_MODULE_LIBRARY "\n  port 5000\ndevice wand " + fake + "\n");
    EXPECT_EQ(std::make_tuple(0, "trackhost: " + good + ": usable: storage \"" + storage + "\", 2 device(s)\n",
                              std::string()),
              check(good));
    // Every fault is named, not only the first.
    std::string bad = writeConfig("device a " NOT_A_MODULE_LIBRARY "\n  x \"open\ndevice b " + dir.path() + "/none.so\n",
                                  "bad.conf");
    auto [status, output, errors] = check(bad);
    EXPECT_EQ(1, status);
    EXPECT_EQ("trackhost: " + bad + ":3: missing closing double quote\ntrackhost: " + bad + ":2: device \"a\": \"" NOT_A_MODULE_LIBRARY "\" is not a device module: it does not "
              "export createDev and deleteDev\ntrackhost: " + bad + ":4: device \"b\": cannot load module library \"" +
              dir.path() + "/none.so\": " + loaderReason(dir.path() + "/none.so") + "\n", errors);
}

// Special files: trackhost_posix_test.cpp.
TEST_F(Trackhost, OversizedAndCutShortFilesAreRefusedAtOnce) {
    std::string module = hosttest::readFile(fake);
    std::string half = dir.write("half.so", module.substr(0, module.size() / 2));  // a copy that has not finished
    std::string big = dir.write("big.conf", std::string(1024 * 1024 + 1, '#'));
    const std::string cannotRead = ": cannot read the configuration file: ";
    const std::string cannotLoad = ":2: device \"a\": cannot load module library \"";
    const std::pair<std::string, std::string> cases[] = {
        {big, cannotRead + "it is larger than 1 MiB (1048577 bytes)\n"},
        {writeConfig("device a " + half + "\n", "half.conf"),
         cannotLoad + half + "\": it is cut short: " + std::to_string(module.size() / 2) +
             " bytes, but its headers need "},
    };
    for (const auto& [path, message] : cases) {
        EXPECT_EQ(0u, refusal(path).find("trackhost: " + path + message)) << path;
    }
}

TEST_F(Trackhost, AFailedInitRefusesAndCleansUp) {
    // The first device is set up; the second refuses: the host deletes both,
    // removes the storage and names the refusing device's line.
    std::string path = writeConfig("device good " + fake + "\n  trackers 1\n" + "device bad " + fake +
                                   "\n  trackers 1\n  fail\n");
    std::unique_ptr<Child> host = startHost(path);
    ASSERT_TRUE(host->waitExit(10000));
    EXPECT_EQ(2, host->exitCode());
    EXPECT_EQ("trackhost: " + path +
                  ":4: device \"bad\": the module refused its configuration (see its messages above)\n",
              host->errors());
    EXPECT_NE(std::string::npos, host->output().find("fake: refusing the configuration on line 6\n"))
        << host->output();
    EXPECT_NE(std::string::npos, host->output().find("device \"good\"")) << host->output();
    EXPECT_FALSE(hosttest::storageExists(storage));
}

// A module that writes tracker 1 in every cycle while `writing` is set.
class SwitchedDevice : public CBaseMod {
public:
    SwitchedDevice() : CBaseMod(nullptr, nullptr) {}
    int init(InitInfo*) override { return 1; }
    bool start() override { return true; }
    int check() override { return 1; }
    bool stop() override { return true; }
    bool printInfo() override { return true; }
    int recvData(UpdateMasks* masks, uint32_t) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (writing.load()) {
            markUpdated(masks->trackerMask, 1);
        }
        return 1;
    }
    int updateTrackers() override { return 1; }
    int updateControllers() override { return 1; }

    std::atomic<bool> writing{true};
};

TEST(DeviceRunner, SaysOnceWhenTrackerRecordsStopAndWhenTheyResume) {
    SwitchedDevice device;
    storage::UpdateCounters counters{};
    std::atomic<bool> stop{false};
    CLogH logger;
    testing::internal::CaptureStdout();
    {
        host::DeviceRunner runner(&device, "wall", &counters, 0, 1000, stop, logger);
        runner.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        device.writing.store(false);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        device.writing.store(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop.store(true);
    }
    std::string log = testing::internal::GetCapturedStdout();
    const std::string silence =
        "ERROR: device \"wall\": no tracker record written in the last 1 s; are frames arriving?\n";
    size_t silent = log.find(silence);
    ASSERT_NE(std::string::npos, silent) << log;
    EXPECT_EQ(silent, log.rfind(silence)) << "said once";
    EXPECT_NE(std::string::npos, log.find("INFO: device \"wall\": writes tracker records again\n", silent)) << log;
    EXPECT_GT(counters.trackers[0], 20u);
}

// ---- Stopping, whatever happens ----------------------------------------------

TEST_F(Trackhost, AStopEndsWithinTheGracePeriodWhateverADeviceDoes) {
    // A device slow to configure, start or stop (a controller that never
    // answers) before a healthy one, which it must not hold up.
    const std::pair<const char*, const char*> slowPhases[] = {
        {"initdelay", "did not finish its set-up within 1 s"},
        {"startdelay", "did not stop within 1 s"},
        {"stopdelay", "did not stop within 1 s"},
    };
    for (const auto& [phase, message] : slowPhases) {
        SCOPED_TRACE(phase);
        std::unique_ptr<Child> host = startHost(writeConfig("device slow " + fake + "\n  trackers 1\n  " + phase +
                                                            " 60000\ndevice good " + fake + "\n  trackers 1\n"),
                                                {"--grace", "1"});
        StorageReader reader;
        ASSERT_TRUE(hosttest::waitFor(
            [&] {
                if (std::string(phase) == "initdelay") {
                    return host->output().find("ready") != std::string::npos;
                }
                return reader.attach(storage) == AttachOutcome::Attached && reader.readCounters().trackers[1] > 10;
            },
            10000))
            << host->output();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // well inside the slow phase
        reader.detach();
        hosttest::Clock::time_point asked = hosttest::Clock::now();
        host->requestStop();
        ASSERT_TRUE(host->waitExit(5000));
        EXPECT_LT(hosttest::millisSince(asked), 1000 + 1000);
        EXPECT_EQ(1, host->exitCode());
        EXPECT_NE(std::string::npos, host->output().find("ERROR: device \"slow\" " + std::string(message) + "\n"))
            << host->output();
        EXPECT_FALSE(hosttest::storageExists(storage));
        EXPECT_FALSE(hosttest::storageExists(storage + "~lock"));
    }
}

TEST_F(Trackhost, OfTwoHostsStartedTogetherOverALeftStorageOneTakesItOver) {
    std::string config = writeConfig("device a " + fake + "\n");
    std::unique_ptr<Child> killed = startHost(config);
    hosttest::Clock::time_point start = hosttest::Clock::now();
    for (int round = 0; round < 60 && hosttest::millisSince(start) < 30000; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(hosttest::waitForOutput(*killed, "running"));
        killed->kill();
        ASSERT_TRUE(killed->waitExit(5000));
        std::unique_ptr<Child> hosts[] = {startHost(config), startHost(config)};
        auto decided = [](Child& host) { return host.output().find("running") != std::string::npos || host.waitExit(0); };
        ASSERT_TRUE(hosttest::waitFor([&] { return decided(*hosts[0]) && decided(*hosts[1]); }, 10000));
        ASSERT_NE(hosts[0]->running(), hosts[1]->running()) << hosts[0]->output() << hosts[1]->output();
        std::unique_ptr<Child>& winner = hosts[0]->running() ? hosts[0] : hosts[1];
        Child& loser = hosts[0]->running() ? *hosts[1] : *hosts[0];
        EXPECT_EQ(2, loser.exitCode());
        EXPECT_NE(std::string::npos, loser.errors().find("is held by a running host")) << loser.errors();
        StorageReader reader;
        ASSERT_EQ(AttachOutcome::Attached, reader.attach(storage));
        EXPECT_EQ(winner->pid(), reader.hostProcessId());
        killed = std::move(winner);
    }
}

// ---- Readers against a host writing flat out -----------------------------

namespace {

// What makes a copied record whole depends on who wrote it.
struct RecordChecks {
    bool (*tracker)(const TraData& record, uint32_t id);
    bool (*controller)(const ConData& record, uint32_t id);
};

struct HammerTally {
    uint64_t copies = 0;   // records checked
    uint64_t torn = 0;     // records that mixed two writes
    uint64_t changes = 0;  // times tracker 1 was seen with new values
};

// Copies every record over and over for the given time by the sequence
// rule, and checks each copy.
HammerTally hammer(const std::string& name, int millis, RecordChecks checks) {
    HammerTally tally;
    StorageReader reader;
    if (reader.attach(name) != AttachOutcome::Attached) {
        tally.torn = ~0ull;
        return tally;
    }
    std::vector<TraData> trackers;
    std::vector<ConData> controllers;
    uint32_t lastX = 0;
    hosttest::Clock::time_point start = hosttest::Clock::now();
    for (uint64_t round = 1; hosttest::millisSince(start) < millis; ++round) {
        if (round % 16 == 0) {
            std::this_thread::yield();  // two spinning readers must not starve the host of both cores
        }
        bool copied = reader.copyTrackers(trackers, 1000000) && reader.copyControllers(controllers, 1000000);
        tally.torn += copied ? 0 : 1;
        for (uint32_t i = 0; i < trackers.size(); ++i) {
            tally.torn += checks.tracker(trackers[i], i + 1) ? 0 : 1;
        }
        for (uint32_t i = 0; i < controllers.size(); ++i) {
            tally.torn += checks.controller(controllers[i], i + 1) ? 0 : 1;
        }
        tally.copies += trackers.size() + controllers.size();
        if (!trackers.empty() && trackers[0].x != lastX) {
            lastX = trackers[0].x;
            ++tally.changes;
        }
    }
    return tally;
}

// Two readers at once, each with a mapping of its own, in another process
// than the writers; neither may ever see a torn record.
void expectNoTornRecords(const std::string& name, RecordChecks checks, uint64_t minimumChanges) {
    HammerTally tallies[2];
    std::thread first([&] { tallies[0] = hammer(name, 1500, checks); });
    tallies[1] = hammer(name, 1500, checks);
    first.join();
    for (const HammerTally& tally : tallies) {
        EXPECT_EQ(0u, tally.torn);
        EXPECT_GT(tally.copies, 10000u);
        // The host kept writing while they read (how much depends on the load
        // of the machine; this only shows that reads and writes overlapped).
        EXPECT_GT(tally.changes, minimumChanges);
        std::printf("%llu copies, %llu changes seen\n", static_cast<unsigned long long>(tally.copies),
                    static_cast<unsigned long long>(tally.changes));
    }
}

}  // namespace

TEST_F(Trackhost, ReadersNeverSeeATornRecordWhileTheHostWritesFlatOut) {
    // Two devices writing as fast as they can, one thread each.
    std::unique_ptr<Child> host = startHost(writeConfig("device a " + fake +
                                                        "\n  trackers 8\n  controllers 4\n  rate 0\n"
                                                        "device b " + fake +
                                                        "\n  trackers 8\n  controllers 4\n  rate 0\n"));
    StorageReader reader;
    ASSERT_TRUE(attachWhenReady(reader, *host, 16)) << host->output() << host->errors();
    expectNoTornRecords(storage, {fakeTrackerIsWhole, fakeControllerIsWhole}, 20);
    reader.detach();
    terminate(*host);
    EXPECT_EQ("", host->errors());
}

// ---- The shipped module, fed real frames on loopback ------------------------

namespace {

std::string realModuleConfig(const std::string& storage, int port, int bodies = 2) {
    return "storage " + storage + "\ndevice cave " REAL_MODULE_LIBRARY "\n  port " + std::to_string(port) +
           "\n  standardbodies " + std::to_string(bodies) + "\n  gripwands 1\n";
}

}  // namespace

TEST_F(Trackhost, RealModuleWritesTheFramesItReceives) {
    int port = hosttest::freeUdpPort();
    ASSERT_GT(port, 0);
    std::string config = dir.write("real.conf", realModuleConfig(storage, port));
    // The host adopts the user's locale; a comma-decimal one must not change
    // how the module reads the frames.
    std::vector<std::string> environment;
    if (hosttest::useGermanLocale()) {
        environment.push_back("LC_ALL=de_DE.UTF-8");
    }
    std::setlocale(LC_ALL, "C");
    std::unique_ptr<Child> host = startHost(config, {}, environment);
    StorageReader reader;
    ASSERT_TRUE(attachWhenReady(reader, *host, 3)) << host->output() << host->errors();

    hosttest::FrameSender sender(port, [](uint64_t) { return std::string(hosttest::kKnownFrame); }, 2000);
    std::vector<TraData> trackers;
    std::vector<ConData> controllers;
    // Controller records carry the states of the cycle before: wait for both.
    ASSERT_TRUE(hosttest::waitFor(
        [&] {
            return reader.copyTrackers(trackers) && reader.copyControllers(controllers) && trackers.size() == 3 &&
                   controllers.size() == 1 && trackers[2].seconds != 0 && controllers[0].buttonBits[0] != 0;
        },
        5000))
        << host->output();

    // Local numbers: the Gripwand is tracker 1, then the standard bodies.
    struct Expected {
        float x, y, z, azim, elev, roll;
    };
    const Expected expected[] = {{0, 5, 0, 0, 0, 0}, {1, 2, -3, 0, 0, 0}, {0.5f, 0, 10, 90, 0, 0}};
    for (uint32_t i = 0; i < 3; ++i) {
        const TraData& r = trackers[i];
        const Expected& e = expected[i];
        EXPECT_EQ(i + 1, records::fromBE32(r.id));
        EXPECT_NEAR(e.x, r.getX(), 2e-5) << "tracker " << i + 1;
        EXPECT_NEAR(e.y, r.getY(), 2e-5) << "tracker " << i + 1;
        EXPECT_NEAR(e.z, r.getZ(), 2e-5) << "tracker " << i + 1;
        EXPECT_NEAR(e.azim, r.getAzim(), 1e-4) << "tracker " << i + 1;
        EXPECT_NEAR(e.elev, r.getElev(), 1e-4) << "tracker " << i + 1;
        EXPECT_NEAR(e.roll, r.getRoll(), 1e-4) << "tracker " << i + 1;
    }
    // Recent, and stamped by the host's clock.
    platform::ClockReading now = platform::readClock();
    EXPECT_LE(static_cast<int64_t>(records::fromBE32(trackers[2].seconds)), now.seconds);
    EXPECT_GE(static_cast<int64_t>(records::fromBE32(trackers[2].seconds)), now.seconds - 5);

    const ConData& grip = controllers[0];
    EXPECT_EQ(1u, records::fromBE32(grip.id));
    EXPECT_EQ(8u, records::fromBE32(grip.numValuators));
    EXPECT_EQ(16u, records::fromBE32(grip.numButtons));
    EXPECT_EQ(0.5f, grip.getValuator(1));
    EXPECT_EQ(-0.25f, grip.getValuator(2));
    EXPECT_EQ(0.0f, grip.getValuator(3));
    for (uint32_t b = 1; b <= 16; ++b) {
        EXPECT_EQ(b == 1 || b == 3 ? 1 : 0, grip.getButton(b)) << "button " << b;
    }
    // Rates follow the frames.
    storage::UpdateCounters before = reader.readCounters();
    ASSERT_TRUE(hosttest::waitFor([&] { return reader.readCounters().trackers[1] > before.trackers[1] + 20; }, 5000));
    reader.detach();
    terminate(*host);
}

TEST_F(Trackhost, AStopRequestEndsItWithinTheDataTimeOut) {
    int port = hosttest::freeUdpPort();
    std::unique_ptr<Child> host = startHost(dir.write("quiet.conf", realModuleConfig(storage, port)));
    StorageReader reader;
    ASSERT_TRUE(attachWhenReady(reader, *host, 3)) << host->output() << host->errors();
    reader.detach();
    // No frames: every cycle waits the module's full data time-out (1 s).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    hosttest::Clock::time_point asked = hosttest::Clock::now();
    terminate(*host);
    EXPECT_LT(hosttest::millisSince(asked), 1000 + 1000);
    EXPECT_EQ("", host->errors());
    EXPECT_NE(std::string::npos, host->output().find("INFO: stop requested\n")) << host->output();
    EXPECT_NE(std::string::npos, host->output().find("storage \"" + storage + "\" removed\n")) << host->output();
}

namespace {

// Frame k puts the Gripwand and body 0 at (k, k, k) mm, unturned, and the
// joystick at (j, j): a record that mixes two writes has unequal values.
std::string countingFrame(uint64_t k) {
    std::string mm = std::to_string(k % 100000);
    std::string j = std::to_string(static_cast<double>(k % 1000) / 1000.0);
    return "fr " + std::to_string(k) + "\n6d 1 [0 1.000][" + mm + " " + mm + " " + mm +
           "][1 0 0 0 1 0 0 0 1]\n6df2 1 1 [0 1.000 8 2][" + mm + " " + mm + " " + mm +
           "][1 0 0 0 1 0 0 0 1][5 " + j + " " + j + "]\n";
}

bool countingTrackerCheck(const TraData& r, uint32_t id) {
    return records::fromBE32(r.id) == id && r.x == r.y && r.y == r.z && r.azim == 0 && r.elev == 0 && r.roll == 0;
}

bool countingControllerCheck(const ConData& r, uint32_t id) {
    return records::fromBE32(r.id) == id && r.valuators[0] == r.valuators[1];
}

}  // namespace

TEST_F(Trackhost, RealModuleReadersNeverSeeATornRecordAtAHighFrameRate) {
    int port = hosttest::freeUdpPort();
    std::unique_ptr<Child> host = startHost(dir.write("fast.conf", realModuleConfig(storage, port, 1)));
    StorageReader reader;
    ASSERT_TRUE(attachWhenReady(reader, *host, 2)) << host->output() << host->errors();
    hosttest::FrameSender sender(port, countingFrame, 1000);  // about a thousand frames a second
    expectNoTornRecords(storage, {countingTrackerCheck, countingControllerCheck}, 10);
    RecordProperty("frames_sent", std::to_string(sender.sent()));
    reader.detach();
    terminate(*host);
}

// ---- The example configurations ---------------------------------------------

namespace {

// An example file made runnable here: this build's module, a free port, a
// storage of its own and, for remote control, the simulator's command port.
std::string adaptExample(const std::string& text, const std::string& storage, int port, int commandPort) {
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string keyword, name;
        words >> keyword >> name;
        if (keyword == "storage") {
            line = "storage " + storage;
        } else if (keyword == "device") {
            line = "device " + name + " " REAL_MODULE_LIBRARY;
        } else if (keyword == "port") {
            line = "  port " + std::to_string(port);
        } else if (keyword == "remote") {
            // Only UDP commands (a named port) are safe to run: TCP commands
            // always go to port 50105 of the named machine.
            std::string commandPortGiven;
            words >> commandPortGiven;
            EXPECT_FALSE(commandPortGiven.empty()) << "a runnable example with TCP remote control: " << line;
            line = "  remote " + name + " " + std::to_string(commandPort);
        }
        out += line + "\n";
    }
    return out;
}

}  // namespace

TEST_F(Trackhost, TheExampleConfigurationsRunWithoutAnError) {
    struct Example {
        const char* file;
        std::vector<std::string> scene;  // the simulator's options
        bool remoteControl;              // the example starts the simulator's measurement itself
        const char* ids;
    };
    const Example examples[] = {
        {"simulator.conf", {"--bodies", "3", "--wands", "1"}, false, "trackers 1-4, controllers 1\n"},
        {"all-options.conf", {"--bodies", "4", "--wands", "2", "--tools", "1"}, true,
         "trackers 1-8, controllers 1-3\n"},
    };
    for (const Example& example : examples) {
        SCOPED_TRACE(example.file);
        int port = hosttest::freeUdpPort();
        std::vector<std::string> simulatorArgs{OSTRELSIM_PROGRAM, "--to", "127.0.0.1:" + std::to_string(port)};
        if (example.remoteControl) {
            simulatorArgs.insert(simulatorArgs.end(), {"--controller", "--tcp-port", "0", "--udp-port", "0"});
        }
        simulatorArgs.insert(simulatorArgs.end(), example.scene.begin(), example.scene.end());
        Child simulator(simulatorArgs, dir.path());
        int commandPort = example.remoteControl ? hosttest::numberAfter(simulator, "UDP port ") : 0;
        ASSERT_TRUE(!example.remoteControl || commandPort > 0) << simulator.output() << simulator.errors();

        std::string text = hosttest::readFile(std::string(EXAMPLES_FOLDER) + "/" + example.file);
        ASSERT_FALSE(text.empty());
        std::string config = dir.write(example.file, adaptExample(text, storage, port, commandPort));
        std::unique_ptr<Child> host = startHost(config);
        StorageReader reader;
        ASSERT_TRUE(attachWhenReady(reader, *host, 4)) << host->output() << host->errors();
        // Frames flow once the host has started the simulator's measurement.
        ASSERT_TRUE(hosttest::waitFor([&] { return reader.readCounters().trackers[1] > 10; }, 10000))
            << host->output() << simulator.output();
        reader.detach();
        terminate(*host);
        EXPECT_EQ(std::string::npos, host->output().find("ERROR")) << host->output();
        EXPECT_EQ(std::string::npos, host->output().find("was not read")) << host->output();
        EXPECT_EQ("", host->errors());
        EXPECT_NE(std::string::npos, host->output().find(example.ids)) << host->output();
    }
}
