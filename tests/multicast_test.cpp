// Frames on a multicast group joined on a chosen interface: the "multicast" keyword, a join that fails, real hosts fed
// by ostrelsim over loopback, and hosts in network namespaces that join on the bridge's interface or not.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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
    ASSERT_EQ(1, rig.configure({{"multicast", "239.255.77.4", "127.0.0.1"}, {"remote", "127.0.0.1", "50105"}}))
        << rig.initOutput;
    EXPECT_NE(std::string::npos, rig.initOutput.find("INFO: Ostrel MULTICAST      : 239.255.77.4 127.0.0.1\n"));
    EXPECT_EQ(RemoteKind::Udp, rig.device->client->remoteKind());
    EXPECT_EQ(50105, rig.device->client->serverPort());
    EXPECT_EQ(0xEFFF4D04u, rig.device->client->multicastJoin().group);

    test_support::DeviceRig failing;
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, failing.configure({{"multicast", "239.255.77.4", "203.0.113.254"}}));
    EXPECT_EQ("setsockopt() failed2: " + std::string(std::strerror(ENODEV)) + "\n",
              testing::internal::GetCapturedStderr());
    const std::string reason =
        "zelostrel: Multicast group 239.255.77.4 on interface 203.0.113.254: " + std::string(std::strerror(ENODEV)) +
        ".\n";
    EXPECT_NE(std::string::npos,
              failing.initOutput.find("ERROR: zelostrel: Cannot Initialize OstrelSDK.\nTRK: ERROR: " + reason));
}

constexpr char kGroup[] = "239.255.77.5";

// trackhost processes with the shipped module on one group and port, each maybe run elsewhere (`prefix`: in a network
// namespace); they and their storages go when the test ends.
class MulticastHosts : public testing::Test {
protected:
    ~MulticastHosts() override {
        hosts.clear();
        for (const std::string& name : storages) hosttest::removeStorage(name);
    }
    void startHost(const std::string& interfaceAddress = "127.0.0.1", const std::string& prefix = "") {
        const std::string name = storages.emplace_back(hosttest::uniqueStorageName("mc"));
        const std::string config =
            dir.write(name + ".conf", "storage " + name + "\ndevice cave " REAL_MODULE_LIBRARY "\n  port " +
                                          std::to_string(port) + "\n  standardbodies 3\n  gripwands 1\n  multicast " +
                                          kGroup + " " + interfaceAddress + "\n");
        hosts.push_back(std::make_unique<Child>(
            std::vector<std::string>{"/bin/sh", "-c", "exec " + prefix + TRACKHOST_PROGRAM " " + config}, dir.path()));
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

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Network namespaces named after this process; they go, with all in them, when the test ends, failed or not.
struct Namespaces {
    const std::string prefix = "zt" + std::to_string(getpid());
    std::string in(const std::string& name) const { return "ip netns exec " + prefix + name + " "; }
    ~Namespaces() { run("for name in br tx rx1 rx2; do ip netns del " + prefix + "$name; done"); }
};

// A bridge (in a namespace of its own) links a sender and two receivers on 10.77.0.0/24. The hosts that join on the
// bridge's interface receive; one beside them that joins on its loopback interface does not.
TEST_F(MulticastHosts, OnlyHostsJoinedOnTheInterfaceTheFramesComeInReceive) {
    Namespaces ns;
    if (geteuid() != 0 || !run("ip netns add " + ns.prefix + "br"))
        GTEST_SKIP() << "network namespaces cannot be made here (needs root and ip)";
    const std::string ip = "; ip -n " + ns.prefix;
    std::string wiring = "set -e" + ip + "br link add name bridge0 type bridge" + ip + "br link set dev bridge0 up";
    for (const auto& [name, address] :
         {std::pair<std::string, std::string>{"tx", "10.77.0.1"}, {"rx1", "10.77.0.2"}, {"rx2", "10.77.0.3"}}) {
        wiring += "; ip netns add " + ns.prefix + name + "; ip link add name veth0 netns " + ns.prefix + name +
                  " type veth peer name to" + name + " netns " + ns.prefix + "br" + ip + "br link set dev to" + name +
                  " master bridge0 up" + ip + name + " addr add " + address + "/24 dev veth0" + ip + name +
                  " link set dev veth0 up" + ip + name + " link set dev lo up";
    }
    ASSERT_TRUE(run(wiring)) << "the namespaces cannot be wired up";
    startHost("10.77.0.2", ns.in("rx1"));
    startHost("10.77.0.3", ns.in("rx2"));
    startHost("127.0.0.1", ns.in("rx2"));
    const std::vector<uint32_t> before[] = {poses(0), poses(1), poses(2)};
    Child sender({"/bin/sh", "-c",
                  "exec " + ns.in("tx") + OSTRELSIM_PROGRAM " --to " + kGroup + ":" + std::to_string(port) +
                      " --interface 10.77.0.1 --rate 100"},
                 dir.path());
    EXPECT_TRUE(hosttest::waitFor([&] { return poses(0) != before[0] && poses(1) != before[1]; }, 5000))
        << sender.output() << sender.errors();
    EXPECT_FALSE(hosttest::waitFor([&] { return poses(2) != before[2]; }, 500)) << "joined on loopback, yet received";
}

}  // namespace
