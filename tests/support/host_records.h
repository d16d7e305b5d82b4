#pragma once
// What a host hands a module: a quiet logger and a device's configuration record, lines numbered 1, 2, ...
#include <deque>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "framework/host_records.h"
#include "framework/logger.h"

namespace test_support {

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
    static Words split(const std::string& line) {
        std::istringstream in(line);
        return {std::istream_iterator<std::string>(in), {}};
    }
    ConfigLines(std::initializer_list<Words> lines = {}) {
        config_.name = "ostrel";
        for (const Words& words : lines) add(words);
    }
    // Lines as a configuration file holds them, here separated by ';'.
    explicit ConfigLines(const std::string& text) : ConfigLines() {
        std::istringstream in(text);
        for (std::string line; std::getline(in, line, ';');) add(split(line));
    }
    ConfigLines(const ConfigLines&) = delete;
    ConfigLines& operator=(const ConfigLines&) = delete;
    ConfigLines& add(std::initializer_list<const char*> words) { return add(Words(words.begin(), words.end())); }
    ConfigLines& add(const Words& words) { return addAt(config_.numLines + 1, words); }
    ConfigLines& addAt(int32_t lineNumber, const Words& words) {
        ConfigLine& line = config_.lines[config_.numLines++];
        line.lineNumber = lineNumber;
        line.keyword = texts_.emplace_back(words.at(0)).c_str();
        for (size_t i = 1; i < words.size(); ++i) line.args[line.argCount++] = texts_.emplace_back(words[i]).c_str();
        return *this;
    }
    ConfigLine& line(size_t index) { return config_.lines[index]; }
    std::vector<int> used() const {  // the lines' used flags, in order
        std::vector<int> flags;
        for (uint32_t i = 0; i < config_.numLines; ++i) flags.push_back(config_.lines[i].used);
        return flags;
    }
    DeviceConfig* config() { return &config_; }

private:
    DeviceConfig config_{};
    std::deque<std::string> texts_;
};

}  // namespace test_support
