#include "calib/option_line.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "framework/logger.h"

namespace {

using optionline::DecimalRead;
using optionline::UnsignedRead;

// Value and stop position of one decimal read.
void expectDecimal(const char* text, double value, size_t stop) {
    DecimalRead read = optionline::readDecimal(text);
    EXPECT_EQ(value, read.value) << '"' << text << '"';
    EXPECT_EQ(stop, static_cast<size_t>(read.end - text)) << '"' << text << '"';
}

void expectUnsigned(const char* text, uint32_t value, bool inRange, size_t stop) {
    UnsignedRead read = optionline::readUnsigned(text);
    EXPECT_EQ(value, read.value) << '"' << text << '"';
    EXPECT_EQ(inRange, read.inRange) << '"' << text << '"';
    EXPECT_EQ(stop, static_cast<size_t>(read.end - text)) << '"' << text << '"';
}

// Restores the "C" locale after a test that switches the process locale.
struct GermanLocale {
    bool active = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    ~GermanLocale() { std::setlocale(LC_ALL, "C"); }
};

ConfigLine lineWith(const char* keyword, int count, const char* const* args) {
    ConfigLine line{};
    line.lineNumber = 7;
    line.keyword = keyword;
    for (int i = 0; i < count && i < ConfigLine::kMaxArgs; ++i) {
        line.args[i] = args[i];
    }
    line.argCount = count;
    return line;
}

}  // namespace

TEST(OptionLineDecimal, ReadsValueAndStopsAtFirstUnfitCharacter) {
    expectDecimal("0.5", 0.5, 3);
    expectDecimal("  -2.25e1xyz", -22.5, 9);
    expectDecimal("+.5", 0.5, 3);
    expectDecimal("5.", 5.0, 2);
    expectDecimal("1e", 1.0, 1);
    expectDecimal("1e+", 1.0, 1);
    expectDecimal("3,5", 3.0, 1);
    expectDecimal("10cm", 10.0, 2);
}

TEST(OptionLineDecimal, NothingReadLeavesZeroAtTheStart) {
    for (const char* text : {"", "-", "+", "-x", "abc", ".", "-.", " ", "inf", "nan", "-infinity"}) {
        expectDecimal(text, 0.0, 0);
    }
    // Hexadecimal is not a decimal form: the leading 0 is all that fits.
    expectDecimal("0x10", 0.0, 1);
}

TEST(OptionLineDecimal, OutOfRangeBecomesInfinityOrZero) {
    const char* hugeText = "-1e999 rest";
    DecimalRead huge = optionline::readDecimal(hugeText);
    EXPECT_TRUE(huge.value < 0 && std::isinf(huge.value));
    EXPECT_EQ(hugeText + 6, huge.end);
    DecimalRead big = optionline::readDecimal("123456789e301");
    EXPECT_TRUE(std::isinf(big.value));
    DecimalRead tiny = optionline::readDecimal("0.0001e-999");
    EXPECT_EQ(0.0, tiny.value);
    DecimalRead tiny2 = optionline::readDecimal("1e-400");
    EXPECT_EQ(0.0, tiny2.value);
}

TEST(OptionLineDecimal, GermanLocaleStillReadsThePoint) {
    GermanLocale german;
    if (!german.active) {
        GTEST_SKIP() << "de_DE.UTF-8 not installed";
    }
    expectDecimal("0.5", 0.5, 3);
    expectDecimal("1.5e-1", 0.15, 6);
    float value = 0;
    ASSERT_TRUE(optionline::readFloatArg("0.5", value));
    EXPECT_EQ(0.5f, value);
    float list[2] = {};
    ASSERT_EQ(2u, optionline::readBracketedList("[0.25,1.5]", list, 2));
    EXPECT_EQ(0.25f, list[0]);
    EXPECT_EQ(1.5f, list[1]);
}

TEST(OptionLineFloatArg, InvalidOnlyWhenZeroAndStartingWithALetter) {
    float value = 99.0f;
    EXPECT_FALSE(optionline::readFloatArg("abc", value));
    EXPECT_FALSE(optionline::readFloatArg("x1", value));
    EXPECT_EQ(99.0f, value) << "a failed read stores nothing";
    EXPECT_TRUE(optionline::readFloatArg("-", value));
    EXPECT_EQ(0.0f, value);
    EXPECT_TRUE(optionline::readFloatArg("-x", value));
    EXPECT_TRUE(optionline::readFloatArg("", value));
    EXPECT_TRUE(optionline::readFloatArg(" abc", value));
    EXPECT_TRUE(optionline::readFloatArg("0", value));
    EXPECT_TRUE(optionline::readFloatArg("12abc", value));
    EXPECT_EQ(12.0f, value);
    EXPECT_TRUE(optionline::readFloatArg("0.1", value));
    EXPECT_EQ(static_cast<float>(0.1), value) << "read in double, then narrowed";
}

TEST(OptionLineFloatArg, ValuesBeyondFloatAreInvalid) {
    float value = 5.0f;
    EXPECT_FALSE(optionline::readFloatArg("1e39", value));
    EXPECT_FALSE(optionline::readFloatArg("-1e999", value));
    EXPECT_EQ(5.0f, value);
    EXPECT_TRUE(optionline::readFloatArg("3.4028234e38", value));
    EXPECT_EQ(3.4028234e38f, value);
    EXPECT_TRUE(optionline::readFloatArg("1e-50", value));
    EXPECT_EQ(0.0f, value);
}

