// ostrelsim: its pure parts, and the program as a child process over loopback, read with our parser and client.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "link/ostrel_parser.h"
#include "link/ostrel_sdk.h"
#include "link/socket_layer.h"
#include "platform/clock.h"
#include "platform/server_socket.h"
#include "tests/host_process_support.h"
#include "tests/support/loopback.h"
#include "tests/support/output.h"
#include "tools/ostrelsim/command_protocol.h"
#include "tools/ostrelsim/frame_composer.h"
#include "tools/ostrelsim/frame_writer.h"
#include "tools/ostrelsim/motion.h"
#include "tools/ostrelsim/options.h"
#include "tools/ostrelsim/pacing.h"
#include "tools/ostrelsim/recording_format.h"

namespace {

using namespace ostrelsim;
using hosttest::Child;
using hosttest::kLoopback;
using hosttest::TempDir;

ParseResult parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "ostrelsim");
    return parseArguments(static_cast<int>(arguments.size()), arguments.data());
}

double nowSeconds() { return static_cast<double>(platform::monotonicNanos()) / 1e9; }
std::string loopbackTo(int port) { return "127.0.0.1:" + std::to_string(port); }

// A UDP socket on a loopback port the system chose.
class Receiver {
public:
    Receiver() { EXPECT_EQ(0, platform::udpBind(socket_, kLoopback, port_)); }
    ~Receiver() { platform::closeServerSocket(socket_); }
    uint16_t port() const { return port_; }
    std::string address() const { return loopbackTo(port_); }
    // All that arrives until nothing came for quietSeconds after the first (limitSeconds at most), with arrival times.
    std::vector<std::string> collect(double quietSeconds, double limitSeconds, std::vector<double>* times = nullptr) {
        std::vector<std::string> got;
        std::vector<char> buffer(70000);
        for (double end = nowSeconds() + limitSeconds; nowSeconds() < end;) {
            const double wait = got.empty() ? end - nowSeconds() : quietSeconds;
            int count =
                platform::udpReceiveFrom(socket_, buffer.data(), buffer.size(), static_cast<int32_t>(wait * 1e6));
            if (count < 0) break;
            got.emplace_back(buffer.data(), static_cast<size_t>(count));
            if (times != nullptr) times->push_back(nowSeconds());
        }
        return got;
    }

private:
    platform::ServerSocket* socket_ = nullptr;
    uint16_t port_ = 0;
};

bool parseWith(OstrelParser& parser, std::string_view frame) {
    std::vector<char> buffer(frame.begin(), frame.end());
    buffer.push_back('\0');
    parser.beginFrame();
    return parser.parseFrame(buffer.data(), buffer.size());
}

// Every record of the kinds the scene has, in the asked counts.
void expectScene(const OstrelParser& parser, const SceneCounts& scene) {
    ASSERT_EQ((std::vector<int>{scene.bodies, scene.wands, scene.tools, scene.inertial, scene.markers}),
              (std::vector<int>{parser.bodyCount(), parser.gripwandCount(), parser.measurementToolCount(),
                                parser.inertialCount(), parser.markerCount()}));
    for (int i = 0; i < parser.bodyCount(); ++i) EXPECT_EQ(i, parser.body(i)->id);
    for (int i = 0; i < parser.gripwandCount(); ++i)
        EXPECT_EQ(std::make_pair(8, 2),
                  std::make_pair(parser.gripwand(i)->buttonCount, parser.gripwand(i)->joystickCount));
}

using Datagrams = std::vector<std::pair<uint64_t, std::string>>;  // arrival times and bytes
std::string recording(const TempDir& dir, const std::string& name, const Datagrams& datagrams) {
    RecordingWriter writer;
    std::string error, path = dir.path() + "/" + name;
    EXPECT_TRUE(writer.create(path, error)) << error;
    for (const auto& [nanos, bytes] : datagrams) EXPECT_TRUE(writer.append(nanos, bytes.data(), bytes.size()));
    EXPECT_TRUE(writer.close());
    return path;
}

}  // namespace

