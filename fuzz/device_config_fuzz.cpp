// The device's keyword reader over arbitrary configuration lines (words
// split at blanks, lines at newlines, any count up to the record's limits),
// and the pose conversion over arbitrary doubles.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/device_config.h"
#include "device/pose_conversion.h"

namespace {

void readKeywords(const std::string& text) {
    std::vector<std::vector<std::string>> lines(1);
    std::string word;
    for (char c : text) {
        if (c == '\n') {
            if (!word.empty()) lines.back().push_back(word);
            word.clear();
            lines.emplace_back();
        } else if (c == ' ') {
            if (!word.empty()) lines.back().push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) lines.back().push_back(word);

    DeviceConfig config{};
    uint32_t n = 0;
    for (const auto& words : lines) {
        if (words.empty() || n == DeviceConfig::kMaxLines) continue;
        ConfigLine& line = config.lines[n++];
        line.lineNumber = static_cast<int32_t>(n);
        line.keyword = words[0].c_str();
        for (size_t i = 1; i < words.size() && line.argCount < ConfigLine::kMaxArgs; ++i) {
            line.args[line.argCount++] = words[i].c_str();
        }
    }
    config.numLines = n;
    device_config::DeviceFields settings;
    const device_config::KeywordReport report = device_config::readDeviceKeywords(config, settings);
    // Whatever the lines said, only sound values are kept.
    if (settings.numStandardBodies < 0 || settings.numStandardBodies > 32 || settings.numGripwands > 16 ||
        settings.numMeasurementTools < 0 || settings.numMeasurementTools > 16 || settings.dataPort < 1025 ||
        settings.bufferSize < 0 || report.faultCount > n) {
        std::abort();
    }
    (void)device_config::clientParameters(settings);
}

void convertPose(const uint8_t* data, size_t size) {
    double values[12] = {};
    std::memcpy(values, data, size < sizeof values ? size : sizeof values);
    float position[3];
    float orientation[3];
    pose_conversion::convertPose(values, values + 3, position, orientation);
    // Angles stay in their ranges (or NaN for NaN input); the degree factor
    // is a hair above 180/pi, so the ends reach a little past 90 and 180.
    if (std::fabs(orientation[1]) > 90.001f) std::abort();
    if (std::fabs(orientation[0]) > 180.001f || std::fabs(orientation[2]) > 180.001f) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    readKeywords(std::string(reinterpret_cast<const char*>(data), size));
    convertPose(data, size);
    return 0;
}
