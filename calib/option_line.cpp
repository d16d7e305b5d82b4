#include "calib/option_line.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "framework/logger.h"
#include "platform/number_text.h"
#include "platform/text.h"

namespace optionline {

namespace {

// Round-to-nearest narrowing that never converts an out-of-range value:
// at or beyond FLT_MAX plus half a unit in the last place, IEEE rounding
// gives infinity.
float narrowToFloat(double value) noexcept {
    static const double kOverflowBound = static_cast<double>(FLT_MAX) + std::ldexp(1.0, 103);
    if (std::isnan(value)) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    if (value >= kOverflowBound) {
        return std::numeric_limits<float>::infinity();
    }
    if (value <= -kOverflowBound) {
        return -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(value);
}

}  // namespace

int argCount(const ConfigLine& line) noexcept {
    if (line.argCount < 0) {
        return 0;
    }
    return line.argCount > ConfigLine::kMaxArgs ? ConfigLine::kMaxArgs : line.argCount;
}

const char* argText(const ConfigLine& line, int index) noexcept {
    if (index < 0 || index >= argCount(line) || line.args[index] == nullptr) {
        return "";
    }
    return line.args[index];
}

bool keywordIs(const ConfigLine& line, const char* keyword) noexcept {
    return line.keyword != nullptr && platform::equalsIgnoreCase(line.keyword, keyword);
}

DecimalRead readDecimal(const char* text) noexcept {
    const platform::Scanned<double> read = platform::scanDouble(text, nullptr, platform::DoubleForms::decimal);
    return read.end == nullptr ? DecimalRead{0.0, text} : DecimalRead{read.value, read.end};
}

bool startsWithLetter(const char* text) noexcept {
    if (text == nullptr) {
        return false;
    }
    char c = *text;
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool readFloatArg(const char* text, float& value) noexcept {
    DecimalRead read = readDecimal(text);
    if (read.value == 0.0 && startsWithLetter(text)) {
        return false;
    }
    float narrowed = narrowToFloat(read.value);
    if (!std::isfinite(narrowed)) {
        return false;
    }
    value = narrowed;
    return true;
}

UnsignedRead readUnsigned(const char* text) noexcept {
    const platform::Scanned<int64_t> read = platform::scanInteger(text, nullptr, platform::IntegerBase::prefixed);
    if (read.end == nullptr) {
        return {0, true, text};
    }
    if (read.value < 0 || read.value > int64_t{UINT32_MAX}) {
        return {std::numeric_limits<uint32_t>::max(), false, read.end};
    }
    return {static_cast<uint32_t>(read.value), true, read.end};
}

size_t readBracketedList(const char* text, float* values, size_t capacity) noexcept {
    if (text == nullptr || values == nullptr || *text != '[') {
        return 0;
    }
    const char* p = text + 1;
    size_t stored = 0;
    while (stored < capacity) {
        DecimalRead read = readDecimal(p);
        if (read.end == p) {
            break;
        }
        values[stored++] = narrowToFloat(read.value);
        p = read.end;
        if (*p != ',') {
            break;
        }
        ++p;
    }
    return stored;
}

bool lookUpUnit(const char* word, float& factor) noexcept {
    struct Unit {
        const char* word;
        float factor;
    };
    static constexpr Unit kUnits[] = {
        {"feet", 1.0f}, {"inches", 0.083333336f}, {"meters", 3.2808399f}, {"m", 3.2808399f}, {"cm", 0.0328084f},
    };
    for (const Unit& unit : kUnits) {
        if (platform::equalsIgnoreCase(word, unit.word)) {
            factor = unit.factor;
            return true;
        }
    }
    return false;
}

bool readSwitch(const char* word, bool& value) noexcept {
    if (platform::equalsIgnoreCase(word, "yes") || platform::equalsIgnoreCase(word, "on")) {
        value = true;
        return true;
    }
    if (platform::equalsIgnoreCase(word, "no") || platform::equalsIgnoreCase(word, "off")) {
        value = false;
        return true;
    }
    return false;
}

void reportLineError(const CLogH& log, const char* reason, const char* label, int32_t lineNumber,
                     const char* closing) noexcept {
    // The logger writes the head (nothing when disabled); the reason is ours
    // and always shows, so that a failed line is never silent.
    log.error("", false);
    std::printf("%s%s%u%s\n", reason == nullptr ? "" : reason, label == nullptr ? "" : label,
                static_cast<unsigned>(static_cast<uint32_t>(lineNumber)), closing == nullptr ? "" : closing);
    std::fflush(stdout);
}

bool LineReader::fail(const char* reason, const char* label, const char* closing) const noexcept {
    reportLineError(log_, reason, label, line_.lineNumber, closing);
    return false;
}

bool LineReader::countWithin(int minimum, int maximum) const noexcept {
    if (count_ < minimum) {
        return fail(kIncomplete);
    }
    if (count_ > maximum) {
        return fail(kTooManyArgs);
    }
    return true;
}

bool LineReader::numbers(int first, int n, float* values) const noexcept {
    for (int i = 0; i < n; ++i) {
        if (!readFloatArg(arg(first + i), values[i])) {
            return fail(kInvalidArg);
        }
    }
    return true;
}

}  // namespace optionline