TEST(OstrelsimOptions, DefaultsAndEveryOptionOfEveryMode) {
    const auto fields = [](const Options& o) {
        return std::vector<double>{double(o.to.port),    o.rateHz,          double(o.bodies),
                                   double(o.wands),      double(o.tools),   double(o.inertial),
                                   double(o.markers),    double(o.format),  o.seconds,
                                   double(o.controller), double(o.tcpPort), double(o.udpPort)};
    };
    const Options d = parse({"--to", "localhost:5000"}).options;
    EXPECT_EQ("localhost", d.to.host);
    EXPECT_EQ((std::vector<double>{5000, 60, 3, 1, 0, 0, 0, 2, 0, 0, 50105, 50105}), fields(d));
    ParseResult send =
        parse({"send", "--to=10.0.0.2:7000", "--rate=100.5", "--bodies=5", "--wands=2", "--tools=3", "--inertial=4",
               "--markers=6", "--format=1", "--seconds=2.5", "--controller", "--tcp-port=0"});
    ASSERT_TRUE(send.ok) << send.error;
    EXPECT_EQ((std::vector<double>{7000, 100.5, 5, 2, 3, 4, 6, 1, 2.5, 1, 0, 0}), fields(send.options))
        << "the UDP port follows the TCP port";
    ParseResult ports = parse({"--to", "h:1", "--controller", "--udp-port", "6000", "--rate", "0.001"});  // the least
    EXPECT_EQ(std::make_tuple(50105, 6000, 0.001),
              std::make_tuple(int(ports.options.tcpPort), int(ports.options.udpPort), ports.options.rateHz));
}

TEST(OstrelsimOptions, RefusalsNameTheProblem) {
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{}, "send needs --to HOST:PORT"},
        {{"--to", "host"}, "--to needs HOST:PORT with a port from 1 to 65535, not \"host\""},
        {{"--to", "h:1", "--rate", "0"}, "--rate must be a number from 0.001 to 1000, not \"0\""},
        {{"--to", "h:1", "--rate", "nan"}, "--rate must be a number from 0.001 to 1000, not \"nan\""},
        {{"--to", "h:1", "--rate", "1,5"}, "--rate must be a number from 0.001 to 1000, not \"1,5\""},
        {{"--to", "h:1", "--bodies", "-1"}, "--bodies must be a whole number from 0 to 64, not \"-1\""},
        {{"--to", "h:1", "--wands", "17"}, "--wands must be a whole number from 0 to 16, not \"17\""},
        {{"--to", "h:1", "--format", "3"}, "--format must be 1 or 2, not \"3\""},
        {{"--to", "h:1", "--ttl", "256"}, "--ttl must be a whole number from 0 to 255, not \"256\""},
        {{"record", "--port", "1", "--out", "f", "--interface", "a"}, "--interface does not belong to record mode"},
        {{"--to", "h:1", "--rate"}, "--rate needs a value"},
        {{"--to", "h:1", "--bogus"}, "unknown option --bogus"},
        {{"--to", "h:1", "--to", "h:2"}, "--to given twice"},
        {{"--to", "h:1", "--tcp-port", "5"}, "--tcp-port and --udp-port need --controller"},
        {{"--to", "h:1", "--controller", "--tcp-port", "70000"},
         "--tcp-port must be a port from 0 to 65535, not \"70000\""},
        {{"--to", "h:1", "--loop"}, "--loop does not belong to send mode"},
        {{"--to", "h:1", "--controller=yes"}, "--controller takes no value"},
        {{"play"}, "unknown mode \"play\" (send, record, replay or info)"},
        {{"info"}, "info needs the recording FILE"},
        {{"record", "--out", "f"}, "record needs --port P"},
        {{"record", "--port", "1"}, "record needs --out FILE"},
        {{"replay", "--to", "h:1"}, "replay needs the recording FILE"},
        {{"replay", "f", "g", "--to", "h:1"}, "unexpected argument \"g\""},
        {{"replay", "f"}, "replay needs --to HOST:PORT"},
        {{"replay", "f", "--to", "h:1", "--speed", "1e-300"},
         "--speed must be a number from 0.001 to 100, not \"1e-300\""},
    };
    for (const auto& [arguments, error] : cases) EXPECT_EQ(error, parse(arguments).error);
}

