// The option-line grammar that the handlers share.
#include "calib/option_line.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/host_records.h"
#include "tests/support/output.h"

using namespace optionline;

// Invalid: 0 read from a text starting with a letter, or beyond float; ids saturate out of range.
TEST(OptionLine, FloatArgumentsAndIds) {
    const std::tuple<const char*, bool, float> floats[] = {
        {"1e39", false, 99}, {"nan", false, 99}, {"-x", true, 0}, {"3.4028234e38", true, 3.4028234e38f}};
    for (const auto& [text, valid, expected] : floats) {
        float value = 99.0f;
        EXPECT_EQ(std::make_pair(valid, expected), std::make_pair(readFloatArg(text, value), value)) << text;
    }
    const std::tuple<const char*, uint32_t, bool, size_t> ids[] = {{"  +7z", 7, true, 4},
                                                                   {"0X1f!", 31, true, 4},
                                                                   {"-0", 0, true, 2},
                                                                   {"-1", UINT32_MAX, false, 2},
                                                                   {"4294967295", UINT32_MAX, true, 10},
                                                                   {"4294967296", UINT32_MAX, false, 10},
                                                                   {"0x100000000", UINT32_MAX, false, 11}};
    for (const auto& [text, value, inRange, stop] : ids) {
        const UnsignedRead read = readUnsigned(text);
        EXPECT_EQ(std::make_tuple(value, inRange, stop),
                  std::make_tuple(read.value, read.inRange, static_cast<size_t>(read.end - text)))
            << text;
    }
}

TEST(OptionLine, ListsUnitsSwitchesAndArguments) {
    float values[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(4u, readBracketedList("[1,-2.5, 3e1,4,5]", values, 4));
    EXPECT_EQ((std::vector<float>{1, -2.5f, 30, 4, 9}), std::vector<float>(values, values + 5));
    EXPECT_EQ((std::vector<size_t>{2, 1, 0, 0, 0}),
              (std::vector<size_t>{readBracketedList("[1,2]", values, 6), readBracketedList("[1 ,2]", values, 6),
                                   readBracketedList("[x,2]", values, 6), readBracketedList("1,2", values, 6),
                                   readBracketedList(nullptr, values, 6)}));
    // (Inches, meters and centimetres and a refused unit are the calibration's lines.)
    const std::pair<const char*, float> units[] = {{"FEET", 1.0f}, {"M", 3.2808399f}, {"", 0}, {nullptr, 0}};
    for (const auto& [word, expected] : units) {
        float factor = 0;
        EXPECT_EQ(std::make_pair(expected != 0, expected), std::make_pair(lookUpUnit(word, factor), factor))
            << (word ? word : "null");
    }
    bool on = false;  // (yes, on, off: the CAVE lines)
    EXPECT_TRUE(readSwitch("No", on) && !on && !readSwitch("true", on) && !readSwitch(nullptr, on));
    ConfigLine line{};
    line.keyword = "SensorOffset";
    line.args[0] = "1";
    line.argCount = 3;
    EXPECT_TRUE(keywordIs(line, "sensoroffset") && !keywordIs(line, "sensoroffsets"));
    EXPECT_EQ("1||",
              std::string(argText(line, 0)) + "|" + argText(line, 1) + "|" + argText(line, 3) + argText(line, -1));
    line.argCount = 1000;
    EXPECT_EQ(ConfigLine::kMaxArgs, argCount(line));
    line.argCount = -3;
    line.keyword = nullptr;
    EXPECT_EQ(std::make_tuple(0, std::string(), false),
              std::make_tuple(argCount(line), std::string(argText(line, 0)), keywordIs(line, "x")));
}

// The line number is unsigned, whatever a hostile record holds; a disabled logger drops only the head.
TEST(OptionLine, MessageLine) {
    CLogH log = test_support::quietLogger("CTraCommonH");
    log.enabled = 0;
    EXPECT_EQ("Too many args found for Order at line 4294967295.\n",
              test_support::capturedStdout([&] { reportLineError(log, kTooManyArgs, "Order at line ", -1); }));
}
