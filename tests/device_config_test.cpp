// The device keywords as a pure function of the configuration lines: every
// keyword's accepted values, its message with the line number, and what
// reaches the device's fields.
#include "device/device_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "shared_storage_fixture.h"

using namespace device_config;
using test_support::ConfigLines;

namespace {

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

// The keyword fields in one line, to compare whole states.
std::string describe(const DeviceFields& f) {
    return "bodies " + std::to_string(f.numStandardBodies) + " wands " + std::to_string(f.numGripwands) +
           " tools " + std::to_string(f.numMeasurementTools) + " port " + std::to_string(f.dataPort) + " remote " +
           std::to_string(f.remoteControl) + " '" + f.remoteHost.c_str() + "' " + std::to_string(f.remotePort) +
           " buffer " + std::to_string(f.bufferSize) + " debug " + std::to_string(f.debugFlags);
}

const std::string kDefaults = "bodies 1 wands 0 tools 0 port 5000 remote 0 '' 0 buffer 0 debug 0";

}  // namespace

// One line each (line 3), read into default fields: its message, or none,
// and the fields afterwards. A rejected count or port is not taken over.
TEST(DeviceConfig, EachKeywordsValuesAndMessages) {
    const std::string ports = "Invalid Port Number on Line 3.\n";
    const std::string arguments = "Invalid Number of Arguments on Line 3.\n";
    const struct {
        std::vector<const char*> words;
        std::string message;
        std::string fields;
    } cases[] = {
        {{"port", "1024"}, ports, kDefaults},
        {{"port", "65536"}, ports, kDefaults},
        {{"port", "abc"}, ports, kDefaults},  // no digits read as 0
        {{"port", "-5000"}, ports, kDefaults},
        {{"port", "1025"}, "", "bodies 1 wands 0 tools 0 port 1025 remote 0 '' 0 buffer 0 debug 0"},
        {{"port", "65535"}, "", "bodies 1 wands 0 tools 0 port 65535 remote 0 '' 0 buffer 0 debug 0"},
        {{"port", " 6000xyz"}, "", "bodies 1 wands 0 tools 0 port 6000 remote 0 '' 0 buffer 0 debug 0"},
        {{"remote", "ctrl"}, "", "bodies 1 wands 0 tools 0 port 5000 remote 1 'ctrl' 0 buffer 0 debug 0"},
        {{"remote", "10.0.0.2", "50105"}, "",
         "bodies 1 wands 0 tools 0 port 5000 remote 1 '10.0.0.2' 50105 buffer 0 debug 0"},
        // The host is kept, the port is not.
        {{"remote", "ctrl", "99"}, ports, "bodies 1 wands 0 tools 0 port 5000 remote 1 'ctrl' 0 buffer 0 debug 0"},
        {{"standardbodies", "0"}, "", "bodies 0 wands 0 tools 0 port 5000 remote 0 '' 0 buffer 0 debug 0"},
        {{"standardbodies", "32"}, "", "bodies 32 wands 0 tools 0 port 5000 remote 0 '' 0 buffer 0 debug 0"},
        {{"standardbodies", "-1"}, "Invalid Number of Standard Bodies on Line 3.\n", kDefaults},
        {{"standardbodies", "33"}, "Invalid Number of Standard Bodies on Line 3.\n", kDefaults},
        {{"gripwands", "16"}, "", "bodies 1 wands 16 tools 0 port 5000 remote 0 '' 0 buffer 0 debug 0"},
        {{"gripwands", "17"}, "Invalid Number of Gripwands on Line 3.\n", kDefaults},
        {{"measurementtools", "3"}, "", "bodies 1 wands 0 tools 3 port 5000 remote 0 '' 0 buffer 0 debug 0"},
        {{"measurementtools", "-2"}, "Invalid Number of Measurement Tools on Line 3.\n", kDefaults},
        {{"CAVECoordinates", "yes"}, "", kDefaults},
        {{"CAVECoordinates", "YES"}, "Only CAVELib Coordinates supported on Line 3.\n", kDefaults},
        {{"CAVECoordinates", "on"}, "Only CAVELib Coordinates supported on Line 3.\n", kDefaults},
        {{"buffersize", "1"}, "", "bodies 1 wands 0 tools 0 port 5000 remote 0 '' 0 buffer 1 debug 0"},
        {{"buffersize", "0"}, "Invalid Buffer Size on Line 3.\n", kDefaults},
        {{"debug", "60"}, "", "bodies 1 wands 0 tools 0 port 5000 remote 0 '' 0 buffer 0 debug 60"},
        {{"debug", "0x20"}, "", kDefaults},  // decimal: stops at the letter
        {{"debug", "-1"}, "", "bodies 1 wands 0 tools 0 port 5000 remote 0 '' 0 buffer 0 debug 4294967295"},
        {{"Port", "1"}, "", kDefaults},  // not the device's keyword: case matters
        {{"port"}, arguments, kDefaults},
        {{"port", "2000", "2001"}, arguments, kDefaults},
        {{"remote"}, arguments, kDefaults},
        {{"remote", "h", "2000", "x"}, arguments, kDefaults},
        {{"standardbodies"}, arguments, kDefaults},
        {{"gripwands", "1", "2"}, arguments, kDefaults},
        {{"measurementtools"}, arguments, kDefaults},
        {{"CAVECoordinates", "yes", "yes"}, arguments, kDefaults},
        {{"buffersize"}, arguments, kDefaults},
        {{"debug"}, arguments, kDefaults},
        {{"debug", "1", "2"}, arguments, kDefaults},
    };
    for (const auto& c : cases) {
        ConfigLines lines;
        ConfigLine& line = lines.config()->lines[0];
        line.lineNumber = 3;
        line.keyword = c.words[0];
        for (size_t i = 1; i < c.words.size(); ++i) line.args[line.argCount++] = c.words[i];
        lines.config()->numLines = 1;
        DeviceFields fields;
        const KeywordReport report = readDeviceKeywords(*lines.config(), fields);
        const std::string context = std::string(c.words[0]) + " " + (c.words.size() > 1 ? c.words[1] : "");
        EXPECT_EQ(c.message, report.failed() ? message(report.faults[0]) : "") << context;
        EXPECT_EQ(c.message.empty(), report.accepted[0]) << context;
        EXPECT_EQ(c.fields, describe(fields)) << context;
    }
}