TEST(OstrelsimFrameWriter, EveryLineKindByteForByteInEveryLocale) {
    const Pose identity0{{0, 0, 0}, {1, 0, 0, 0, 1, 0, 0, 0, 1}};
    const test_support::GermanLocale german;  // the same text in a comma-decimal locale
    FrameWriter writer;
    writer.frameCounter(4294967295u);
    writer.timestamp(12.5);
    writer.calibratedBodies(3);
    writer.beginBodies(2);
    writer.body(BodyEntry{0, 1.0, Pose{{1, -2.5, 3.0004}, {1, 0, 0, 0, 1, 0, 0, 0, 1}}});
    writer.body(BodyEntry{2, 0.5, identity0});
    writer.endLine();
    WandEntry wand{0, 1.0, identity0, 0x83, 8, {-1.0, 0.25}};
    writer.beginOlderWands(1);
    writer.olderWand(wand);
    writer.endLine();
    writer.beginWands(1, 1);
    writer.wand(wand);
    writer.endLine();
    ToolEntry tool{0, -1.0, Pose{}, 0x5, 4, 1.5};
    writer.beginOlderTools(1);
    writer.olderTool(tool);
    writer.endLine();
    writer.beginTools(1, 1);
    writer.tool(tool);
    writer.endLine();
    writer.beginInertial(1);
    writer.inertial(InertialEntry{0, 1, 2.5, identity0});
    writer.endLine();
    writer.beginMarkers(2);
    writer.marker(MarkerEntry{1, 1.0, {1, 2, 3}});
    writer.marker(MarkerEntry{2, 1.0, {-0.0001, 0, 0}});
    writer.endLine();
    const std::string identity = "[1.000000 0.000000 0.000000 0.000000 1.000000 0.000000 0.000000 0.000000 1.000000]";
    const std::string zeros = "[0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000]";
    const std::string origin = "[0.000 0.000 0.000]";
    EXPECT_EQ("fr 4294967295\nts 12.500000\n6dcal 3\n6d 2 [0 1.000][1.000 -2.500 3.000]" + identity + " [2 0.500]" +
                  origin + identity + "\n" + "6df 1 [0 1.000 35]" + origin + identity +
                  "\n" +  // bits 0, 1 stay, button 7 goes, joystick left is bit 5
                  "6df2 1 1 [0 1.000 8 2]" + origin + identity + "[131 -1.000 0.250]\n" + "6dmt 1 [0 -1.000 5]" +
                  origin + zeros + "\n" + "6dmt2 1 1 [0 -1.000 4 1.500]" + origin + zeros +
                  "[5][0.010000 0.010000 0.010000 0.000000 0.000000 0.000000]\n" + "6di 1 [0 1 2.500]" + origin +
                  identity + "\n" + "3d 2 [1 1.000][1.000 2.000 3.000] [2 1.000]" + origin + "\n",
              writer.text());
    if (!german.installed) GTEST_SKIP() << "no German locale is installed";
}

TEST(OstrelsimFrameWriter, OlderButtonWordFoldsTheJoystick) {
    const struct {
        uint32_t buttons;
        double joystick[2];
        uint32_t word;
    } cases[] = {{0xFF, {0.0, 0.0}, 0x0F},  // buttons above 3 are the joystick's bits
                 {0, {-0.6, 0.0}, 0x20},   {0, {0.6, 0.0}, 0x80}, {0, {0.0, -0.6}, 0x10},
                 {0, {0.0, 0.6}, 0x40},    {0, {0.5, -0.5}, 0x00}};  // half way is not yet pushed
    for (const auto& c : cases)
        EXPECT_EQ(c.word, olderWandButtonWord(c.buttons, c.joystick)) << c.joystick[0] << " " << c.joystick[1];
}

