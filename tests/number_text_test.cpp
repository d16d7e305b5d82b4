// The shared number scanner under its three readers: the frame fields, the
// option lines and the device keywords, each with its own rule on top.
#include "platform/number_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "calib/option_line.h"
#include "device/device_config.h"
#include "link/frame_text.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr long kNone = -1;  // the reader finds no number

// One text through every reader. Frame readers: value and stop; option
// lines: a numeric argument (valid, value) and a tracker id; device: the
// keyword's number.
struct Row {
    const char* text;
    int32_t frameInt;
    long intStop;
    double frameDouble;
    long doubleStop;
    bool argValid;
    float arg;
    uint32_t id;
    int32_t keyword;
};

const Row kRows[] = {
    {"42", 42, 2, 42, 2, true, 42, 42, 42},
    {"\t -17x", -17, 5, -17, 5, true, -17, UINT32_MAX, -17},
    {"0x1F", 31, 4, 31, 4, true, 0, 31, 0},
    {"010", 8, 3, 10, 3, true, 10, 8, 10},
    {"08", 0, 1, 8, 2, true, 8, 0, 8},
    {"0x", 0, 1, 0, 1, true, 0, 0, 0},
    {"2.5e3", 2, 1, 2500, 5, true, 2500, 2, 2},
    {"+.5", 0, kNone, 0.5, 3, true, 0.5f, 0, 0},
    {"1,5", 1, 1, 1, 1, true, 1, 1, 1},
    {"99999999999", INT32_MAX, 11, 99999999999.0, 11, true, 99999999999.0f, UINT32_MAX, INT32_MAX},
    {"-99999999999", INT32_MIN, 12, -99999999999.0, 12, true, -99999999999.0f, UINT32_MAX, INT32_MIN},
    {"-2147483648", INT32_MIN, 11, -2147483648.0, 11, true, -2147483648.0f, UINT32_MAX, INT32_MIN},
    {"1e400:", 1, 1, kInf, 5, false, 0, 1, 1},
    {"1e-400", 1, 1, 0, 6, true, 0, 1, 1},
    {"inf", 0, kNone, kInf, 3, false, 0, 0, 0},
    {"abc", 0, kNone, 0, kNone, false, 0, 0, 0},
    {"- 5", 0, kNone, 0, kNone, true, 0, 0, 0},
    {"", 0, kNone, 0, kNone, true, 0, 0, 0},
};

long stop(const char* text, const char* end) { return end == nullptr ? kNone : end - text; }

// Each reader's rule over the same texts, in the "C" locale and in one
// that writes "1,5" (when installed): numbers read the same in both.
TEST(NumberText, EachReadersRuleOverOneTable) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        if (std::setlocale(LC_ALL, locale) == nullptr) continue;
        for (const Row& row : kRows) {
            SCOPED_TRACE(std::string(locale) + " \"" + row.text + '"');
            int32_t integer = 0;
            double number = 0;
            EXPECT_EQ(row.intStop, stop(row.text, frametext::readInt(row.text, integer)));
            EXPECT_EQ(row.frameInt, integer);
            EXPECT_EQ(row.doubleStop, stop(row.text, frametext::readDouble(row.text, number)));
            EXPECT_EQ(row.frameDouble, number);
            float arg = 0;
            EXPECT_EQ(row.argValid, optionline::readFloatArg(row.text, arg));
            EXPECT_EQ(row.arg, arg);
            EXPECT_EQ(row.id, optionline::readUnsigned(row.text).value);
            EXPECT_EQ(row.keyword, device_config::readKeywordInteger(row.text));
        }
    }
    std::setlocale(LC_ALL, previous.c_str());
}

