// Feeds arbitrary text as option lines (one line per text line, words
// separated by blanks, the first word the keyword) to the tracker
// calibration handler, then runs a pose through what it took, and feeds
// every word to the number readers. Calibration lines are skipped: they
// would load whatever file the input names.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "calib/option_line.h"
#include "calib/tra_common.h"
#include "platform/text.h"

namespace {

std::vector<std::vector<std::string>> splitLines(const uint8_t* data, size_t size) {
    std::vector<std::vector<std::string>> lines(1);
    std::string word;
    auto endWord = [&] {
        if (!word.empty()) {
            lines.back().push_back(word);
            word.clear();
        }
    };
    for (size_t i = 0; i < size; ++i) {
        char c = static_cast<char>(data[i]);
        if (c == '\n') {
            endWord();
            lines.emplace_back();
        } else if (c == ' ' || c == '\0') {
            endWord();
        } else {
            word.push_back(c);
        }
    }
    endWord();
    return lines;
}

bool loadsALibrary(const std::string& keyword) {
    return platform::equalsIgnoreCase(keyword.c_str(), "calibration") ||
           platform::equalsIgnoreCase(keyword.c_str(), "calib");
}

}  // namespace

// Failed lines print their reasons even with a disabled logger; the run
// keeps its own output readable by sending ours nowhere.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // Without /dev/null the messages simply show.
    static_cast<void>(std::freopen("/dev/null", "w", stdout) != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::vector<std::string>> words = splitLines(data, size);
    DeviceConfig config{};
    for (const std::vector<std::string>& line : words) {
        if (line.empty() || loadsALibrary(line[0]) || config.numLines == DeviceConfig::kMaxLines) {
            continue;
        }
        ConfigLine& record = config.lines[config.numLines++];
        record.lineNumber = static_cast<int32_t>(config.numLines);
        record.keyword = line[0].c_str();
        for (size_t i = 1; i < line.size() && record.argCount < ConfigLine::kMaxArgs; ++i) {
            record.args[record.argCount++] = line[i].c_str();
            float value = 0;
            (void)optionline::readFloatArg(line[i].c_str(), value);
            float list[6];
            (void)optionline::readBracketedList(line[i].c_str(), list, 6);
            (void)optionline::readUnsigned(line[i].c_str());
        }
    }

    CLogH log;
    log.enabled = 0;
    CTraCommonH handler(&log);
    handler.inputConnector = size % 2 == 0;
    handler.outputCount = 3;
    handler.initTrackers(4);
    for (uint32_t i = 1; i <= 3; ++i) {
        handler.setTracker(i, i, nullptr, nullptr, nullptr);
    }
    handler.parseOptions(&config);
    for (uint32_t slot = 1; slot <= 4; ++slot) {
        TrackerPose pose{1.0f, -2.0f, 3.0f, 45.0f, 89.9f, -170.0f};
        handler.calibratePose(slot, pose);
        (void)handler.storageIndex(slot);
    }
    handler.printSettings(true);
    return 0;
}
