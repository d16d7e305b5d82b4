// The device keywords as a pure function of the configuration lines.
#include "device/device_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/host_records.h"

using namespace device_config;

namespace {

std::string messages(const KeywordReport& report) {
    std::string out;
    for (uint32_t i = 0; i < report.faultCount; ++i) {
        char text[128];
        std::snprintf(text, sizeof text, faultFormat(report.faults[i].fault), report.faults[i].lineNumber);
        out += text;
    }
    return out;
}
std::string describe(const DeviceFields& f) {
    return std::to_string(f.numStandardBodies) + " " + std::to_string(f.numGripwands) + " " +
           std::to_string(f.numMeasurementTools) + " " + std::to_string(f.dataPort) + " " +
           std::to_string(f.remoteControl) + " '" + f.remoteHost.c_str() + "' " + std::to_string(f.remotePort) + " " +
           std::to_string(f.bufferSize) + " " + std::to_string(f.debugFlags);
}

}  // namespace

// One line each, on line 3, into default fields: its message or none, then the fields; a rejected value is not taken.
TEST(DeviceConfig, EachKeywordsValuesAndMessages) {
    const std::string ports = "Invalid Port Number on Line 3.\n",
                      arguments = "Invalid Number of Arguments on Line 3.\n";
    const std::string defaults = "1 0 0 5000 0 '' 0 0 0";
    std::vector<std::pair<test_support::ConfigLines::Words, std::string>> lines = {
        {{"port", "1024"}, ports + defaults},
        {{"port", "65536"}, ports + defaults},
        {{"port", "1025"}, "1 0 0 1025 0 '' 0 0 0"},
        {{"port", "65535"}, "1 0 0 65535 0 '' 0 0 0"},
        {{"port", " 6000xyz"}, "1 0 0 6000 0 '' 0 0 0"},
        {{"remote", "ctrl"}, "1 0 0 5000 1 'ctrl' 0 0 0"},
        {{"remote", "10.0.0.2", "50105"}, "1 0 0 5000 1 '10.0.0.2' 50105 0 0"},
        {{"remote", "ctrl", "99"}, ports + "1 0 0 5000 1 'ctrl' 0 0 0"},  // the host is kept, the port is not
        {{"standardbodies", "0"}, "0 0 0 5000 0 '' 0 0 0"},
        {{"standardbodies", "32"}, "32 0 0 5000 0 '' 0 0 0"},
        {{"standardbodies", "-1"}, "Invalid Number of Standard Bodies on Line 3.\n" + defaults},
        {{"standardbodies", "33"}, "Invalid Number of Standard Bodies on Line 3.\n" + defaults},
        {{"gripwands", "16"}, "1 16 0 5000 0 '' 0 0 0"},
        {{"gripwands", "17"}, "Invalid Number of Gripwands on Line 3.\n" + defaults},
        {{"measurementtools", "16"}, "1 0 16 5000 0 '' 0 0 0"},
        {{"measurementtools", "-2"}, "Invalid Number of Measurement Tools on Line 3.\n" + defaults},
        {{"CAVECoordinates", "yes"}, defaults},
        {{"CAVECoordinates", "YES"}, "Only CAVELib Coordinates supported on Line 3.\n" + defaults},
        {{"buffersize", "1"}, "1 0 0 5000 0 '' 0 1 0"},
        {{"buffersize", "0"}, "Invalid Buffer Size on Line 3.\n" + defaults},
        {{"debug", "60"}, "1 0 0 5000 0 '' 0 0 60"},
        {{"debug", "0x20"}, defaults},  // decimal: stops at the letter
        {{"debug", "-1"}, "1 0 0 5000 0 '' 0 0 4294967295"},
        {{"Port", "1"}, defaults},  // case matters
        {{"port"}, arguments + defaults},
        {{"remote", "h", "2000", "x"}, arguments + defaults},
    };
    for (const char* keyword :
         {"port", "standardbodies", "gripwands", "measurementtools", "CAVECoordinates", "buffersize", "debug"})
        lines.push_back({{keyword, "1", "2"}, arguments + defaults});  // one argument at most
    for (const auto& [words, expected] : lines) {
        test_support::ConfigLines config;
        config.addAt(3, words);
        DeviceFields fields;
        const KeywordReport report = readDeviceKeywords(*config.config(), fields);
        EXPECT_EQ(expected, messages(report) + describe(fields)) << words[0] << " " << words.size();
        EXPECT_EQ(expected.find('\n') == std::string::npos, report.accepted[0]) << words[0];
    }
}

// Every faulty line is reported; later lines override earlier ones; a hostile record (many lines, null texts) is safe.
TEST(DeviceConfig, SeveralLinesAndHostileRecords) {
    test_support::ConfigLines lines{{"port", "80"},
                                    {"sensoroffset", "1", "0", "0", "1"},
                                    {"gripwands", "2"},
                                    {"gripwands", "20"},
                                    {"standardbodies", "4"},
                                    {"standardbodies", "6"},
                                    {"port", "x"}};
    lines.line(6).args[0] = nullptr;
    lines.config()->numLines = 1000;
    DeviceFields fields;
    const KeywordReport r = readDeviceKeywords(*lines.config(), fields);
    EXPECT_EQ(
        "Invalid Port Number on Line 1.\nInvalid Number of Gripwands on Line 4.\nInvalid Port Number on Line 7.\n",
        messages(r));
    EXPECT_EQ((std::vector<bool>{false, true, true, false, true, true, false, true}),
              std::vector<bool>(r.accepted, r.accepted + 8));
    EXPECT_TRUE(r.accepted[31]);
    EXPECT_EQ("6 2 0 5000 0 '' 0 0 0", describe(fields));
}
