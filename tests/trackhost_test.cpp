// trackhost as a child process with real shared memory and a real module (fake_device_module.cpp); its device runner.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "framework/records.h"
#include "host/device_runner.h"
#include "tests/support/host_records.h"
#include "tests/trackhost_fixture.h"

using namespace hosttest;

namespace {

uint32_t fakeWord(uint32_t cycle, uint32_t id, float divisor, uint32_t (*encode)(double) noexcept) {
    return cycle == 0 ? 0 : encode((static_cast<float>(cycle % 10000) + static_cast<float>(id) / 100.0f) / divisor);
}
bool fakeTrackerIsWhole(const TraData& r, uint32_t id) {
    uint32_t cycle = records::fromBE32(r.seconds), v = fakeWord(cycle, id, 1.0f, records::encodeFix5);
    return records::fromBE32(r.id) == id && records::fromBE32(r.microseconds) == (cycle == 0 ? 0 : id) && r.x == v &&
           r.y == v && r.z == v && r.azim == v && r.elev == v && r.roll == v &&
           r.stamp.seconds == static_cast<int32_t>(cycle);
}
bool fakeControllerIsWhole(const ConData& r, uint32_t id) {
    uint32_t cycle = records::fromBE32(r.seconds), v = fakeWord(cycle, id, 10.0f, records::encodeFix3);
    bool ok = records::fromBE32(r.id) == id && records::fromBE32(r.microseconds) == (cycle == 0 ? 0 : id) &&
              records::fromBE32(r.numValuators) == (cycle == 0 ? 0 : 8) &&
              r.stamp.seconds == static_cast<int32_t>(cycle) && r.buttonBits[0] == (cycle & 0xFFu) &&
              r.buttonBits[1] == ((cycle >> 8) & 0xFFu) && r.buttonBits[2] == 0;
    for (uint32_t k = 0; k < 8; ++k) ok = ok && r.valuators[k] == (cycle == 0 ? 0 : v);
    return ok;
}

}  // namespace

