#include "device/device_config.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

using namespace device_config;

namespace {

// Configuration lines as the host hands them over; the texts live here.
class Lines {
public:
    Lines& add(int lineNumber, const char* keyword, std::initializer_list<const char*> args) {
        ConfigLine& line = config_.lines[config_.numLines++];
        line.lineNumber = lineNumber;
        line.keyword = keyword;
        line.argCount = static_cast<int32_t>(args.size());
        int i = 0;
        for (const char* a : args) line.args[i++] = a;
        return *this;
    }
    const DeviceConfig& config() const { return config_; }

private:
    DeviceConfig config_{};
};

std::string message(const LineFault& f) {
    char text[128];
    std::snprintf(text, sizeof text, faultFormat(f.fault), f.lineNumber);
    return text;
}

std::vector<std::string> messages(const KeywordReport& r) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < r.faultCount; ++i) out.push_back(message(r.faults[i]));
    return out;
}

// One keyword line with one argument: the report's messages.
std::vector<std::string> readOne(const char* keyword, const char* value, DeviceFields& s) {
    Lines lines;
    lines.add(7, keyword, {value});
    return messages(readDeviceKeywords(lines.config(), s));
}

}  // namespace

TEST(DeviceConfig, DefaultsWithoutLines) {
    DeviceFields s;
    const KeywordReport r = readDeviceKeywords(Lines().config(), s);
    EXPECT_FALSE(r.failed());
    EXPECT_EQ(1, s.numStandardBodies);
    EXPECT_EQ(0u, s.numGripwands);
    EXPECT_EQ(0, s.numMeasurementTools);
    EXPECT_EQ(5000, s.dataPort);
    EXPECT_FALSE(s.remoteControl);
    EXPECT_EQ("", s.remoteHost);
    EXPECT_EQ(0, s.remotePort);
    EXPECT_EQ(0, s.bufferSize);
    EXPECT_EQ(0u, s.debugFlags);
}

TEST(DeviceConfig, PortBounds) {
    DeviceFields s;
    EXPECT_EQ(std::vector<std::string>{"Invalid Port Number on Line 7.\n"}, readOne("port", "1024", s));
    EXPECT_EQ(std::vector<std::string>{"Invalid Port Number on Line 7.\n"}, readOne("port", "65536", s));
    EXPECT_EQ(std::vector<std::string>{"Invalid Port Number on Line 7.\n"}, readOne("port", "abc", s));
    EXPECT_EQ(std::vector<std::string>{"Invalid Port Number on Line 7.\n"}, readOne("port", "-5000", s));
    EXPECT_EQ(5000, s.dataPort);  // invalid ports are never stored
    EXPECT_TRUE(readOne("port", "1025", s).empty());
    EXPECT_EQ(1025, s.dataPort);
    EXPECT_TRUE(readOne("port", "65535", s).empty());
    EXPECT_EQ(65535, s.dataPort);
    EXPECT_TRUE(readOne("port", " 6000xyz", s).empty());  // atoi: trailing text ignored
    EXPECT_EQ(6000, s.dataPort);
}

TEST(DeviceConfig, CountsAndTheirLimits) {
    DeviceFields s;
    EXPECT_TRUE(readOne("standardbodies", "0", s).empty());
    EXPECT_EQ(0, s.numStandardBodies);
    EXPECT_TRUE(readOne("standardbodies", "32", s).empty());
    EXPECT_EQ(32, s.numStandardBodies);
    EXPECT_EQ(std::vector<std::string>{"Invalid Number of Standard Bodies on Line 7.\n"},
              readOne("standardbodies", "-1", s));
    EXPECT_EQ(std::vector<std::string>{"Invalid Number of Standard Bodies on Line 7.\n"},
              readOne("standardbodies", "33", s));
    EXPECT_EQ(32, s.numStandardBodies);

    EXPECT_TRUE(readOne("gripwands", "16", s).empty());
    EXPECT_EQ(16u, s.numGripwands);
    EXPECT_EQ(std::vector<std::string>{"Invalid Number of Gripwands on Line 7.\n"}, readOne("gripwands", "17", s));
    // A rejected count never reaches the settings: a later configure without
    // the line must not run with 17 Gripwands over 16 state slots.
    EXPECT_EQ(16u, s.numGripwands);

    EXPECT_TRUE(readOne("measurementtools", "3", s).empty());
    EXPECT_EQ(3, s.numMeasurementTools);
    EXPECT_EQ(std::vector<std::string>{"Invalid Number of Measurement Tools on Line 7.\n"},
              readOne("measurementtools", "-2", s));
    EXPECT_EQ(3, s.numMeasurementTools);

    EXPECT_TRUE(readOne("buffersize", "1", s).empty());
    EXPECT_EQ(1, s.bufferSize);
    EXPECT_EQ(std::vector<std::string>{"Invalid Buffer Size on Line 7.\n"}, readOne("buffersize", "0", s));
    EXPECT_EQ(1, s.bufferSize);
}