TEST(DeviceConfig, SeveralFaultyLinesAllReportedAndLaterLinesOverride) {
    ConfigLines lines;
    lines.add({"port", "80"});                            // line 3
    lines.add({"sensoroffset", "1", "0", "0", "1"});      // 4: the framework's
    lines.add({"gripwands", "2"});                        // 5
    lines.add({"gripwands", "20"});                       // 6
    lines.add({"standardbodies", "4"});                   // 7
    lines.add({"standardbodies", "6"});                   // 8
    lines.add({"Port", "1"});                             // 9
    DeviceFields fields;
    const KeywordReport r = readDeviceKeywords(*lines.config(), fields);
    EXPECT_EQ((std::vector<std::string>{"Invalid Port Number on Line 3.\n", "Invalid Number of Gripwands on Line 6.\n"}),
              messages(r));
    const bool accepted[7] = {false, true, true, false, true, true, true};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(accepted[i], r.accepted[i]) << i;
    EXPECT_EQ("bodies 6 wands 2 tools 0 port 5000 remote 0 '' 0 buffer 0 debug 0", describe(fields));
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
    DeviceFields fields;
    const KeywordReport r = readDeviceKeywords(config, fields);
    EXPECT_EQ(std::vector<std::string>{"Invalid Port Number on Line 2.\n"}, messages(r));
    EXPECT_TRUE(r.accepted[0]);
    EXPECT_TRUE(r.accepted[31]);
}

TEST(DeviceConfig, DerivedCountsAndClientParameters) {
    DeviceFields f;
    f.numStandardBodies = 32;
    f.numGripwands = 1;
    EXPECT_EQ(33u, trackerCount(f));  // the caller refuses more than 32
    f.numStandardBodies = 3;
    f.numGripwands = 2;
    f.numMeasurementTools = 1;
    EXPECT_EQ(6u, trackerCount(f));
    EXPECT_EQ(3u, controllerCount(f));

    DeviceFields data;
    data.bufferSize = 4096;  // "buffersize" alone does not reach the data-only client
    ClientParameters p = clientParameters(data);
    EXPECT_TRUE(p.dataOnly);
    EXPECT_EQ(5000, p.dataPort);
    EXPECT_EQ(32768, p.bufferSize);

    DeviceFields tcp;
    tcp.remoteControl = true;
    tcp.remoteHost.assign("ctrl.local");
    tcp.bufferSize = 4096;
    p = clientParameters(tcp);
    EXPECT_FALSE(p.dataOnly);
    EXPECT_STREQ("ctrl.local", p.host);
    EXPECT_EQ(50105, p.serverPort);
    EXPECT_EQ(2, p.remoteKind);
    EXPECT_EQ(4096, p.bufferSize);
    EXPECT_EQ(1000000, p.dataTimeoutMicros);
    EXPECT_EQ(10000000, p.commandTimeoutMicros);

    tcp.remotePort = 50105;
    tcp.bufferSize = 0;
    p = clientParameters(tcp);
    EXPECT_EQ(50105, p.serverPort);
    EXPECT_EQ(1, p.remoteKind);
    EXPECT_EQ(32768, p.bufferSize);
}
