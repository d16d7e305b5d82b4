#include "calib/option_line.h"

#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "framework/logger.h"
#include "platform/text.h"

namespace optionline {

namespace {

// The "C" locale's white space; the process locale must not matter.
bool isBlank(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

bool isHexDigit(char c) noexcept {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

const char* skipBlanks(const char* p) noexcept {
    while (isBlank(*p)) {
        ++p;
    }
    return p;
}

// from_chars reports a value beyond double's range without the value: tell
// overflow (true) from underflow by the decimal position of the leading
// significant digit plus the exponent.
bool overflowsDouble(const char* first, const char* last) noexcept {
    bool seenNonZero = false;
    bool inFraction = false;
    long long fractionZeros = 0;
    long long integerDigits = 0;
    const char* p = first;
    for (; p < last && (isDigit(*p) || *p == '.'); ++p) {
        if (*p == '.') {
            inFraction = true;
        } else if (!inFraction) {
            if (seenNonZero || *p != '0') {
                seenNonZero = true;
                ++integerDigits;
            }
        } else if (!seenNonZero) {
            if (*p == '0') {
                ++fractionZeros;
            } else {
                seenNonZero = true;
            }
        }
    }
    // power of ten of the leading non-zero digit
    long long leading = integerDigits > 0 ? integerDigits - 1 : -(fractionZeros + 1);
    long long exponent = 0;
    if (p < last && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative = false;
        if (p < last && (*p == '+' || *p == '-')) {
            negative = *p == '-';
            ++p;
        }
        for (; p < last && isDigit(*p); ++p) {
            if (exponent < 1000000) {  // far beyond any double; stops growth
                exponent = exponent * 10 + (*p - '0');
            }
        }
        exponent = negative ? -exponent : exponent;
    }
    return leading + exponent >= 0;
}

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
    if (text == nullptr) {
        return {0.0, text};
    }
    const char* p = skipBlanks(text);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // from_chars would also take "inf" and "nan": only a digit or a point
    // followed by a digit starts a decimal number.
    if (!isDigit(*p) && !(*p == '.' && isDigit(p[1]))) {
        return {0.0, text};
    }
    const char* last = p + std::strlen(p);
    double magnitude = 0.0;
    std::from_chars_result result = std::from_chars(p, last, magnitude, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        magnitude = overflowsDouble(p, result.ptr) ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc()) {
        return {0.0, text};
    }
    return {negative ? -magnitude : magnitude, result.ptr};
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
    constexpr uint32_t kSaturated = std::numeric_limits<uint32_t>::max();
    if (text == nullptr) {
        return {0, true, text};
    }
    const char* p = skipBlanks(text);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && isHexDigit(p[2])) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;  // "0" alone, and "0x" without a digit, read as 0 here
    }
    const char* last = p + std::strlen(p);
    uint32_t value = 0;
    std::from_chars_result result = std::from_chars(p, last, value, base);
    if (result.ec == std::errc::invalid_argument) {
        return {0, true, text};
    }
    if (result.ec == std::errc::result_out_of_range || (negative && value != 0)) {
        return {kSaturated, false, result.ptr};
    }
    return {value, true, result.ptr};
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
