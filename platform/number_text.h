#pragma once
// Numbers in text, read the same on every system and in every locale: the
// scanning under every reader of numbers in the module (frame fields,
// option lines, device keywords), each of which adds its own rule on top.
// Like strtol and strtod, but pure, never allocating, and never swayed by
// the process locale, which may make the C library stop at a "." or take
// other white space.
//
// Each scanner returns the value and where it stopped. The text runs up to
// `last`, or up to its terminating NUL when `last` is null.
#include <cstdint>

namespace platform {

template <class T>
struct Scanned {
    T value;          // 0 when nothing was read
    const char* end;  // first character not taken; null when no number was there
};

enum class IntegerBase {
    decimal,   // digits 0-9
    prefixed,  // "0x" or "0X" then hexadecimal, a leading "0" octal, otherwise decimal
};

// Optional white space (the C locale's six characters) and one sign, then
// the digits of the base. "0x" without a hexadecimal digit behind it reads
// as the 0. A value beyond 64 bits saturates at INT64_MIN or INT64_MAX; the
// end is still behind the last digit.
Scanned<int64_t> scanInteger(const char* text, const char* last, IntegerBase base) noexcept;

enum class DoubleForms {
    decimal,  // digits with optional fraction and exponent: "12", "-.5", "2.5e-3"
    any,      // strtod's forms: also hexadecimal ("0x1.8p3"), "inf", "infinity", "nan", "nan(...)"
};

// Optional white space and one sign, then a number of the given forms,
// rounded to the nearest double exactly as strtod in the "C" locale does.
// Beyond the range of double the value is +-infinity when too large and
// +-0 when too small.
Scanned<double> scanDouble(const char* text, const char* last, DoubleForms forms) noexcept;

}  // namespace platform