// Two devices writing flat out, in file order in the documented layout; two readers in another process: no copy may
// ever mix two writes, and the host keeps writing while they read.
TEST_F(Trackhost, DevicesTakeIdsInFileOrderAndReadersNeverSeeATornRecord) {
    const std::string device = "\n  trackers 8\n  controllers 4\n  rate 0\n";
    std::unique_ptr<Child> host =
        startHost(writeConfig("device first " + fake + device + "  colour blue\ndevice second " + fake + device));
    StorageReader ready;
    ASSERT_TRUE(attachWhenReady(ready, *host, 16)) << host->output() << host->errors();
    platform::SharedMemory view;
    ASSERT_EQ(platform::SharedMemoryResult::Ok, platform::openSharedMemory(storage.c_str(), false, view).result);
    auto wordAt = [&](size_t offset) {
        uint32_t word = 0;
        std::memcpy(&word, static_cast<const char*>(view.address) + offset, sizeof word);
        return word;
    };
    ASSERT_GE(view.size, 8128u);  // on Windows the mapping is whole pages
    EXPECT_EQ(0, std::memcmp(view.address, "TRACKHST", 8));
    const std::pair<size_t, uint32_t> header[] = {{8, 1},    {12, 64},  {16, 32},   {20, 32},          {24, 16},
                                                  {28, 8},   {32, 448}, {36, 2240}, {48, host->pid()}, {52, 64},
                                                  {56, 320}, {60, 8128}};
    for (const auto& [offset, value] : header) EXPECT_EQ(value, wordAt(offset)) << "offset " << offset;
    for (uint32_t i = 0; i < 32; ++i)  // every record carries its id, written or not
        EXPECT_EQ(std::make_pair(records::toBE32(i + 1), records::toBE32(i + 1)),
                  std::make_pair(wordAt(448 + 56 * i), wordAt(2240 + 184 * i)));
    platform::unmapSharedMemory(view);
    uint64_t torn[2] = {}, changes[2] = {};
    auto hammer = [&](int k) {
        StorageReader reader;
        if (reader.attach(storage) != AttachOutcome::Attached) return void(torn[k] = ~0ull);
        std::vector<TraData> trackers;
        std::vector<ConData> controllers;
        uint32_t lastX = 0;
        Clock::time_point start = Clock::now();
        for (uint64_t round = 1; millisSince(start) < 1500; ++round) {
            if (round % 16 == 0) std::this_thread::yield();  // two spinning readers must not starve the host
            torn[k] += reader.copyTrackers(trackers, 1000000) && reader.copyControllers(controllers, 1000000) ? 0 : 1;
            torn[k] += trackers.size() == 16 && controllers.size() == 8 ? 0 : 1;
            for (uint32_t i = 0; i < trackers.size(); ++i) torn[k] += fakeTrackerIsWhole(trackers[i], i + 1) ? 0 : 1;
            for (uint32_t i = 0; i < controllers.size(); ++i)
                torn[k] += fakeControllerIsWhole(controllers[i], i + 1) ? 0 : 1;
            changes[k] += !trackers.empty() && trackers.back().x != lastX ? 1 : 0;
            lastX = trackers.empty() ? 0 : trackers.back().x;
        }
    };
    std::thread first([&] { hammer(0); });
    hammer(1);
    first.join();
    EXPECT_EQ(std::make_pair(uint64_t{0}, uint64_t{0}), std::make_pair(torn[0], torn[1]));
    EXPECT_TRUE(changes[0] > 20 && changes[1] > 20) << "reads and writes overlapped";
    EXPECT_EQ(std::make_pair(0u, true),
              std::make_pair(ready.readCounters().trackers[16], ready.readCounters().controllers[7] > 5))
        << "tracker 17 is no module's; the second device writes its controllers";
    ready.detach();  // on Windows a reader that maps the storage keeps it
    host->requestStop();
    expectCleanEnd(*host);
    EXPECT_EQ("", host->errors());
    std::string log = host->output();
    for (const std::string& line : {"device \"first\" (" + fake + "): trackers 1-8, controllers 1-4\n",
                                    "device \"second\" (" + fake + "): trackers 9-16, controllers 5-8\n",
                                    std::string("device \"first\": line 6 (\"colour\") was not read by the module; "
                                                "is it spelt right?\n")})
        EXPECT_NE(std::string::npos, log.find(line)) << log;
    EXPECT_EQ(log.find("was not read"), log.rfind("was not read")) << "only that line";
}

TEST_F(Trackhost, SecondsBelowAMillisecondStillEndTheRun) {
    expectCleanEnd(*startHost(writeConfig("device a " + fake + "\n  rate 0\n"), {"--seconds", "0.0004"}));
}

