#include "link/frame_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace frametext {
namespace {

// Readers take an optional end; without one, the terminating NUL stops them
// (it is neither blank, sign nor digit).
bool within(const char* p, const char* end) noexcept { return end == nullptr || p < end; }

// White space as the C locale has it; the host's locale must not change it.
bool isBlank(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

int digitValue(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

const char* skipBlanks(const char* p, const char* end) noexcept {
    while (within(p, end) && isBlank(*p)) ++p;
    return p;
}

// Blanks and one sign; null when the text ends before a number could start.
const char* readSign(const char* p, const char* end, bool& negative) noexcept {
    p = skipBlanks(p, end);
    negative = false;
    if (within(p, end) && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    return within(p, end) ? p : nullptr;
}

bool hasHexPrefix(const char* p, const char* end) noexcept {
    return p[0] == '0' && within(p + 1, end) && (p[1] == 'x' || p[1] == 'X') && within(p + 2, end);
}

constexpr uint64_t kMagnitudeCap = uint64_t{1} << 33;  // beyond every 32-bit limit

// Magnitude of an integer under the C base rule; it saturates at
// kMagnitudeCap. Null when no digit follows.
const char* readMagnitude(const char* text, const char* end, bool& negative, uint64_t& magnitude) noexcept {
    const char* p = readSign(text, end, negative);
    if (p == nullptr) return nullptr;
    int base = 10;
    if (hasHexPrefix(p, end) && digitValue(p[2]) < 16) {
        base = 16;
        p += 2;
    } else if (*p == '0') {
        base = 8;
    }
    const char* digits = p;
    magnitude = 0;
    for (; within(p, end) && digitValue(*p) < base; ++p) {
        magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digitValue(*p));
        if (magnitude > kMagnitudeCap) magnitude = kMagnitudeCap;
    }
    return p == digits ? nullptr : p;
}

// Characters a number may be made of; a double is looked for within them.
bool isNumberChar(char c) noexcept {
    return digitValue(c) < 36 || c == '.' || c == '+' || c == '-' || c == '(' || c == ')' || c == '_';
}

const char* numberEnd(const char* p, const char* end) noexcept {
    while (within(p, end) && isNumberChar(*p)) ++p;
    return p;
}

// For a number the converter found out of range: does it lie beyond the
// largest double (true) or below the smallest (false)? Its decimal (or,
// for hex, binary) order of magnitude decides.
bool exceedsRange(const char* first, const char* last, bool hex) noexcept {
    const char* p = first;
    while (p < last && *p == '0') ++p;
    int64_t order = 0;
    while (p < last && digitValue(*p) < (hex ? 16 : 10)) ++order, ++p;
    if (p < last && *p == '.') {
        ++p;
        if (order == 0) {
            while (p < last && *p == '0') --order, ++p;
        }
        while (p < last && digitValue(*p) < (hex ? 16 : 10)) ++p;
    }
    if (hex) order *= 4;
    if (p < last && (*p == 'e' || *p == 'E' || *p == 'p' || *p == 'P')) {
        ++p;
        bool negative = p < last && *p == '-';
        if (p < last && (*p == '-' || *p == '+')) ++p;
        int64_t exponent = 0;  // decimal, whatever its leading zeros
        for (; p < last && *p >= '0' && *p <= '9'; ++p) {
            if (exponent < (int64_t{1} << 40)) exponent = exponent * 10 + (*p - '0');
        }
        order += negative ? -exponent : exponent;
    }
    return order > 0;
}

const char* convertDouble(const char* first, const char* last, bool hex, double& value) noexcept {
    auto result = std::from_chars(first, last, value, hex ? std::chars_format::hex : std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        value = exceedsRange(first, result.ptr, hex) ? HUGE_VAL : 0.0;
        return result.ptr;
    }
    return result.ec == std::errc() ? result.ptr : nullptr;
}

const char* readDoubleWithin(const char* text, const char* end, double& value) noexcept {
    bool negative = false;
    const char* p = readSign(text, end, negative);
    if (p == nullptr || *p == '+' || *p == '-') return nullptr;
    const char* last = numberEnd(p, end);
    const char* stop = nullptr;
    double read = 0.0;
    if (hasHexPrefix(p, last) && (digitValue(p[2]) < 16 || p[2] == '.')) {
        stop = convertDouble(p + 2, last, true, read);
    }
    if (stop == nullptr) {
        // "0x" without hex digits reads as the 0 before the x.
        stop = convertDouble(p, last, false, read);
    }
    if (stop == nullptr) return nullptr;
    value = negative ? -read : read;
    return stop;
}

}  // namespace

const char* readInt(const char* text, const char* end, int32_t& value) noexcept {
    if (text == nullptr) return nullptr;
    bool negative = false;
    uint64_t magnitude = 0;
    const char* stop = readMagnitude(text, end, negative, magnitude);
    if (stop == nullptr) return nullptr;
    if (negative) {
        value = magnitude > uint64_t{INT32_MAX} + 1 ? INT32_MIN : static_cast<int32_t>(-static_cast<int64_t>(magnitude));
    } else {
        value = magnitude > uint64_t{INT32_MAX} ? INT32_MAX : static_cast<int32_t>(magnitude);
    }
    return stop;
}

const char* readUInt(const char* text, const char* end, uint32_t& value) noexcept {
    if (text == nullptr) return nullptr;
    bool negative = false;
    uint64_t magnitude = 0;
    const char* stop = readMagnitude(text, end, negative, magnitude);
    if (stop == nullptr) return nullptr;
    if (magnitude > UINT32_MAX) {
        value = UINT32_MAX;
    } else {
        value = negative ? 0u - static_cast<uint32_t>(magnitude) : static_cast<uint32_t>(magnitude);
    }
    return stop;
}

const char* readDouble(const char* text, const char* end, double& value) noexcept {
    return text == nullptr ? nullptr : readDoubleWithin(text, end, value);
}

const char* readInt(const char* text, int32_t& value) noexcept { return readInt(text, nullptr, value); }

const char* readUInt(const char* text, uint32_t& value) noexcept { return readUInt(text, nullptr, value); }

const char* readDouble(const char* text, double& value) noexcept { return readDouble(text, nullptr, value); }

const char* readGroup(const char* text, const char* types, int32_t* ints, double* doubles) noexcept {
    if (text == nullptr || types == nullptr) return nullptr;
    const char* open = std::strchr(text, '[');
    if (open == nullptr) return nullptr;
    const char* close = std::strchr(open + 1, ']');
    if (close == nullptr) return nullptr;
    const char* p = open + 1;
    for (; *types != '\0' && p != nullptr; ++types) {
        if (*types == 'i' && ints != nullptr) {
            p = readInt(p, close, *ints++);
        } else if (*types == 'd' && doubles != nullptr) {
            p = readDouble(p, close, *doubles++);
        } else {
            return nullptr;
        }
    }
    return p == nullptr ? nullptr : close + 1;
}

const char* readQuoted(const char* text, std::string_view& quoted) noexcept {
    if (text == nullptr) return nullptr;
    const char* open = std::strchr(text, '"');
    if (open == nullptr) return nullptr;
    const char* close = std::strchr(open + 1, '"');
    if (close == nullptr) return nullptr;
    quoted = std::string_view(open + 1, static_cast<size_t>(close - open - 1));
    return close + 1;
}

const char* nextLine(const char* bufferStart, const char* current, size_t bufferSize) noexcept {
    if (bufferStart == nullptr || current == nullptr || current < bufferStart) return nullptr;
    const char* end = bufferStart + bufferSize;
    const char* p = current;
    while (p < end && *p != '\0' && *p != '\r' && *p != '\n') ++p;
    if (p >= end || *p == '\0') return nullptr;
    while (p < end && (*p == '\r' || *p == '\n')) ++p;
    return p < end && *p != '\0' ? p : nullptr;
}

}  // namespace frametext
