// The shared number scanner under its three readers (frame fields, option lines, device keywords), each with its rule.
#include "platform/number_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "calib/option_line.h"
#include "device/device_config.h"
#include "link/frame_text.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr long kNone = -1;  // the reader finds no number

// One text through every reader: frame value and stop, option argument (valid, value), tracker id, keyword number.
using Row = std::tuple<const char*, int32_t, long, double, long, bool, float, uint32_t, int32_t>;

const Row kRows[] = {
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
    {"18446744073709551617", INT32_MAX, 20, 18446744073709551617.0, 20, true, 18446744073709551617.0f, UINT32_MAX,
     INT32_MAX},
    {"1e400:", 1, 1, kInf, 5, false, 0, 1, 1},
    {"1e-400", 1, 1, 0, 6, true, 0, 1, 1},
    {"inf", 0, kNone, kInf, 3, false, 0, 0, 0},
    {"abc", 0, kNone, 0, kNone, false, 0, 0, 0},
    {"- 5", 0, kNone, 0, kNone, true, 0, 0, 0},
    {"", 0, kNone, 0, kNone, true, 0, 0, 0},
};

long stop(const char* text, const char* end) { return end == nullptr ? kNone : end - text; }

// Each reader's rule over the same texts, in the "C" locale and in a "1,5" one (when installed): both read the same.
TEST(NumberText, EachReadersRuleOverOneTable) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        if (std::setlocale(LC_ALL, locale) == nullptr) continue;
        for (const Row& row : kRows) {
            const char* text = std::get<0>(row);
            int32_t integer = 0;
            double number = 0;
            float arg = 0;
            const long intStop = stop(text, frametext::readInt(text, integer)),
                       doubleStop = stop(text, frametext::readDouble(text, number));
            const bool valid = optionline::readFloatArg(text, arg);
            EXPECT_EQ(row, Row(text, integer, intStop, number, doubleStop, valid, arg,
                               optionline::readUnsigned(text).value, device_config::readKeywordInteger(text)))
                << locale;
        }
    }
    std::setlocale(LC_ALL, previous.c_str());
}

// Numbers of every form and what ends them: a frame field reads what strtod and strtol (base 0, clamped to 32 bits)
// read, bit for bit and to the same stop; the option lines' decimal reader agrees on the decimal ones.
TEST(NumberText, FrameReadersReadWhatTheCLibraryReads) {
    std::vector<std::string> texts = {"0.1" + std::string(5000, '0') + "1", std::string(800, '7') + ".5e-400"};
    std::istringstream listed(
        " \t-0x1F.8p-3]|0X.8P1|0x1p99999|0x1P-99999|0x|0x.p1|-Infinity|infx|+NaN(1_a)|nan(|INFINIT|"
        "123456789e99999999999|0.0000001e-99999999999|4e-320|2.225e-308|1e+|1e-x|-.5e+3,|.e1|+-1|"
        "2147483648|-2147483649:|00777 |18446744073709551617|-18446744073709551617|0x10000000000000001|"
        "-9223372036854775808|0777777777777777777777");
    for (std::string text; std::getline(listed, text, '|');) texts.push_back(text);
    for (const std::string& text : texts) {
        const char* c = text.c_str();
        char* libraryStop = nullptr;
        const double expected = std::strtod(c, &libraryStop);
        double read = 0;
        const char* ours = frametext::readDouble(c, read);
        EXPECT_EQ(libraryStop == c ? nullptr : libraryStop, ours) << '"' << text << '"';
        EXPECT_TRUE(ours == nullptr || (std::isnan(read) && std::isnan(expected)) ||
                    std::memcmp(&expected, &read, sizeof read) == 0)
            << '"' << text << "\" read as " << read;
        if (std::strpbrk(c, "xXnNiI") == nullptr) {
            const optionline::DecimalRead option = optionline::readDecimal(c);
            EXPECT_EQ(libraryStop, option.end) << '"' << text << '"';
            // Of a text read as nothing, Windows' strtod gives -0 after a "-".
            EXPECT_TRUE(libraryStop == c || std::memcmp(&expected, &option.value, sizeof read) == 0) << text;
        }
        const long expectedInt = std::strtol(c, &libraryStop, 0);
        int32_t integer = 0;
        ours = frametext::readInt(c, integer);
        // Windows' strtol reads nothing of a "0x" without hex digits, where the C standard (and this reader) takes 0.
        if (libraryStop == c && ours != nullptr && (*ours == 'x' || *ours == 'X')) continue;
        EXPECT_EQ(libraryStop == c ? nullptr : libraryStop, ours) << '"' << text << '"';
        EXPECT_EQ(ours == nullptr ? 0 : std::clamp<long>(expectedInt, INT32_MIN, INT32_MAX), integer) << text;
    }
}

}  // namespace