// A second host on a storage is refused, a foreign object left alone; one of two new hosts takes a killed host's over.
TEST_F(Trackhost, OneHostPerStorageAndAKilledHostsStorageIsTakenOver) {
    std::string config = writeConfig("device a " + fake + "\n");
    platform::SharedMemory foreign;
    ASSERT_EQ(platform::SharedMemoryResult::Ok, platform::createSharedMemory(storage.c_str(), 100, foreign).result);
    std::memcpy(foreign.address, "not ours", 8);
    EXPECT_EQ("trackhost: " + config + ":1: storage name \"" + storage +
                  "\" is taken (it is not a trackhost storage); remove it if nothing uses it (" +
                  platform::sharedMemoryPlace(storage.c_str()) + ")\n",
              refusal(config, true));
    EXPECT_EQ(0, std::memcmp(foreign.address, "not ours", 8));
    platform::unmapSharedMemory(foreign);
    removeStorage(storage);

    std::unique_ptr<Child> first = startHost(config);
    StorageReader reader;
    ASSERT_TRUE(attachWhenReady(reader, *first, 2)) << first->output() << first->errors();
    std::unique_ptr<Child> second = startHost(config);
    EXPECT_EQ(2, second->finish());
    EXPECT_EQ("trackhost: " + config + ":1: storage \"" + storage + "\" is held by a running host (process " +
                  std::to_string(first->pid()) + ")\n",
              second->errors());
    EXPECT_TRUE(first->running() && reader.hostAlive()) << "the first host is untouched";
    Clock::time_point start = Clock::now();
    for (int round = 0; round < 20 && millisSince(start) < 30000; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(first->said("running"));
        first->kill();
        ASSERT_TRUE(first->waitExit(5000));
        ASSERT_TRUE(storageExists(storage)) << "a killed host cannot clean up";
        StorageReader late;
        EXPECT_EQ(AttachOutcome::NoHost, late.attach(storage)) << "readers see that its host is gone";
        std::unique_ptr<Child> hosts[] = {startHost(config), startHost(config)};
        auto decided = [](Child& host) {
            return host.output().find("running") != std::string::npos || host.waitExit(0);
        };
        ASSERT_TRUE(waitFor([&] { return decided(*hosts[0]) && decided(*hosts[1]); }, 10000));
        ASSERT_NE(hosts[0]->running(), hosts[1]->running()) << hosts[0]->output() << hosts[1]->output();
        int winner = hosts[0]->running() ? 0 : 1;
        EXPECT_EQ(2, hosts[1 - winner]->exitCode());
        EXPECT_NE(std::string::npos,
                  hosts[winner]->output().find("took over storage \"" + storage + "\" left behind by ended process " +
                                               std::to_string(first->pid())));
        ASSERT_EQ(AttachOutcome::Attached, late.attach(storage));
        EXPECT_EQ(hosts[winner]->pid(), late.hostProcessId());
        first = std::move(hosts[winner]);
    }
}

// Refused at once, naming file and line, on one line. (Each parse error's own text is host_config_test's.)
TEST_F(Trackhost, RefusesWhatItCannotRunNamingFileAndLine) {
    std::string module = readFile(fake);
    std::string half = dir.write("half.so", module.substr(0, module.size() / 2));  // a copy that has not finished
    const std::string missing = dir.path() + "/missing-module.so",
                      cannotRead = ": cannot read the configuration file: ";
    int file = 0;
    auto config = [&](const std::string& text) { return writeConfig(text, std::to_string(++file) + ".conf"); };
    const std::pair<std::string, std::string> cases[] = {
        {config("bogus 1\ndevice a " + fake + "\n"),
         ":2: unknown directive \"bogus\" (only \"storage\" and \"device\" may come before the first device)\n"},
        {config("device a missing-module.so\n"),
         ":2: device \"a\": cannot load module library \"" + missing + "\": "},  // and the system's reason
        {config("device a " NOT_A_MODULE_LIBRARY "\n"),
         ":2: device \"a\": \"" NOT_A_MODULE_LIBRARY
         "\" is not a device module: it does not export createDev and deleteDev\n"},
        {config("device a " + half + "\n"), ":2: device \"a\": cannot load module library \"" + half +
                                                "\": it is cut short: " + std::to_string(module.size() / 2) +
                                                " bytes, but its headers need "},
        {dir.write("big.conf", std::string(1024 * 1024 + 1, '#')),
         cannotRead + "it is larger than 1 MiB (1048577 bytes)\n"},
        {dir.path() + "/none.conf", cannotRead},
    };
    for (const auto& [path, message] : cases) {
        const std::string expected = "trackhost: " + path + message;
        std::string refused = refusal(path);
        EXPECT_EQ(expected, refused.substr(0, expected.size())) << path;
        EXPECT_EQ(1, std::count(refused.begin(), refused.end(), '\n')) << refused;
    }
}