// Angles read back; each kind moves smoothly, drops out briefly every few seconds, never two at once; all buttons used.
TEST(OstrelsimMotion, TheSceneMovesLikeARealOne) {
    double rot[9];
    rotationFromAngles(0.3, -0.4, 1.1, rot);
    // As the host reads R(r, c) at rot[3c + r]: azimuth atan2(R02, R22), elevation -asin(R12), roll atan2(R10, R11).
    EXPECT_NEAR(0.3, std::atan2(rot[6], rot[8]), 1e-12);
    EXPECT_NEAR(-0.4, -std::asin(rot[7]), 1e-12);
    EXPECT_NEAR(1.1, std::atan2(rot[1], rot[4]), 1e-12);
    Pose (*const poses[])(int, double) noexcept = {bodyPose, wandPose, toolPose, inertialPose};  // in ObjectKind order
    for (const auto& pose : poses) {
        const auto kind = static_cast<ObjectKind>(&pose - poses);
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE("kind " + std::to_string(int(kind)) + " index " + std::to_string(i));
            int dropouts = 0, outSteps = 0;
            for (double t = 0.0; t < 30.0; t += 0.01) {
                const Pose now = pose(i, t), next = pose(i, t + 0.01);
                const double step =
                    std::hypot(next.loc[0] - now.loc[0], next.loc[1] - now.loc[1], next.loc[2] - now.loc[2]);
                ASSERT_LT(step, 15.0) << "jumps at " << t << " s (1.5 m/s is smooth)";
                for (double at : now.loc) ASSERT_LT(std::fabs(at), 3000.0) << "leaves the room at " << t;
                for (int e = 0; e < 9; ++e) {  // smooth, and columns e / 3 and e % 3 orthonormal
                    const double *a = now.rot + e / 3 * 3, *b = now.rot + e % 3 * 3;
                    ASSERT_LT(std::fabs(next.rot[e] - now.rot[e]), 0.02) << t;
                    ASSERT_NEAR(e % 4 == 0, a[0] * b[0] + a[1] * b[1] + a[2] * b[2], 1e-12) << t;
                }
                const bool out = droppedOut(kind, i, t);
                for (int j = i + 1; j < 4; ++j) ASSERT_FALSE(out && droppedOut(kind, j, t)) << "two out at " << t;
                dropouts += out && (t < 0.005 || !droppedOut(kind, i, t - 0.01)) ? 1 : 0;
                outSteps += out ? 1 : 0;
            }
            EXPECT_TRUE(dropouts == 5 || dropouts == 6) << "five periods, one maybe cut by the ends: " << dropouts;
            EXPECT_NEAR(5 * kDropoutLength, outSteps * 0.01, 0.05);
        }
    }
    double lowest = 1, highest = -1, stick[2];
    for (int buttons : {4, 8}) {  // one at a time, each once a round; the joystick sweeps its range
        std::vector<int> presses(static_cast<size_t>(buttons), 0);
        uint32_t before = 0;
        for (double t = 0.0; t < buttons + 2.0; t += 0.01) {
            uint32_t now = pressedButtons(0, buttons, t);
            EXPECT_TRUE(__builtin_popcount(now) <= 1 && now >> buttons == 0) << now;
            for (int b = 0; b < buttons; ++b) presses[static_cast<size_t>(b)] += ((now & ~before) >> b) & 1u;
            before = now;
            joystickPosition(0, t, stick);
            lowest = std::min({lowest, stick[0], stick[1]});
            highest = std::max({highest, stick[0], stick[1]});
        }
        EXPECT_EQ(std::vector<int>(static_cast<size_t>(buttons), 1), presses);
        EXPECT_EQ(0u, before) << "all released at the end of the round";
    }
    EXPECT_TRUE(lowest < -0.95 && highest > 0.95);
}

TEST(OstrelsimFrames, BothFormatsParseWithTheAskedCountsThroughDropoutsAndTheLargestFits) {
    for (int format : {1, 2}) {
        SceneCounts scene{4, 2, 2, 3, 5, format};
        OstrelParser parser;
        FrameWriter writer;
        int buttonFrames = 0;
        for (uint32_t frame = 0; frame < 600; ++frame) {
            const double t = frame / 50.0;
            composeFrame(scene, frame, t, writer);
            ASSERT_TRUE(parseWith(parser, writer.text())) << writer.text();
            EXPECT_EQ(frame, parser.frameCounter());
            EXPECT_NEAR(t, parser.timestamp(), 1e-6);
            ASSERT_NO_FATAL_FAILURE(expectScene(parser, scene)) << "format " << format << " frame " << frame;
            for (int i = 0; i < scene.bodies; ++i)
                EXPECT_EQ(droppedOut(ObjectKind::Body, i, t), parser.body(i)->quality < 0);
            for (int i = 0; i < scene.wands; ++i) {
                EXPECT_EQ(droppedOut(ObjectKind::Wand, i, t), parser.gripwand(i)->quality < 0);
                for (int b = 0; b < 4; ++b) buttonFrames += parser.gripwand(i)->buttons[b];
            }
            for (int i = 0; i < scene.inertial; ++i)  // 1: blind, drifting; 2: seen
                EXPECT_EQ(droppedOut(ObjectKind::Inertial, i, t) ? 1 : 2, parser.inertial(i)->state);
        }
        EXPECT_GT(buttonFrames, 0) << "format " << format;
    }
    FrameWriter largest;
    OstrelParser parser;
    for (double t = 0.0; t < 12.0; t += 0.5) {
        composeFrame(SceneCounts{kMaxBodies, kMaxWands, kMaxTools, kMaxInertial, kMaxMarkers, 2}, 4000000000u, 1e6 + t,
                     largest);
        EXPECT_LE(largest.text().size(), static_cast<size_t>(OstrelSDK::kDefaultBufferSize - 2))
            << "the client's buffer";
        ASSERT_TRUE(parseWith(parser, largest.text()));
    }
}

