#pragma once
// Readers for the text of measurement frames and controller answers. Each
// one is pure, never allocates, reads the same in every locale, and returns
// where it stopped (null when there was nothing to read). The text is
// NUL-terminated. Numbers are read with the C library's rules (strtol with
// base 0, strtod) by the shared scanner of platform/number_text.h.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace frametext {

// Integer with the C base rule: "0x"/"0X" hexadecimal, a leading "0" octal,
// otherwise decimal; leading white space and a sign are accepted. A value
// beyond the type's range is clamped to the nearest limit.
const char* readInt(const char* text, int32_t& value) noexcept;
// As readInt; a minus sign negates modulo 2^32, as the C library does.
const char* readUInt(const char* text, uint32_t& value) noexcept;
// Decimal, exponent or hexadecimal ("0x1p3") notation, "inf", "infinity",
// "nan"; leading white space and a sign accepted. Too large gives +-inf,
// too small +-0.
const char* readDouble(const char* text, double& value) noexcept;

// The same readers, never reading at or past end.
const char* readInt(const char* text, const char* end, int32_t& value) noexcept;
const char* readUInt(const char* text, const char* end, uint32_t& value) noexcept;
const char* readDouble(const char* text, const char* end, double& value) noexcept;

// A bracketed group such as "[3 0.982]": finds the next "[" anywhere in
// the remaining text and the "]" after it, then reads one number per type
// letter ('i' into ints, 'd' into doubles, in order) from inside the
// brackets; numbers beyond those are ignored. Returns the position behind
// "]", or null when a bracket or a number is missing or a letter is
// unknown (outputs read so far are then already written).
const char* readGroup(const char* text, const char* types, int32_t* ints, double* doubles) noexcept;

// The text between the next pair of double quotes; returns the position
// behind the second quote, null when there is no pair.
const char* readQuoted(const char* text, std::string_view& quoted) noexcept;

// Start of the line after the one that holds current: lines are separated
// by runs of CR and LF. Null when the text (NUL-terminated, or bufferSize
// bytes from bufferStart) ends first.
const char* nextLine(const char* bufferStart, const char* current, size_t bufferSize) noexcept;

}  // namespace frametext