// A check loads every module but sets up no device (the stand-in's "fail" would refuse a start; no socket opens) and
// creates no storage; it names every fault, not only the first.
TEST_F(Trackhost, CheckLoadsEveryModuleButStartsNothing) {
    const std::string head = "trackhost: " + writeConfig("");
    const std::tuple<std::string, int, std::string, std::string> cases[] = {
        {"device a " + fake + "\n  fail\ndevice b " + fake + "\n", 0,
         head + ": usable: storage \"" + storage + "\", 2 device(s)\n", ""},
        {"device a " NOT_A_MODULE_LIBRARY "\n  x \"open\ndevice b " + fake + "\n", 1, "",
         head + ":3: missing closing double quote\n" + head +
             ":2: device \"a\": \"" NOT_A_MODULE_LIBRARY "\" is not a device module: it does not export createDev "
             "and deleteDev\n"},
    };
    for (const auto& [body, status, output, errors] : cases) {
        std::unique_ptr<Child> check = startHost(writeConfig(body), {"--check"});
        const int code = check->finish();
        EXPECT_EQ(std::make_tuple(status, output, errors, false),
                  std::make_tuple(code, check->output(), check->errors(), storageExists(storage)));
    }
}

// The first device is set up, the second refuses: both are deleted.
TEST_F(Trackhost, AFailedInitRefusesAndCleansUp) {
    std::string path =
        writeConfig("device good " + fake + "\n  trackers 1\ndevice bad " + fake + "\n  trackers 1\n  fail\n");
    std::unique_ptr<Child> host = startHost(path);
    expectCleanEnd(*host, 2);
    EXPECT_EQ(
        "trackhost: " + path + ":4: device \"bad\": the module refused its configuration (see its messages above)\n",
        host->errors());
    EXPECT_NE(std::string::npos, host->output().find("fake: refusing the configuration on line 6\n")) << host->output();
}

namespace {

// Writes tracker 1 in every cycle while `writing`; fails its cycles otherwise.
struct SwitchedDevice : CBaseMod {
    SwitchedDevice() : CBaseMod(nullptr, nullptr) {}
    int init(InitInfo*) override { return 1; }
    bool start() override { return true; }
    int check() override { return 1; }
    bool stop() override { return true; }
    bool printInfo() override { return true; }
    int recvData(UpdateMasks* masks, uint32_t) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (writing.load()) markUpdated(masks->trackerMask, 1);
        return writing.load() ? 1 : -1;
    }
    int updateTrackers() override { return 1; }
    int updateControllers() override { return 1; }
    std::atomic<bool> writing{true};
};

}  // namespace

TEST(DeviceRunner, SaysOnceWhenCyclesFailOrTrackerRecordsStopAndWhenTheyResume) {
    SwitchedDevice device;
    storage::UpdateCounters counters{};
    std::atomic<bool> stop{false};
    CLogH logger = test_support::quietLogger("H");
    testing::internal::CaptureStdout();
    {
        host::DeviceRunner runner(&device, "wall", &counters, 0, 1000, stop, logger);
        runner.start();
        for (bool writing : {true, false, true}) {  // some 250 failed cycles, below the five seconds between reports
            device.writing.store(writing);
            std::this_thread::sleep_for(std::chrono::milliseconds(writing ? 100 : 1500));
        }
        stop.store(true);
    }
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(
        "H: ERROR: device \"wall\": 1 measurement cycle(s) failed\n"
        "H: ERROR: device \"wall\": no tracker record written in the last 1 s; are frames arriving?\n"
        "H: INFO: device \"wall\": writes tracker records again\n",
        log);
    EXPECT_GT(counters.trackers[0], 5u);  // counted (Windows sleeps at least a timer tick)
}

