#pragma once
// The option-line grammar that every framework handler shares: keyword
// match, argument access, locale-independent numbers and ids, unit and
// switch words, and the one-line error report
// "<reason><label><line number><closing>".
//
// The readers are pure and return where they stopped, so that a caller can
// tell "0" from "abc" and a test can check both the value and the stop.
#include <cstddef>
#include <cstdint>

#include "framework/host_records.h"

class CLogH;

namespace optionline {

// Reasons that several handlers report; each is followed by a label that
// ends in " at line ", then the line number and the closing text.
inline constexpr char kIncomplete[] = "Incomplete option line found for ";
inline constexpr char kTooManyArgs[] = "Too many args found for ";
inline constexpr char kInvalidArg[] = "Invalid arg found for ";

// --- Line access ------------------------------------------------------------

// The argument count clamped to 0..ConfigLine::kMaxArgs, so that a hostile
// count never indexes past the record.
int argCount(const ConfigLine& line) noexcept;

// Argument `index` (0-based); "" when the index is outside the count or the
// host left the entry null.
const char* argText(const ConfigLine& line, int index) noexcept;

// Whole-text, case-insensitive keyword comparison (ASCII folding).
bool keywordIs(const ConfigLine& line, const char* keyword) noexcept;

// The line was taken without error: later readers see it as consumed.
inline void markUsed(ConfigLine& line) noexcept { line.used = 1; }

// --- Numbers ----------------------------------------------------------------

struct DecimalRead {
    double value;     // 0 when nothing was read; +-inf on overflow, +-0 on underflow
    const char* end;  // first character not taken; the text itself when nothing was read
};

// Decimal floating-point number: optional leading white space and sign,
// digits with optional fraction and exponent. No hexadecimal, "inf" or
// "nan" forms. The shared scanner's decimal form (platform/number_text.h),
// independent of the process locale.
DecimalRead readDecimal(const char* text) noexcept;

// True when the text's first character is an ASCII letter.
bool startsWithLetter(const char* text) noexcept;

// A numeric argument narrowed to float. False ("Invalid arg") when it reads
// as 0 and starts with a letter, or when the value does not fit a float
// (a length or angle of infinity would poison every later pose). A lone
// sign or an empty text reads as 0 and is valid.
bool readFloatArg(const char* text, float& value) noexcept;

struct UnsignedRead {
    // The number; UINT32_MAX when it is negative or does not fit 32 bits, so
    // that "0 or above the count" checks reject it; 0 for a non-numeric text.
    uint32_t value;
    bool inRange;     // false exactly when value was saturated
    const char* end;  // first character not taken
};

// Integer in automatic base: optional leading white space and sign; "0x" or
// "0X" then hexadecimal, a leading 0 octal, anything else decimal. The rest
// of the text is ignored.
UnsignedRead readUnsigned(const char* text) noexcept;

// Bracketed list "[v1,v2,...]": reads up to `capacity` numbers after the
// "[", each optionally preceded by white space and followed by a ",";
// stops at the first number that cannot be read or the first missing ",".
// Returns how many values were stored (from the left); one beyond float
// range is stored as infinity, for the caller to refuse. 0 when the text
// does not begin with "[".
size_t readBracketedList(const char* text, float* values, size_t capacity) noexcept;

// --- Words ------------------------------------------------------------------

// Unit words, any case, with the factor that turns a length into feet:
// "feet" 1, "inches" 1/12, "meters" and "m" 3.2808399, "cm" 0.0328084.
bool lookUpUnit(const char* word, float& factor) noexcept;

// "yes"/"on" give true, "no"/"off" false, any case; false for any other word.
bool readSwitch(const char* word, bool& value) noexcept;

// --- Reporting --------------------------------------------------------------

// One error line: the logger's head and error label, then reason, label,
// the line number as unsigned decimal, the closing text and a line end.
// A disabled logger drops only the head.
void reportLineError(const CLogH& log, const char* reason, const char* label, int32_t lineNumber,
                     const char* closing = ".") noexcept;

// --- Reading lines ----------------------------------------------------------

// One option line under reading: its arguments, the label its messages
// carry, and the ways to fail or take it.
class LineReader {
public:
    LineReader(ConfigLine& line, const CLogH& log, const char* label) noexcept
        : line_(line), log_(log), label_(label), count_(argCount(line)) {}

    int count() const noexcept { return count_; }
    const char* arg(int index) const noexcept { return argText(line_, index); }
    // The integer of argument `index` (see readUnsigned).
    uint32_t id(int index) const noexcept { return readUnsigned(arg(index)).value; }

    // Reports the reason with this line's label, or with `label` and
    // `closing`; always false, so that a check can end with it.
    bool fail(const char* reason) const noexcept { return fail(reason, label_); }
    bool fail(const char* reason, const char* label, const char* closing = ".") const noexcept;

    // Fails as incomplete below `minimum` arguments, as too many above `maximum`.
    bool countWithin(int minimum, int maximum) const noexcept;
    // `n` numbers from argument `first` on; the first invalid one fails the line.
    bool numbers(int first, int n, float* values) const noexcept;

    // The line was taken: later readers see it as consumed. Always true.
    bool taken() noexcept {
        markUsed(line_);
        return true;
    }

private:
    ConfigLine& line_;
    const CLogH& log_;
    const char* label_;
    int count_;
};

// Offers the configuration's lines in order (never more than the record
// holds) to `read(line, afterError)`, which returns false for a line that
// failed; afterError tells it whether an earlier line failed. True when no
// line failed.
template <typename ReadLine>
bool readLines(DeviceConfig& config, ReadLine&& read) {
    const uint32_t lines = config.numLines < DeviceConfig::kMaxLines ? config.numLines : DeviceConfig::kMaxLines;
    bool failed = false;
    for (uint32_t i = 0; i < lines; ++i) {
        if (!read(config.lines[i], failed)) {
            failed = true;
        }
    }
    return !failed;
}

}  // namespace optionline