TEST(OstrelsimPacing, DueTimesNeverDriftAndSaturate) {
    FrameSchedule schedule(1000, 60.0);
    EXPECT_EQ(1000u, schedule.dueNanos(0));
    EXPECT_EQ(1000u + 16666667u, schedule.dueNanos(1));
    EXPECT_EQ(1000u + 3600000000000ull, schedule.dueNanos(216000)) << "an hour of frames ends on the hour";
    EXPECT_EQ(6u, schedule.nextFrame(5, schedule.dueNanos(6) + kFallBehindLimitNanos)) << "a late frame is still sent";
    EXPECT_EQ(600u, schedule.nextFrame(5, schedule.dueNanos(600) + 1)) << "far behind: on with the newest due frame";
    const uint64_t never = UINT64_MAX;
    EXPECT_EQ(100u + 500000000u, replayDueNanos(100, 1000000000u, 2.0));
    EXPECT_EQ(never, replayDueNanos(100, never - 5, 1.0)) << "a gap near 2^64 waits for good";
    EXPECT_EQ(never, replayDueNanos(never - 5, 10, 1.0));
    EXPECT_EQ(never, replayDueNanos(0, 1000000000u, 1e-300));
    EXPECT_EQ(250000000u, loopPeriodNanos(200000000u, 5)) << "span plus one mean interval";
    EXPECT_EQ(1000000000u, loopPeriodNanos(0, 5)) << "all at one time";
    EXPECT_EQ(1000000000u, loopPeriodNanos(200000000u, 1)) << "a single datagram";
}

TEST(OstrelsimCommands, KnownCommandsTheirEffectAndTheirSplitting) {
    std::vector<Command> read;
    for (const char* text : {"ostrel2 tracking start", " ostrel2 tracking stop\r\n", "ostrel 10 3", "ostrel 10 0",
                             "ostrel 10 1", "ostrel 31", "ostrel 32", "ostrel2 tracking startx", ""})
        read.push_back(interpretCommand(text));
    EXPECT_EQ((std::vector<Command>{Command::TrackingStart, Command::TrackingStop, Command::MeasurementOn,
                                    Command::MeasurementOff, Command::MeasurementOff, Command::OutputOn,
                                    Command::OutputOff, Command::Unknown, Command::Unknown}),
              read);
    // Each command in turn, and whether frames flow after it.
    const std::pair<Command, bool> steps[] = {
        {Command::MeasurementOn, false},  // measuring, but output still off
        {Command::OutputOn, true},        {Command::OutputOff, false},
        {Command::TrackingStart, true},   {Command::Unknown, true},
        {Command::MeasurementOff, false}, {Command::OutputOn, false}};  // measurement off switched the output off too
    TrackingState state;
    EXPECT_FALSE(state.sendingFrames());
    for (size_t step = 0; step < std::size(steps); ++step) {
        state.apply(steps[step].first);
        EXPECT_EQ(steps[step].second, state.sendingFrames()) << "step " << step;
    }
    CommandSplitter splitter;
    std::vector<std::string> cut;
    auto sink = [&](std::string_view command, bool tooLong) {
        cut.push_back((tooLong ? "LONG:" : "") + std::string(command));
    };
    const std::string stream = std::string("ostrel2 tracking start\0ostrel2 trac", 35) +
                               std::string("king stop\0\0typed\r\n", 18) + std::string(250, 'x') + '\0' + "ostrel 31" +
                               '\0';
    splitter.feed(stream.data(), 35, sink);
    ASSERT_EQ(1u, cut.size());
    splitter.feed(stream.data() + 35, stream.size() - 35, sink);
    EXPECT_EQ((std::vector<std::string>{"ostrel2 tracking start", "ostrel2 tracking stop", "typed",
                                        "LONG:" + std::string(200, 'x'), "ostrel 31"}),
              cut)
        << "the stream recovers after a long command";
    EXPECT_EQ("a?b", printableCommand("a\1b"));
}