// Beneath the 32-bit rules, the scanner itself: exact up to the 64-bit
// edges in every radix, saturated beyond them (where the magnitude would
// wrap past UINT64_MAX); a ':' (the character after '9') ends the digits.
TEST(NumberText, IntegersAreExactUpToSixtyFourBitsAndSaturateBeyond) {
    constexpr auto decimal = platform::IntegerBase::decimal, prefixed = platform::IntegerBase::prefixed;
    const struct {
        const char* text;
        platform::IntegerBase base;
        int64_t value;
        long stop;
    } rows[] = {
        {"9223372036854775806", decimal, INT64_MAX - 1, 19},
        {"-9223372036854775807", decimal, INT64_MIN + 1, 20},
        {"-9223372036854775808", decimal, INT64_MIN, 20},
        {"18446744073709551615", decimal, INT64_MAX, 20},
        {"18446744073709551616", decimal, INT64_MAX, 20},
        {"-18446744073709551616", decimal, INT64_MIN, 21},
        {"-99999999999999999999", decimal, INT64_MIN, 21},
        {"0x7ffffffffffffffe", prefixed, INT64_MAX - 1, 18},
        {"0x10000000000000000", prefixed, INT64_MAX, 19},
        {"0777777777777777777776", prefixed, INT64_MAX - 1, 22},
        {"12:5", decimal, 12, 2},
    };
    for (const auto& row : rows) {
        const platform::Scanned<int64_t> read = platform::scanInteger(row.text, nullptr, row.base);
        EXPECT_EQ(row.value, read.value) << row.text;
        EXPECT_EQ(row.stop, stop(row.text, read.end)) << row.text;
    }
}

// A random number text: blanks, a sign, then decimal digits (few or
// many, with fraction and exponent, down to subnormals and beyond the
// range), a hexadecimal integer or fraction, or a word; then something
// that ends it.
std::string randomNumberText(std::mt19937_64& random, bool& decimal) {
    auto pick = [&](const char* choices) { return choices[random() % std::strlen(choices)]; };
    auto digits = [&](size_t count, const char* set) {
        std::string out;
        while (count-- > 0) out += pick(set);
        return out;
    };
    std::string text = digits(random() % 3, " \t\n\v\f\r") + digits(random() % 2, "+-");
    const int form = static_cast<int>(random() % 8);
    decimal = form > 1;
    if (form == 0) {
        text += "0x" + digits(random() % 12, "0123456789abcdefABCDEF.") + digits(random() % 2, "pP-3");
    } else if (form == 1) {
        text += digits(1, "IiNn") + digits(random() % 8, "nNaAfFiItTyY()_1");
    } else if (form == 2) {
        text += digits(random() % 800, "0123456789") + "." + digits(random() % 30, "0123456789");
    } else {
        text += digits(random() % 20, "0123456789") + digits(random() % 2, ".") + digits(random() % 20, "0123456789");
        if (random() % 2) text += digits(1, "eE") + digits(random() % 2, "+-") + std::to_string(random() % 340);
    }
    return text + digits(random() % 2, " ]xe.,+-:");
}

// Every double and integer a frame field reads is the one strtod and
// strtol (base 0, clamped to 32 bits) read, bit for bit and to the same
// stop; the option lines' decimal reader agrees on decimal texts.
TEST(NumberText, FrameReadersReadWhatTheCLibraryReads) {
    std::mt19937_64 random(20240601);
    for (int i = 0; i < 100000; ++i) {
        bool decimal = true;
        const std::string text = randomNumberText(random, decimal);
        const char* c = text.c_str();
        char* libraryStop = nullptr;
        const double expected = std::strtod(c, &libraryStop);
        double read = 0;
        const char* ours = frametext::readDouble(c, read);
        ASSERT_EQ(libraryStop == c ? nullptr : libraryStop, ours) << '"' << text << '"';
        if (ours != nullptr && !(std::isnan(read) && std::isnan(expected))) {
            ASSERT_EQ(0, std::memcmp(&expected, &read, sizeof read)) << '"' << text << "\" read as " << read;
        }
        if (decimal) {
            const optionline::DecimalRead option = optionline::readDecimal(c);
            ASSERT_EQ(libraryStop, option.end) << '"' << text << '"';
            // Of a text read as nothing, Windows' strtod gives -0 after a "-".
            if (libraryStop != c) {
                ASSERT_EQ(0, std::memcmp(&expected, &option.value, sizeof read)) << '"' << text << '"';
            }
        }
        const long expectedInt = std::strtol(c, &libraryStop, 0);
        int32_t integer = 0;
        ours = frametext::readInt(c, integer);
        // Windows' strtol reads nothing of a "0x" without hexadecimal digits,
        // where the C standard (and this reader) takes the 0.
        if (libraryStop == c && ours != nullptr && (*ours == 'x' || *ours == 'X')) continue;
        ASSERT_EQ(libraryStop == c ? nullptr : libraryStop, ours) << '"' << text << '"';
        if (ours != nullptr) {
            ASSERT_EQ(std::clamp<long>(expectedInt, INT32_MIN, INT32_MAX), integer) << '"' << text << '"';
        }
    }
}

}  // namespace