TEST(DeviceConfig, CaveCoordinatesOnlyExactYes) {
    DeviceFields s;
    EXPECT_TRUE(readOne("CAVECoordinates", "yes", s).empty());
    const std::vector<std::string> rejected{"Only CAVELib Coordinates supported on Line 7.\n"};
    EXPECT_EQ(rejected, readOne("CAVECoordinates", "YES", s));
    EXPECT_EQ(rejected, readOne("CAVECoordinates", "on", s));
}

TEST(DeviceConfig, DebugIsDecimal) {
    DeviceFields s;
    EXPECT_TRUE(readOne("debug", "60", s).empty());
    EXPECT_EQ(60u, s.debugFlags);
    EXPECT_TRUE(readOne("debug", "0x20", s).empty());
    EXPECT_EQ(0u, s.debugFlags);
    EXPECT_TRUE(readOne("debug", "-1", s).empty());
    EXPECT_EQ(0xffffffffu, s.debugFlags);
    Lines lines;
    lines.add(3, "debug", {});
    EXPECT_EQ(std::vector<std::string>{"Invalid Number of Arguments on Line 3.\n"},
              messages(readDeviceKeywords(lines.config(), s)));
}

TEST(DeviceConfig, ArgumentCountsOfEveryKeyword) {
    for (const char* keyword : {"port", "standardbodies", "gripwands", "measurementtools", "CAVECoordinates",
                                "buffersize", "debug"}) {
        Lines lines;
        lines.add(11, keyword, {});
        lines.add(12, keyword, {"1", "2"});
        DeviceFields s;
        const std::vector<std::string> expected{"Invalid Number of Arguments on Line 11.\n",
                                                "Invalid Number of Arguments on Line 12.\n"};
        EXPECT_EQ(expected, messages(readDeviceKeywords(lines.config(), s))) << keyword;
    }
    Lines remote;
    remote.add(4, "remote", {});
    remote.add(5, "remote", {"h", "2000", "x"});
    DeviceFields s;
    const std::vector<std::string> expected{"Invalid Number of Arguments on Line 4.\n",
                                            "Invalid Number of Arguments on Line 5.\n"};
    EXPECT_EQ(expected, messages(readDeviceKeywords(remote.config(), s)));
    EXPECT_FALSE(s.remoteControl);
}

TEST(DeviceConfig, SeveralFaultyLinesAllReportedAndGoodLinesAccepted) {
    Lines lines;
    lines.add(2, "port", {"80"});
    lines.add(3, "sensoroffset", {"1", "0", "0", "1"});
    lines.add(4, "gripwands", {"2"});
    lines.add(6, "gripwands", {"20"});
    lines.add(9, "Port", {"1"});  // not the device's keyword: case matters
    DeviceFields s;
    const KeywordReport r = readDeviceKeywords(lines.config(), s);
    const std::vector<std::string> expected{"Invalid Port Number on Line 2.\n",
                                            "Invalid Number of Gripwands on Line 6.\n"};
    EXPECT_EQ(expected, messages(r));
    EXPECT_FALSE(r.accepted[0]);
    EXPECT_TRUE(r.accepted[1]);
    EXPECT_TRUE(r.accepted[2]);
    EXPECT_FALSE(r.accepted[3]);
    EXPECT_TRUE(r.accepted[4]);
    EXPECT_EQ(2u, s.numGripwands);
    EXPECT_EQ(5000, s.dataPort);
}

TEST(DeviceConfig, LaterLineOverrides) {
    Lines lines;
    lines.add(1, "standardbodies", {"4"});
    lines.add(2, "standardbodies", {"6"});
    DeviceFields s;
    EXPECT_FALSE(readDeviceKeywords(lines.config(), s).failed());
    EXPECT_EQ(6, s.numStandardBodies);
}