TEST(OstrelsimRecording, LayoutIsHeaderThenTimedLengthPrefixedRecordsAndDamageIsNamed) {
    TempDir dir;
    EXPECT_EQ(
        std::string("ZORECORD\1\0\0\0\0\0\0\0\x08\7\6\5\4\3\2\1\2\0\0\0ab\x09\7\6\5\4\3\2\1\0\0\0\0", 42),
        hosttest::readFile(recording(dir, "layout.rec", {{0x0102030405060708ull, "ab"}, {0x0102030405060709ull, ""}})));
    // Foreign and damaged files are named.
    std::string error;
    const std::string magic(reinterpret_cast<const char*>(kRecordingMagic), 8), missing = dir.path() + "/missing.rec";
    const std::pair<std::string, std::string> refused[] = {
        {dir.write("frames.rec", "fr 1\nts 2.0\n6dcal 0\n"), " is not an ostrelsim recording"},
        {dir.write("short.rec", "ZOREC"), " ends inside its header: it holds no datagrams"},
        {dir.write("cut.rec", magic + std::string("\x01\0", 2)), " ends inside its header: it holds no datagrams"},
        {dir.write("newer.rec", magic + "\x02" + std::string(7, '\0')), " is a recording of a newer, unknown version"},
    };
    RecordingReader reader;
    for (const auto& [file, says] : refused) EXPECT_TRUE(!reader.open(file, error) && error == file + says) << error;
    EXPECT_TRUE(!reader.open(missing, error) && error == "cannot open " + missing + ": No such file or directory");
    const std::string tooLong("\0\0\0\0\0\0\0\0\xFF\xFF\xFF\x7F", 12);
    ASSERT_TRUE(reader.open(dir.write("damaged.rec", magic + std::string("\x01\0\0\0\0\0\0\0", 8) + tooLong), error));
    RecordHead head{};
    std::vector<char> bytes;
    EXPECT_EQ(ReadOutcome::Damaged, reader.next(head, bytes)) << "a length no datagram can have";
}

class OstrelsimProgram : public ::testing::Test {
protected:
    std::unique_ptr<Child> start(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), OSTRELSIM_PATH);
        return std::make_unique<Child>(arguments, dir.path());
    }
    TempDir dir;
};

TEST_F(OstrelsimProgram, BadArgumentsAndTakenPortsAreNamed) {
    Receiver udp;
    platform::ServerSocket* listener = nullptr;
    uint16_t tcpPort = 0;
    ASSERT_EQ(0, platform::tcpListen(listener, kLoopback, tcpPort));
    const std::string udpPort = std::to_string(udp.port()), tcp = std::to_string(tcpPort);
    // Status 2 for a bad command line, 1 for a port in use; the errors whole, or their start where not ending in "\n".
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--bodies", "2"}, "ostrelsim: send needs --to HOST:PORT\nusage: ostrelsim"},
        {{"--to", "no-such-host.invalid:9", "--seconds", "1"},
         "ostrelsim: cannot resolve host \"no-such-host.invalid\"\n"},
        {{"--to", "127.0.0.1:9", "--ttl", "2"},
         "ostrelsim: --ttl and --interface need a multicast group (224.0.0.0 to 239.255.255.255) in --to, not "
         "\"127.0.0.1\"\n"},
        {{"--to", "239.255.77.6:9", "--interface", "203.0.113.254"},
         "ostrelsim: cannot send from interface \"203.0.113.254\": "},  // then the system's words
        {{"record", "--port", udpPort, "--out", dir.path() + "/never.rec"},
         "ostrelsim: UDP port " + udpPort + " is already in use by another program\n"},
        {{"--to", "127.0.0.1:9", "--controller", "--tcp-port", tcp},
         "ostrelsim: TCP command port " + tcp + " is already in use by another program\n"},
        {{"--to", "127.0.0.1:9", "--controller", "--tcp-port", "0", "--udp-port", udpPort},
         "ostrelsim: UDP command port " + udpPort + " is already in use by another program\n"},
    };
    for (const auto& [arguments, errors] : cases) {
        std::unique_ptr<Child> simulator = start(arguments);
        EXPECT_EQ(errors.find("in use") == std::string::npos ? 2 : 1, simulator->finish());
        EXPECT_EQ(errors, errors.back() == '\n' ? simulator->errors() : simulator->errors().substr(0, errors.size()));
    }
    platform::closeServerSocket(listener);
    std::unique_ptr<Child> help = start({"--help"});
    EXPECT_EQ(0, help->finish());
    EXPECT_EQ(0u, help->output().find("usage: ostrelsim"));
}

TEST_F(OstrelsimProgram, SendsTheAskedSceneAtTheAskedRateForTheAskedTime) {
    Receiver receiver;
    auto simulator = start({"--to", receiver.address(), "--rate", "100", "--seconds", "3", "--bodies", "5", "--wands",
                            "2", "--tools", "3", "--inertial", "2", "--markers", "7", "--format", "1"});
    std::vector<double> arrivals;
    std::vector<std::string> frames = receiver.collect(1.0, 8.0, &arrivals);
    EXPECT_EQ(0, simulator->finish());
    ASSERT_GE(frames.size(), 250u);
    EXPECT_NEAR(200, std::count_if(arrivals.begin(), arrivals.end(), [&](double t) { return t < arrivals[0] + 2.0; }),
                15);
    OstrelParser parser;
    for (uint32_t frame = 0; frame < frames.size(); ++frame) {
        ASSERT_TRUE(parseWith(parser, frames[frame])) << frames[frame];
        EXPECT_GE(parser.frameCounter(), frame) << "in order (UDP may lose some)";
        ASSERT_NO_FATAL_FAILURE(expectScene(parser, SceneCounts{5, 2, 3, 2, 7, 1}));
    }
    EXPECT_NE(std::string::npos, frames[0].find("\n6df ")) << "format 1";
    EXPECT_NE(std::string::npos, simulator->output().find("sent 300 frames in 3.")) << "the time asked for";
}