TEST(OptionLineUnsigned, AutomaticBase) {
    expectUnsigned("12", 12, true, 2);
    expectUnsigned("  +7z", 7, true, 4);
    expectUnsigned("0x2", 2, true, 3);
    expectUnsigned("0X1f!", 31, true, 4);
    expectUnsigned("010", 8, true, 3);
    expectUnsigned("09", 0, true, 1);
    expectUnsigned("0", 0, true, 1);
    expectUnsigned("0x", 0, true, 1);
    expectUnsigned("0xg", 0, true, 1);
    expectUnsigned("3.9", 3, true, 1);
    expectUnsigned("-0", 0, true, 2);
}

TEST(OptionLineUnsigned, NonNumericIsZeroNegativeAndHugeSaturate) {
    expectUnsigned("", 0, true, 0);
    expectUnsigned("abc", 0, true, 0);
    expectUnsigned("-", 0, true, 0);
    expectUnsigned("-1", UINT32_MAX, false, 2);
    expectUnsigned("4294967295", UINT32_MAX, true, 10);
    expectUnsigned("4294967296", UINT32_MAX, false, 10);
    expectUnsigned("0x100000000", UINT32_MAX, false, 11);
}

TEST(OptionLineList, BracketedValuesFromTheLeft) {
    float values[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(6u, optionline::readBracketedList("[1,2,3,4,5,6]", values, 6));
    EXPECT_EQ(6.0f, values[5]);
    float four[4] = {};
    EXPECT_EQ(4u, optionline::readBracketedList("[1,-2.5, 3e1,4,5]", four, 4));
    EXPECT_EQ(-2.5f, four[1]);
    EXPECT_EQ(30.0f, four[2]);
    float some[6] = {};
    EXPECT_EQ(2u, optionline::readBracketedList("[1,2]", some, 6));
    EXPECT_EQ(1u, optionline::readBracketedList("[1 ,2]", some, 6)) << "the comma must follow directly";
    EXPECT_EQ(0u, optionline::readBracketedList("[x,2]", some, 6));
    EXPECT_EQ(0u, optionline::readBracketedList("1,2", some, 6));
    EXPECT_EQ(0u, optionline::readBracketedList(nullptr, some, 6));
}

TEST(OptionLineWords, UnitsAndSwitches) {
    float factor = 0;
    ASSERT_TRUE(optionline::lookUpUnit("FEET", factor));
    EXPECT_EQ(1.0f, factor);
    ASSERT_TRUE(optionline::lookUpUnit("Inches", factor));
    EXPECT_EQ(0.083333336f, factor);
    ASSERT_TRUE(optionline::lookUpUnit("meters", factor));
    EXPECT_EQ(3.2808399f, factor);
    ASSERT_TRUE(optionline::lookUpUnit("M", factor));
    EXPECT_EQ(3.2808399f, factor);
    ASSERT_TRUE(optionline::lookUpUnit("cm", factor));
    EXPECT_EQ(0.0328084f, factor);
    EXPECT_FALSE(optionline::lookUpUnit("mm", factor));
    EXPECT_FALSE(optionline::lookUpUnit("", factor));
    EXPECT_FALSE(optionline::lookUpUnit(nullptr, factor));

    bool on = false;
    EXPECT_TRUE(optionline::readSwitch("YES", on) && on);
    EXPECT_TRUE(optionline::readSwitch("off", on) && !on);
    EXPECT_TRUE(optionline::readSwitch("On", on) && on);
    EXPECT_TRUE(optionline::readSwitch("No", on) && !on);
    EXPECT_FALSE(optionline::readSwitch("true", on));
    EXPECT_FALSE(optionline::readSwitch(nullptr, on));
}

TEST(OptionLineAccess, KeywordCountAndArguments) {
    const char* args[] = {"1", nullptr, "3"};
    ConfigLine line = lineWith("SensorOffset", 3, args);
    EXPECT_TRUE(optionline::keywordIs(line, "sensoroffset"));
    EXPECT_FALSE(optionline::keywordIs(line, "sensoroffsets"));
    EXPECT_STREQ("1", optionline::argText(line, 0));
    EXPECT_STREQ("", optionline::argText(line, 1)) << "a null entry reads as empty";
    EXPECT_STREQ("", optionline::argText(line, 3));
    EXPECT_STREQ("", optionline::argText(line, -1));

    line.argCount = 1000;
    EXPECT_EQ(ConfigLine::kMaxArgs, optionline::argCount(line));
    line.argCount = -3;
    EXPECT_EQ(0, optionline::argCount(line));
    EXPECT_STREQ("", optionline::argText(line, 0));

    line.keyword = nullptr;
    EXPECT_FALSE(optionline::keywordIs(line, "sensoroffset"));
    optionline::markUsed(line);
    EXPECT_EQ(1, line.used);
}

TEST(OptionLineReport, OneLineWithReasonLabelNumberAndClosing) {
    CLogH log;
    log.showDate = log.showTime = log.showThreadId = 0;
    log.setName("CTraCommonH");
    testing::internal::CaptureStdout();
    optionline::reportLineError(log, optionline::kIncomplete, "SensorOffset at line ", 12);
    optionline::reportLineError(log, "Invalid button ID found for ", "EmulateTracker option at line ", 3, ". Ignored.");
    EXPECT_EQ("CTraCommonH: ERROR: Incomplete option line found for SensorOffset at line 12.\n"
              "CTraCommonH: ERROR: Invalid button ID found for EmulateTracker option at line 3. Ignored.\n",
              testing::internal::GetCapturedStdout());

    // A disabled logger drops its head; the rest of the line is the
    // caller's own output and still tells which line failed.
    log.enabled = 0;
    testing::internal::CaptureStdout();
    optionline::reportLineError(log, optionline::kTooManyArgs, "Order at line ", 1);
    EXPECT_EQ("Too many args found for Order at line 1.\n", testing::internal::GetCapturedStdout());
}
