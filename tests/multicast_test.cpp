// Frames on a multicast group joined on a chosen interface: the "multicast"
// keyword, a join that fails, and real hosts fed by ostrelsim over loopback.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/device_config.h"
#include "host/storage_reader.h"
#include "link/ostrel_sdk.h"
#include "tests/support/device_rig.h"
#include "tests/host_process_support.h"

using namespace device_config;
using hosttest::Child;
using storage::StorageReader;

namespace {

TEST(MulticastKeyword, AddressesAndMessages) {
    const std::string group = "Invalid Multicast Group on Line 1.\n";
    const std::string count = "Invalid Number of Arguments on Line 1.\n";
    const struct {
        std::initializer_list<const char*> words;
        std::string message;
        uint32_t group, local;
    } cases[] = {
        {{"multicast", "239.1.2.3"}, "", 0xEF010203, 0},
        {{"multicast", "224.0.0.0", "10.0.1.5"}, "", 0xE0000000, 0x0A000105},
        {{"multicast", "239.255.255.255", "0.0.0.0"}, "", 0xEFFFFFFF, 0},
        {{"multicast", "223.255.255.255"}, group, 0, 0},
        {{"multicast", "240.0.0.1"}, group, 0, 0},
        {{"multicast", "239.1.2"}, group, 0, 0},
        {{"multicast", "239.1.2.3.4"}, group, 0, 0},
        {{"multicast", "239.1.2.256"}, group, 0, 0},
        {{"multicast", "0239.1.2.3"}, group, 0, 0},
        {{"multicast", "cluster"}, group, 0, 0},
        {{"multicast", "239.1.2.3", "eth0"}, "Invalid Interface Address on Line 1.\n", 0, 0},
        {{"multicast"}, count, 0, 0},
        {{"multicast", "239.1.2.3", "10.0.1.5", "cluster"}, count, 0, 0},
    };
    for (const auto& c : cases) {
        test_support::ConfigLines lines;
        DeviceFields fields;
        const KeywordReport r = readDeviceKeywords(*lines.add(c.words).config(), fields);
        char said[80] = "";
        if (r.failed()) std::snprintf(said, sizeof said, faultFormat(r.faults[0].fault), r.faults[0].lineNumber);
        EXPECT_EQ(std::make_tuple(c.message, c.group, c.local),
                  std::make_tuple(std::string(said), fields.multicastGroup, fields.multicastInterface))
            << "row " << &c - cases;
    }
}

// With "remote" the commands still go to the controller; the group is shown in the printout; a join on an address
// that no interface has fails with the system's reason.
TEST(MulticastDevice, CombinesWithRemoteAndAFailedJoinSaysWhy) {
    test_support::DeviceRig rig;
    ASSERT_EQ(1, rig.configureQuietly({{"multicast", "239.255.77.4", "127.0.0.1"}, {"remote", "127.0.0.1", "50105"}}))
        << rig.initOutput;
    EXPECT_NE(std::string::npos, rig.initOutput.find("INFO: Ostrel MULTICAST      : 239.255.77.4 127.0.0.1\n"));
    EXPECT_EQ(RemoteKind::Udp, rig.device->client->remoteKind());
    EXPECT_EQ(50105, rig.device->client->serverPort());
    EXPECT_EQ(0xEFFF4D04u, rig.device->client->multicastJoin().group);

    test_support::DeviceRig failing;
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, failing.configureQuietly({{"multicast", "239.255.77.4", "203.0.113.254"}}));
    EXPECT_EQ("setsockopt() failed2: " + std::string(std::strerror(ENODEV)) + "\n",
              testing::internal::GetCapturedStderr());
    const std::string reason =
        "zelostrel: Multicast group 239.255.77.4 on interface 203.0.113.254: " + std::string(std::strerror(ENODEV)) +
        ".\n";
    EXPECT_NE(std::string::npos,
              failing.initOutput.find("ERROR: zelostrel: Cannot Initialize OstrelSDK.\nTRK: ERROR: " + reason));
}

constexpr char kGroup[] = "239.255.77.5";

// trackhost processes with the shipped module on one group and port; they and their storages go when the test ends.
class MulticastHosts : public testing::Test {
protected:
    ~MulticastHosts() override {
        hosts.clear();
        for (const std::string& name : storages) hosttest::removeStorage(name);
    }
    void startHost() {
        const std::string name = storages.emplace_back(hosttest::uniqueStorageName("mc"));
        const std::string config =
            dir.write(name + ".conf", "storage " + name + "\ndevice cave " REAL_MODULE_LIBRARY "\n  port " +
                                          std::to_string(port) + "\n  standardbodies 3\n  gripwands 1\n  multicast " +
                                          kGroup + " 127.0.0.1\n");
        hosts.push_back(std::make_unique<Child>(std::vector<std::string>{TRACKHOST_PROGRAM, config}, dir.path()));
    }
    // Host i's four tracker poses, once its storage is up; each host stamps the records with its own clock.
    std::vector<uint32_t> poses(size_t i) {
        std::vector<TraData> records;
        StorageReader reader;
        EXPECT_TRUE(hosttest::waitFor(
            [&] {
                return (reader.isAttached() || reader.attach(storages[i]) == storage::AttachOutcome::Attached) &&
                       reader.copyTrackers(records) && records.size() == 4;
            },
            10000))
            << hosts[i]->output() << hosts[i]->errors();
        std::vector<uint32_t> words;
        for (const TraData& r : records) words.insert(words.end(), {r.id, r.x, r.y, r.z, r.azim, r.elev, r.roll});
        return words;
    }

    hosttest::TempDir dir;
    int port = hosttest::freeUdpPort();
    std::vector<std::string> storages;
    std::vector<std::unique_ptr<Child>> hosts;
};

TEST_F(MulticastHosts, TwoHostsOnOneMachineWriteTheSamePoses) {
    startHost();
    startHost();
    const std::vector<uint32_t> before = poses(0);
    poses(1);  // both up
    Child sender({OSTRELSIM_PROGRAM, "--to", std::string(kGroup) + ":" + std::to_string(port), "--interface",
                  "127.0.0.1", "--ttl", "0", "--rate", "100", "--seconds", "1.5"},
                 dir.path());
    ASSERT_EQ(0, sender.finish()) << sender.errors();
    // Once their cycles ran, the last frame sent is the newest in both.
    EXPECT_TRUE(hosttest::waitFor([&] { return poses(0) == poses(1) && poses(0) != before; }, 3000));
}

}  // namespace
