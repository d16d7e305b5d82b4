#include "calib/option_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "calib_test_support.h"

namespace {

using calib_test::captured;

constexpr double kInf = std::numeric_limits<double>::infinity();

struct DecimalCase { const char* text; double value; size_t stop; };

// Value and stop position of one decimal read.
void expectDecimal(const DecimalCase& c) {
    optionline::DecimalRead read = optionline::readDecimal(c.text);
    EXPECT_EQ(c.value, read.value) << '"' << c.text << '"';
    EXPECT_EQ(c.stop, static_cast<size_t>(read.end - c.text)) << '"' << c.text << '"';
}

}  // namespace

TEST(OptionLineDecimal, ValueAndStopPosition) {
    const DecimalCase cases[] = {
        {"0.5", 0.5, 3}, {"  -2.25e1xyz", -22.5, 9}, {"+.5", 0.5, 3}, {"5.", 5.0, 2}, {"1e", 1.0, 1},
        {"1e+", 1.0, 1}, {"3,5", 3.0, 1}, {"10cm", 10.0, 2},
        // Nothing read: 0 at the start. No "inf", "nan" or hexadecimal forms.
        {"", 0, 0}, {"-", 0, 0}, {"+", 0, 0}, {"-x", 0, 0}, {"abc", 0, 0}, {".", 0, 0}, {"-.", 0, 0}, {" ", 0, 0},
        {"inf", 0, 0}, {"nan", 0, 0}, {"-infinity", 0, 0}, {"0x10", 0, 1},
        // Beyond double: infinity when too large, 0 when too small.
        {"-1e999 rest", -kInf, 6}, {"123456789e301", kInf, 13}, {"0.0001e-999", 0, 11}, {"1e-400", 0, 6},
    };
    for (const DecimalCase& c : cases) {
        expectDecimal(c);
    }
}

// Invalid only when the value is 0 and the text starts with a letter, or
// when the value does not fit a float; a failed read stores nothing.
TEST(OptionLineFloatArg, ValidityAndValue) {
    struct Case { const char* text; bool valid; float value; };
    const Case cases[] = {
        {"abc", false, 99}, {"x1", false, 99}, {"1e39", false, 99}, {"-1e999", false, 99},
        {"-", true, 0}, {"-x", true, 0}, {"", true, 0}, {" abc", true, 0}, {"0", true, 0},
        {"12abc", true, 12}, {"0.1", true, static_cast<float>(0.1)}, {"3.4028234e38", true, 3.4028234e38f},
        {"1e-50", true, 0},
    };
    for (const Case& c : cases) {
        float value = 99.0f;
        EXPECT_EQ(c.valid, optionline::readFloatArg(c.text, value)) << '"' << c.text << '"';
        EXPECT_EQ(c.value, value) << '"' << c.text << '"';
    }
}

// Automatic base; a non-numeric text is 0; negative and too large values
// saturate so that every range check refuses them.
TEST(OptionLineUnsigned, ValueRangeAndStop) {
    struct Case { const char* text; uint32_t value; bool inRange; size_t stop; };
    const Case cases[] = {
        {"12", 12, true, 2}, {"  +7z", 7, true, 4}, {"0x2", 2, true, 3}, {"0X1f!", 31, true, 4},
        {"010", 8, true, 3}, {"09", 0, true, 1}, {"0", 0, true, 1}, {"0x", 0, true, 1}, {"0xg", 0, true, 1},
        {"3.9", 3, true, 1}, {"-0", 0, true, 2}, {"", 0, true, 0}, {"abc", 0, true, 0}, {"-", 0, true, 0},
        {"-1", UINT32_MAX, false, 2}, {"4294967295", UINT32_MAX, true, 10}, {"4294967296", UINT32_MAX, false, 10},
        {"0x100000000", UINT32_MAX, false, 11},
    };
    for (const Case& c : cases) {
        optionline::UnsignedRead read = optionline::readUnsigned(c.text);
        EXPECT_EQ(c.value, read.value) << '"' << c.text << '"';
        EXPECT_EQ(c.inRange, read.inRange) << '"' << c.text << '"';
        EXPECT_EQ(c.stop, static_cast<size_t>(read.end - c.text)) << '"' << c.text << '"';
    }
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
    struct Unit {
        const char* word;
        float factor;  // 0: not a unit
    };
    const Unit units[] = {{"FEET", 1.0f},       {"Inches", 0.083333336f}, {"meters", 3.2808399f}, {"M", 3.2808399f},
                          {"cm", 0.0328084f},   {"mm", 0},                {"", 0},                 {nullptr, 0}};
    for (const Unit& u : units) {
        float factor = 0;
        EXPECT_EQ(u.factor != 0, optionline::lookUpUnit(u.word, factor)) << (u.word ? u.word : "null");
        EXPECT_EQ(u.factor, factor) << (u.word ? u.word : "null");
    }
    bool on = false;
    EXPECT_TRUE(optionline::readSwitch("YES", on) && on);
    EXPECT_TRUE(optionline::readSwitch("off", on) && !on);
    EXPECT_TRUE(optionline::readSwitch("On", on) && on);
    EXPECT_TRUE(optionline::readSwitch("No", on) && !on);
    EXPECT_FALSE(optionline::readSwitch("true", on));
    EXPECT_FALSE(optionline::readSwitch(nullptr, on));
}

TEST(OptionLineAccess, KeywordCountAndArguments) {
    ConfigLine line{};
    line.keyword = "SensorOffset";
    line.args[0] = "1";
    line.args[2] = "3";
    line.argCount = 3;
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
}

TEST(OptionLineReport, OneLineWithReasonLabelNumberAndClosing) {
    CLogH log = calib_test::quietLogger("CTraCommonH");
    EXPECT_EQ("CTraCommonH: ERROR: Incomplete option line found for SensorOffset at line 12.\n"
              "CTraCommonH: ERROR: Invalid button ID found for EmulateTracker option at line 3. Ignored.\n",
              captured([&] {
                  optionline::reportLineError(log, optionline::kIncomplete, "SensorOffset at line ", 12);
                  optionline::reportLineError(log, "Invalid button ID found for ", "EmulateTracker option at line ",
                                              3, ". Ignored.");
              }));
    // A disabled logger drops its head; the rest of the line is the
    // caller's own output and still tells which line failed.
    log.enabled = 0;
    EXPECT_EQ("Too many args found for Order at line 1.\n", captured([&] {
                  optionline::reportLineError(log, optionline::kTooManyArgs, "Order at line ", 1);
              }));
}