// Sends refused by the system (broadcast without the right to): the first failure is reported, then every thousandth.
// Twice the frames needed: a loaded machine skips some (Wine's timers are coarse).
TEST_F(OstrelsimProgram, RepeatedSendFailuresAreReportedSparingly) {
    auto simulator = start({"--to", "127.255.255.255:9", "--rate", "1000", "--seconds", "2"});
    EXPECT_EQ(0, simulator->finish());
    EXPECT_TRUE(std::regex_match(simulator->errors(),
                                 std::regex("ostrelsim: frame 0 could not be sent \\(1 failed so far\\)\n"
                                            "ostrelsim: frame 1[0-9]{3} could not be sent \\(1001 failed so far\\)\n")))
        << simulator->errors() << simulator->output();
}

// The simulator as controller on ports the system chose (UDP takes the TCP number): the client over TCP, UDP, by hand.
TEST_F(OstrelsimProgram, ControllerGatesTheFramesOverTcpAndUdp) {
    const int dataPort = hosttest::freeUdpPort();
    auto simulator = start({"--to", loopbackTo(dataPort), "--rate", "50", "--bodies", "2", "--controller", "--tcp-port",
                            "0", "--seconds", "30"});
    const int tcpPort = simulator->numberAfter("listening on TCP port ");
    ASSERT_GT(tcpPort, 0) << simulator->output();
    ASSERT_EQ(tcpPort, simulator->numberAfter("and UDP port ")) << simulator->output();
    for (RemoteKind kind : {RemoteKind::Tcp, RemoteKind::Udp}) {
        OstrelSDK client("127.0.0.1", static_cast<uint16_t>(tcpPort), static_cast<uint16_t>(dataPort), kind, 32768,
                         400000, 2000000);
        EXPECT_FALSE(client.receiveFrame()) << "no frames before the start command";
        ASSERT_TRUE(client.startTracking());
        ASSERT_TRUE(client.receiveFrame());
        ASSERT_TRUE(client.stopTracking());
        for (int underWay = 0; underWay < 5 && client.receiveFrame();) ++underWay;
        EXPECT_FALSE(client.receiveFrame()) << "frames stop after the stop command";
    }
    // Commands and answers are NUL-terminated, several in one send, a too long one refused.
    SocketHandle* connection = nullptr;
    ASSERT_EQ(0, tcpConnect(connection, kLoopback, static_cast<uint16_t>(tcpPort), 2000000));
    const std::string sent = std::string("ostrel2 tracking start\0ostrel 99\0", 33) + std::string(300, 'x') + '\0',
                      nul(1, '\0');
    ASSERT_EQ(0, tcpSend(connection, sent.data(), static_cast<int32_t>(sent.size()), 1000000));
    std::string got;
    char buffer[512];
    for (int reads = 0; reads < 20 && std::count(got.begin(), got.end(), '\0') < 3; ++reads) {
        int32_t read = tcpReceive(connection, buffer, sizeof buffer, 2000000);
        if (read <= 0) break;
        got.append(buffer, static_cast<size_t>(read));
    }
    EXPECT_EQ(
        "ostrel2 ok" + nul + "ostrel2 err 1 \"unknown command\"" + nul + "ostrel2 err 2 \"command too long\"" + nul,
        got);
    tcpClose(connection);
    ASSERT_TRUE(loopback::sendDatagram(static_cast<uint16_t>(tcpPort), std::string(201, 'y')));  // fits the buffer
    EXPECT_TRUE(simulator->said("UDP command \"" + std::string(60, 'y') + "...\" from 127.0.0.1: too long, ignored\n"))
        << simulator->output();
    simulator->requestStop();
    EXPECT_EQ(0, simulator->finish());
}

