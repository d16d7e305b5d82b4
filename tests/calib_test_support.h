#pragma once
// What the calibration and mapping tests share: a logger with a stable head,
// a configuration record whose texts live as long as it does, capture of
// standard output, and a German host locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <locale>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/host_records.h"
#include "framework/logger.h"

namespace calib_test {

// No date, time or thread id: lines read "<name>: <LABEL>: <message>".
inline CLogH quietLogger(const char* name, int32_t debugLevel = 0) {
    CLogH log;
    log.showDate = log.showTime = log.showThreadId = 0;
    log.setName(name);
    log.debugLevel = debugLevel;
    return log;
}

// One option line: keyword and argument texts.
struct Line {
    const char* keyword;
    std::vector<std::string> args;
};

class Config {
public:
    Config() = default;
    // The lines numbered 1, 2, ...
    Config(std::initializer_list<Line> lines) {
        for (const Line& line : lines) {
            add(static_cast<int32_t>(config_.numLines + 1), line.keyword, line.args);
        }
    }
    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    ConfigLine& add(int32_t lineNumber, const char* keyword, const std::vector<std::string>& args) {
        ConfigLine& line = config_.lines[config_.numLines++];
        line.lineNumber = lineNumber;
        line.keyword = keep(keyword);
        for (const std::string& arg : args) {
            line.args[line.argCount++] = keep(arg);
        }
        return line;
    }
    ConfigLine& line(int index) { return config_.lines[index]; }
    DeviceConfig* get() { return &config_; }

private:
    const char* keep(const std::string& text) { return texts_.emplace_back(text).c_str(); }

    DeviceConfig config_{};
    std::deque<std::string> texts_;
};

// What `action` writes to standard output.
template <typename Action>
std::string captured(Action&& action) {
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

// The process's C and C++ locales set to German for the object's life;
// `active` is false where that locale is not installed.
class GermanLocale {
public:
    GermanLocale() {
        try {
            previous_ = std::locale::global(std::locale("de_DE.UTF-8"));
            active = true;
        } catch (const std::runtime_error&) {
        }
    }
    ~GermanLocale() {
        std::locale::global(previous_);
        std::setlocale(LC_ALL, "C");
    }
    GermanLocale(const GermanLocale&) = delete;
    GermanLocale& operator=(const GermanLocale&) = delete;

    bool active = false;

private:
    std::locale previous_;
};

}  // namespace calib_test
