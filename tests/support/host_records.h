#pragma once
// What a host hands a module: the configuration record of one device (its
// texts live as long as it does; lines are numbered 1, 2, ... unless added
// at a number) and its logger.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

#include "framework/host_records.h"
#include "framework/logger.h"

namespace test_support {

// Without date, time or thread id: lines read "<name>: <LABEL>: <message>".
inline CLogH quietLogger(const char* name, int32_t debugLevel = 0) {
    CLogH log;
    log.showDate = log.showTime = log.showThreadId = 0;
    log.setName(name);
    log.debugLevel = debugLevel;
    return log;
}

class ConfigLines {
public:
    using Words = std::vector<std::string>;  // keyword, then the arguments
    ConfigLines() { config_.name = "ostrel"; }
    ConfigLines(std::initializer_list<Words> lines) : ConfigLines() {
        for (const Words& words : lines) add(words);
    }
    ConfigLines(const ConfigLines&) = delete;
    ConfigLines& operator=(const ConfigLines&) = delete;

    ConfigLines& add(const Words& words) { return addAt(next_, words); }
    ConfigLines& addAt(int32_t lineNumber, const Words& words) {
        ConfigLine& line = config_.lines[config_.numLines++];
        next_ = lineNumber + 1;
        line.lineNumber = lineNumber;
        line.keyword = keep(words.at(0));
        for (size_t i = 1; i < words.size(); ++i) line.args[line.argCount++] = keep(words[i]);
        return *this;
    }
    ConfigLine& line(size_t index) { return config_.lines[index]; }
    // The used flags of all lines, in order.
    std::vector<int> used() const {
        std::vector<int> flags;
        for (uint32_t i = 0; i < config_.numLines; ++i) flags.push_back(config_.lines[i].used);
        return flags;
    }
    DeviceConfig* config() { return &config_; }

private:
    const char* keep(const std::string& text) { return texts_.emplace_back(text).c_str(); }

    DeviceConfig config_{};
    std::deque<std::string> texts_;
    int32_t next_ = 1;
};

}  // namespace test_support
