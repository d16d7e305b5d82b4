#include "platform/number_text.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <system_error>

namespace platform {
namespace {

// Where the text ends: at its NUL, or before a given character. Each
// scanner is built for both, so that a NUL-terminated text costs no
// comparison per character (the NUL is neither blank, sign nor digit).
struct UpToNul {
    bool within(const char*) const noexcept { return true; }
};

struct UpToLast {
    const char* last;
    bool within(const char* p) const noexcept { return p < last; }
};

// White space as the "C" locale has it; the process locale must not change it.
bool isBlank(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

unsigned decimalDigit(char c) noexcept { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0'; }

// The digit's value in bases up to 36; 99 for any other character.
unsigned digitValue(char c) noexcept {
    if (c >= '0' && c <= '9') return decimalDigit(c);
    if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned>(c - 'A' + 10);
    return 99;
}

// Blanks and one sign; null when the text ends before a number could start.
template <class Bound>
const char* skipSign(const char* p, Bound bound, bool& negative) noexcept {
    while (bound.within(p) && isBlank(*p)) ++p;
    negative = false;
    if (bound.within(p) && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    return bound.within(p) ? p : nullptr;
}

template <class Bound>
bool hasHexPrefix(const char* p, Bound bound) noexcept {
    return p[0] == '0' && bound.within(p + 1) && (p[1] == 'x' || p[1] == 'X') && bound.within(p + 2);
}

// ------------------------------------------------------------ integers

int64_t signedValue(bool negative, uint64_t magnitude, bool saturated) noexcept {
    constexpr uint64_t kMinMagnitude = uint64_t{1} << 63;  // of INT64_MIN
    if (negative) {
        return saturated || magnitude >= kMinMagnitude ? INT64_MIN : -static_cast<int64_t>(magnitude);
    }
    return saturated || magnitude > uint64_t{INT64_MAX} ? INT64_MAX : static_cast<int64_t>(magnitude);
}

template <class Bound>
Scanned<int64_t> scanIntegerWithin(const char* text, Bound bound, IntegerBase base) noexcept {
    bool negative = false;
    const char* p = skipSign(text, bound, negative);
    if (p == nullptr) return {0, nullptr};
    unsigned radix = 10;
    if (base == IntegerBase::prefixed && *p == '0') {
        radix = 8;
        if (hasHexPrefix(p, bound) && digitValue(p[2]) < 16) {
            radix = 16;
            p += 2;
        }
    }
    const char* digits = p;
    uint64_t magnitude = 0;
    bool saturated = false;
    constexpr uint64_t kRoomForADigit = uint64_t{1} << 59;  // times 16 plus 15 still fits
    for (; bound.within(p); ++p) {
        const unsigned digit = radix == 10 ? decimalDigit(*p) : digitValue(*p);
        if (digit >= radix) break;
        if (magnitude < kRoomForADigit || magnitude <= (UINT64_MAX - digit) / radix) {
            magnitude = magnitude * radix + digit;
        } else {
            saturated = true;
        }
    }
    if (p == digits) return {0, nullptr};
    return {signedValue(negative, magnitude, saturated), p};
}

// ------------------------------------------------------------ doubles

// A decimal number as written: its digits as one integer, the power of ten
// to scale it by, and where it ends.
struct DecimalParts {
    uint64_t mantissa;  // exact only when digits <= kMaxMantissaDigits
    int64_t exponent;
    int64_t digits;   // leading zeros included
    const char* end;  // null when there is no digit
};

constexpr int64_t kMaxMantissaDigits = 19;  // always fit 64 bits

// Digits, an optional fraction and an optional exponent; an "e" without
// digits behind it is not part of the number.
template <class Bound>
DecimalParts scanDecimalParts(const char* p, Bound bound) noexcept {
    uint64_t mantissa = 0;
    const char* q = p;
    for (; bound.within(q) && decimalDigit(*q) < 10; ++q) mantissa = mantissa * 10 + decimalDigit(*q);
    int64_t digits = q - p;
    int64_t exponent = 0;
    if (bound.within(q) && *q == '.') {
        const char* fraction = q + 1;
        const char* f = fraction;
        for (; bound.within(f) && decimalDigit(*f) < 10; ++f) mantissa = mantissa * 10 + decimalDigit(*f);
        exponent = -(f - fraction);
        digits += f - fraction;
        if (digits > 0) q = f;
    }
    if (digits == 0) return {0, 0, 0, nullptr};
    if (bound.within(q) && (*q == 'e' || *q == 'E')) {
        const char* e = q + 1;
        bool negative = false;
        if (bound.within(e) && (*e == '+' || *e == '-')) {
            negative = *e == '-';
            ++e;
        }
        if (bound.within(e) && decimalDigit(*e) < 10) {
            int64_t written = 0;  // stops growing far beyond every double
            for (; bound.within(e) && decimalDigit(*e) < 10; ++e) {
                if (written < (int64_t{1} << 40)) written = written * 10 + decimalDigit(*e);
            }
            exponent += negative ? -written : written;
            q = e;
        }
    }
    return {mantissa, exponent, digits, q};
}

// Characters a number of any form may be made of.
bool isNumberChar(char c) noexcept {
    return digitValue(c) < 36 || c == '.' || c == '+' || c == '-' || c == '(' || c == ')' || c == '_';
}

template <class Bound>
const char* numberEnd(const char* p, Bound bound) noexcept {
    while (bound.within(p) && isNumberChar(*p)) ++p;
    return p;
}

// For a number the converter found out of range: does it lie beyond the
// largest double (true) or below the smallest (false)? Its decimal (or,
// for hex, binary) order of magnitude decides.
bool exceedsRange(const char* first, const char* last, bool hex) noexcept {
    const unsigned base = hex ? 16 : 10;
    const char* p = first;
    while (p < last && *p == '0') ++p;
    int64_t order = 0;
    while (p < last && digitValue(*p) < base) ++order, ++p;
    if (p < last && *p == '.') {
        ++p;
        if (order == 0) {
            while (p < last && *p == '0') --order, ++p;
        }
        while (p < last && digitValue(*p) < base) ++p;
    }
    if (hex) order *= 4;
    if (p < last && (*p == 'e' || *p == 'E' || *p == 'p' || *p == 'P')) {
        ++p;
        const bool negative = p < last && *p == '-';
        if (p < last && (*p == '-' || *p == '+')) ++p;
        int64_t exponent = 0;  // decimal, whatever its leading zeros
        for (; p < last && decimalDigit(*p) < 10; ++p) {
            if (exponent < (int64_t{1} << 40)) exponent = exponent * 10 + decimalDigit(*p);
        }
        order += negative ? -exponent : exponent;
    }
    return order > 0;
}

// The correctly rounded conversion of [first, last); null when it holds no
// number. Rarely needed: kept out of line, so that the common path stays
// small.
[[gnu::cold, gnu::noinline]] const char* convert(const char* first, const char* last, std::chars_format format,
                                                 double& value) noexcept {
    const std::from_chars_result result = std::from_chars(first, last, value, format);
    if (result.ec == std::errc::result_out_of_range) {
        value = exceedsRange(first, result.ptr, format == std::chars_format::hex) ? HUGE_VAL : 0.0;
        return result.ptr;
    }
    return result.ec == std::errc() ? result.ptr : nullptr;
}

// A text that begins "0x": hexadecimal, or, without hexadecimal digits,
// the 0 before the x.
template <class Bound>
[[gnu::cold, gnu::noinline]] const char* scanHexadecimal(const char* p, Bound bound, double& value) noexcept {
    if (digitValue(p[2]) < 16 || p[2] == '.') {
        const char* stop = convert(p + 2, numberEnd(p + 2, bound), std::chars_format::hex, value);
        if (stop != nullptr) return stop;
    }
    value = 0.0;
    return p + 1;
}

// A text that begins with neither digit nor point: only the words "inf",
// "infinity" and "nan" remain.
template <class Bound>
[[gnu::cold, gnu::noinline]] const char* scanWord(const char* p, Bound bound, double& value) noexcept {
    if (*p == '+' || *p == '-') return nullptr;
    return convert(p, numberEnd(p, bound), std::chars_format::general, value);
}

// Most numbers in frames and options have few digits and a small exponent:
// then mantissa and power of ten are both exact doubles, and one IEEE
// multiplication or division rounds their product or quotient correctly
// (in the default round-to-nearest mode, which the module never changes).
// Where intermediates are kept wider than a double (x87), that would round
// twice, so there the converter does all.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int64_t kMaxExactPower = 22;
constexpr uint64_t kMaxExactMantissa = uint64_t{1} << 53;

bool isExact(const DecimalParts& parts) noexcept {
    return FLT_EVAL_METHOD == 0 && parts.digits <= kMaxMantissaDigits && parts.mantissa <= kMaxExactMantissa &&
           parts.exponent >= -kMaxExactPower && parts.exponent <= kMaxExactPower;
}

double exactValue(const DecimalParts& parts) noexcept {
    const auto mantissa = static_cast<double>(parts.mantissa);
    return parts.exponent < 0 ? mantissa / kExactPowersOfTen[-parts.exponent]
                              : mantissa * kExactPowersOfTen[parts.exponent];
}

// The magnitude behind the sign; null when no number of the forms is there.
template <class Bound>
const char* scanMagnitude(const char* p, Bound bound, DoubleForms forms, double& value) noexcept {
    if (forms == DoubleForms::any) {
        if (hasHexPrefix(p, bound)) return scanHexadecimal(p, bound, value);
        if (decimalDigit(*p) >= 10 && *p != '.') return scanWord(p, bound, value);
    }
    const DecimalParts parts = scanDecimalParts(p, bound);
    if (parts.end == nullptr) return nullptr;
    if (isExact(parts)) {
        value = exactValue(parts);
        return parts.end;
    }
    return convert(p, parts.end, std::chars_format::general, value);
}

template <class Bound>
Scanned<double> scanDoubleWithin(const char* text, Bound bound, DoubleForms forms) noexcept {
    bool negative = false;
    const char* p = skipSign(text, bound, negative);
    if (p == nullptr) return {0.0, nullptr};
    double magnitude = 0.0;
    const char* stop = scanMagnitude(p, bound, forms, magnitude);
    if (stop == nullptr) return {0.0, nullptr};
    return {negative ? -magnitude : magnitude, stop};
}

}  // namespace

Scanned<int64_t> scanInteger(const char* text, const char* last, IntegerBase base) noexcept {
    if (text == nullptr) return {0, nullptr};
    return last == nullptr ? scanIntegerWithin(text, UpToNul{}, base) : scanIntegerWithin(text, UpToLast{last}, base);
}

Scanned<double> scanDouble(const char* text, const char* last, DoubleForms forms) noexcept {
    if (text == nullptr) return {0.0, nullptr};
    return last == nullptr ? scanDoubleWithin(text, UpToNul{}, forms) : scanDoubleWithin(text, UpToLast{last}, forms);
}

}  // namespace platform