// A device slow to configure, start or stop (a controller that never answers) must not hold up the healthy one next.
TEST_F(Trackhost, AStopEndsWithinTheGracePeriodWhateverADeviceDoes) {
    for (const std::string phase : {"initdelay", "startdelay", "stopdelay"}) {
        SCOPED_TRACE(phase);
        std::unique_ptr<Child> host = startHost(writeConfig("device slow " + fake + "\n  trackers 1\n  " + phase +
                                                            " 60000\ndevice good " + fake + "\n  trackers 1\n"),
                                                {"--grace", "1"});
        StorageReader reader;
        auto inTheSlowPhase = [&] {  // set up, or running with the healthy device writing
            return phase == "initdelay"
                       ? host->output().find("ready") != std::string::npos
                       : reader.attach(storage) == AttachOutcome::Attached && reader.readCounters().trackers[1] > 10;
        };
        ASSERT_TRUE(waitFor(inTheSlowPhase, 10000)) << host->output();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // well inside the slow phase
        reader.detach();
        Clock::time_point asked = Clock::now();
        EXPECT_TRUE(host->requestStop());
        expectCleanEnd(*host, 1);
        EXPECT_LT(millisSince(asked), 1000 + 1000);
        const std::string late = phase == "initdelay" ? "finish its set-up" : "stop";
        EXPECT_NE(std::string::npos, host->output().find("ERROR: device \"slow\" did not " + late + " within 1 s\n"))
            << host->output();
    }
}

// The example with every option runs as it stands but for this build's module, a free port and the simulator's UDP
// command port: no error, no unread line, frames once the module started the measurement. Once they stop, every cycle
// waits the module's data time-out (1 s), and a stop ends it within that.
TEST_F(Trackhost, TheExampleWithEveryOptionRunsAndStopsWithinTheDataTimeOut) {
    int port = freeUdpPort();
    Child simulator({OSTRELSIM_PROGRAM, "--to", "127.0.0.1:" + std::to_string(port), "--controller", "--tcp-port", "0",
                     "--udp-port", "0", "--bodies", "4", "--wands", "2", "--tools", "1"},
                    dir.path());
    int commandPort = simulator.numberAfter("UDP port ");
    ASSERT_GT(commandPort, 0) << simulator.output() << simulator.errors();
    std::istringstream in(readFile(EXAMPLES_FOLDER "/all-options.conf"));
    std::string config;
    for (std::string line; std::getline(in, line); config += line + "\n") {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string keyword, name, commandPortGiven;
        words >> keyword >> name >> commandPortGiven;
        if (keyword == "storage") line = "storage " + storage;
        if (keyword == "device") line = "device " + name + " " REAL_MODULE_LIBRARY;
        if (keyword == "port") line = "  port " + std::to_string(port);
        if (keyword == "remote") line = "  remote " + name + " " + std::to_string(commandPort);
        EXPECT_TRUE(keyword != "remote" || !commandPortGiven.empty()) << line;  // TCP commands would go to port 50105
    }
    ASSERT_NE(std::string::npos, config.find("remote"));
    std::unique_ptr<Child> host = startHost(dir.write("all-options.conf", config));
    StorageReader reader;
    ASSERT_TRUE(attachWhenReady(reader, *host, 4)) << host->output() << host->errors();
    ASSERT_TRUE(waitFor([&] { return reader.readCounters().trackers[1] > 10; }, 10000))
        << host->output() << simulator.output();
    reader.detach();
    for (const char* absent : {"ERROR", "was not read"})
        EXPECT_EQ(std::string::npos, host->output().find(absent)) << host->output();
    simulator.requestStop();
    ASSERT_TRUE(simulator.waitExit(5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Clock::time_point asked = Clock::now();
    host->requestStop();
    expectCleanEnd(*host);
    EXPECT_LT(millisSince(asked), 1000 + 1000);
    EXPECT_EQ("", host->errors());
    for (const std::string& line : {std::string("trackers 1-8, controllers 1-3\n"),
                                    std::string("INFO: stop requested\n"), "storage \"" + storage + "\" removed\n"})
        EXPECT_NE(std::string::npos, host->output().find(line)) << host->output();
}