TEST_F(OstrelsimProgram, RecordThenReplayGivesTheSameDatagramsAndPacing) {
    std::string path = dir.path() + "/roundtrip.rec";
    auto recorder = start({"record", "--port", "0", "--out", path});
    const int port = recorder->numberAfter("recording UDP port ");
    ASSERT_GT(port, 0) << recorder->output() << recorder->errors();
    std::vector<std::string> sent;
    for (int i = 0; i < 30; ++i)
        sent.push_back("fr " + std::to_string(i) + "\n" + std::string(i * 37u, static_cast<char>('a' + i % 26)));
    sent[7] = std::string("\0\x01\xFF", 3);
    sent[8].clear();
    size_t size = kRecordingHeaderSize;
    for (const std::string& datagram : sent) size += kRecordHeadSize + datagram.size();
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_TRUE(loopback::sendDatagram(static_cast<uint16_t>(port), sent[i]));
        std::this_thread::sleep_for(std::chrono::milliseconds(i < 15 ? 20 : 40));
    }
    EXPECT_TRUE(hosttest::waitFor([&] { return std::filesystem::file_size(path) == size; }, 2000))
        << "every record flushed as it came, for a recorder stopped hard";
    recorder->requestStop();
    EXPECT_EQ(0, recorder->finish());
    EXPECT_NE(std::string::npos, recorder->output().find("recorded 30 datagrams")) << recorder->output();
    std::vector<double> recorded;  // the pacing to follow, as it came (sleeps overshoot on a busy machine)
    RecordingReader reading;
    std::string error;
    ASSERT_TRUE(reading.open(path, error)) << error;
    RecordHead head{};
    for (std::vector<char> bytes; reading.next(head, bytes) == ReadOutcome::Record;)
        recorded.push_back(head.arrivalNanos / 1e9);
    ASSERT_EQ(30u, recorded.size());
    // As if the recorder had been killed in the middle of writing a 31st record.
    std::ofstream(path, std::ios::binary | std::ios::app).write("\x05\0\0\0\0\0\0\0\x0A\0\0\0fra", 15);
    Receiver receiver;  // twice as fast
    auto replay = start({"replay", path, "--to", receiver.address(), "--speed", "2"});
    std::vector<double> at;
    ASSERT_EQ(sent, receiver.collect(1.0, 10.0, &at));
    EXPECT_EQ(0, replay->finish());
    EXPECT_EQ("ostrelsim: " + path +
                  " ends inside a record (15 bytes, a recorder that was stopped hard); its complete records were "
                  "replayed\n",
              replay->errors());
    // Gaps of 20 ms, then of 40 ms: the pacing follows the recording, not an average.
    EXPECT_NEAR((recorded[29] - recorded[0]) / 2, at.back() - at.front(), 0.1);
    EXPECT_NEAR((recorded[14] - recorded[0]) / 2, at[14] - at[0], 0.06);
}

TEST_F(OstrelsimProgram, InfoTellsWhatARecordingHolds) {
    const std::string path = recording(
        dir, "info.rec",
        {{1000000000, "fr 1\n6d 0\n\x01\xff\n"}, {1020000000, "fr 2\n"}, {1520000000, ""}, {1540000000, "fr 4\n"}});
    std::ofstream(path, std::ios::binary | std::ios::app).write("\x05\0\0", 3);  // a recorder killed mid-record
    auto info = start({"info", path});
    EXPECT_EQ(0, info->finish());
    EXPECT_EQ("recording    " + path +
                  "\ndatagrams    4, 23 bytes (largest 13)\nduration     0.540 s, first to last datagram\n"
                  "mean rate    5.56 per second\nlargest gap  0.500 s, before datagram 3\nfirst frame  (13 bytes)\n  "
                  "fr 1\n  6d 0\n  ??\n",
              info->output());
    EXPECT_EQ("ostrelsim: " + path +
                  " ends inside a record (3 bytes, a recorder that was stopped hard); its complete records are "
                  "counted above\n",
              info->errors());
}

// Five datagrams at one time: one pass a second, never a flood; a recording without any is named.
TEST_F(OstrelsimProgram, ReplayLoopsWithoutFloodingAndAnEmptyRecordingIsNamed) {
    const std::string path = recording(dir, "loop.rec", Datagrams(5, {0, "a"})),
                      empty = recording(dir, "empty.rec", {});
    Receiver receiver;
    auto replay = start({"replay", path, "--to", receiver.address(), "--loop", "--seconds", "1"});
    const size_t got = receiver.collect(0.5, 5.0).size();
    EXPECT_EQ(0, replay->finish());
    EXPECT_TRUE(got >= 5 && got <= 10) << got;
    auto none = start({"replay", empty, "--to", "127.0.0.1:9", "--loop"});
    EXPECT_EQ(0, none->finish());
    EXPECT_NE(std::string::npos, none->output().find("ostrelsim: " + empty + " holds no datagrams\n"))
        << none->output();
}