TEST(DeviceConfig, HostileRecordsAreReadSafely) {
    DeviceConfig config{};
    config.numLines = 1000;  // beyond the 32 lines the record holds
    config.lines[0].lineNumber = 1;
    config.lines[0].keyword = nullptr;
    config.lines[1].lineNumber = 2;
    config.lines[1].keyword = "port";
    config.lines[1].argCount = 1;
    config.lines[1].args[0] = nullptr;  // reads as no digits
    DeviceFields s;
    const KeywordReport r = readDeviceKeywords(config, s);
    ASSERT_EQ(1u, r.faultCount);
    EXPECT_EQ("Invalid Port Number on Line 2.\n", message(r.faults[0]));
    EXPECT_TRUE(r.accepted[0]);
    EXPECT_TRUE(r.accepted[31]);
}

TEST(DeviceConfig, RemoteKindsAndClientParameters) {
    DeviceFields data;
    ClientParameters p = clientParameters(data);
    EXPECT_TRUE(p.dataOnly);
    EXPECT_EQ(5000, p.dataPort);
    EXPECT_EQ(32768, p.bufferSize);

    Lines tcp;
    tcp.add(1, "remote", {"ctrl.local"});
    tcp.add(2, "buffersize", {"4096"});
    DeviceFields s;
    ASSERT_FALSE(readDeviceKeywords(tcp.config(), s).failed());
    p = clientParameters(s);
    EXPECT_FALSE(p.dataOnly);
    EXPECT_EQ("ctrl.local", p.host);
    EXPECT_EQ(50105, p.serverPort);
    EXPECT_EQ(2, p.remoteKind);
    EXPECT_EQ(4096, p.bufferSize);
    EXPECT_EQ(1000000, p.dataTimeoutMicros);
    EXPECT_EQ(10000000, p.commandTimeoutMicros);

    Lines udp;
    udp.add(1, "remote", {"10.0.0.2", "50105"});
    DeviceFields u;
    ASSERT_FALSE(readDeviceKeywords(udp.config(), u).failed());
    p = clientParameters(u);
    EXPECT_EQ(50105, p.serverPort);
    EXPECT_EQ(1, p.remoteKind);
    EXPECT_EQ(32768, p.bufferSize);

    // "buffersize" alone does not reach the data-only client.
    DeviceFields sized;
    sized.bufferSize = 4096;
    EXPECT_EQ(32768, clientParameters(sized).bufferSize);
}

TEST(DeviceConfig, RemoteWithBadPortKeepsHostButNoPort) {
    Lines lines;
    lines.add(8, "remote", {"ctrl", "99"});
    DeviceFields s;
    EXPECT_EQ(std::vector<std::string>{"Invalid Port Number on Line 8.\n"},
              messages(readDeviceKeywords(lines.config(), s)));
    EXPECT_TRUE(s.remoteControl);
    EXPECT_EQ("ctrl", s.remoteHost);
    EXPECT_EQ(0, s.remotePort);
}

TEST(DeviceConfig, DerivedCountsAndTheTrackerLimit) {
    DeviceFields s;
    s.numStandardBodies = 32;
    s.numGripwands = 1;
    EXPECT_EQ(33u, trackerCount(s));
    s.numStandardBodies = 3;
    s.numGripwands = 2;
    s.numMeasurementTools = 1;
    EXPECT_EQ(6u, trackerCount(s));
    EXPECT_EQ(3u, controllerCount(s));
}

TEST(DeviceConfig, ReadDecimalLikeAtoiWithoutOverflow) {
    EXPECT_EQ(0, readDecimal(""));
    EXPECT_EQ(0, readDecimal("-"));
    EXPECT_EQ(42, readDecimal("  +42abc"));
    EXPECT_EQ(-7, readDecimal("\t-7"));
    EXPECT_EQ(INT32_MAX, readDecimal("99999999999999999999"));
    EXPECT_EQ(INT32_MIN, readDecimal("-99999999999999999999"));
    EXPECT_EQ(INT32_MIN, readDecimal("-2147483648"));
    EXPECT_EQ(INT32_MAX, readDecimal("2147483647"));
    // No locale reaches integer reading.
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) {
        EXPECT_EQ(1, readDecimal("1.5"));
        std::setlocale(LC_ALL, "C");
    }
}
