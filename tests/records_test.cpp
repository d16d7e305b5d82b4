// The record encoders byte by byte: what other programs read from shared memory.
#include "framework/records.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/shared_storage.h"

using records::toBE32;
using test_support::wordAt;

// trunc(v * scale), the low 32 bits beyond the range, 0 when the product does not fit 64 bits.
TEST(Records, FixedPointWordsAreBigEndianAndTruncated) {
    const std::tuple<double, bool, uint32_t> cases[] = {
        {1.5f, true, 150000},         {NAN, true, 0},
        {0.0000199, true, 1},         {-0.0000199, true, 0xFFFFFFFFu},
        {30000.0, true, 0xB2D05E00u}, {21474.83648, true, 0x80000000u},
        {9.0e13, true, 0xE2840000u},  {-9.0e13, true, 0x1D7C0000u},
        {-1.0e14, true, 0},           {0.0015f, false, 1},
        {-2.5f, false, 0xFFFFF63Cu},  {1.0e17, false, 0},
    };
    for (const auto& [value, fix5, expected] : cases) {
        const uint32_t word = fix5 ? records::encodeFix5(value) : records::encodeFix3(value);
        EXPECT_EQ(expected, wordAt(&word, 0)) << value << (fix5 ? " FIX5" : " FIX3");
    }
    EXPECT_FLOAT_EQ(1.5f, records::decodeFix5(records::encodeFix5(1.5)));
    EXPECT_FLOAT_EQ(-12949.67296f, records::decodeFix5(toBE32(0xB2D05E00u)));  // a wrapped 30000
    EXPECT_FLOAT_EQ(0.001f, records::decodeFix3(toBE32(1)));
    EXPECT_FLOAT_EQ(2147483.647f, records::decodeFix3(toBE32(0x7FFFFFFFu)));
}

TEST(Records, TrackerFieldsIdAndClock) {
    TraData r{};
    EXPECT_TRUE(!r.setId(0) && !r.setId(33) && r.id == 0 && r.setId(32) && !r.setId(40));
    EXPECT_EQ(32u, wordAt(&r, 0));
    r.setClock(platform::ClockReading{0x180000009LL, 999, -60, 1});
    EXPECT_EQ((std::vector<uint32_t>{0x80000009u, 999000u}), test_support::wordsAt(&r, 8, 2));
    EXPECT_EQ(static_cast<int32_t>(0x80000009u), r.stamp.seconds);
    EXPECT_EQ((std::vector<int>{999, -60, 1, 0}),
              (std::vector<int>{r.stamp.milliseconds, r.stamp.minutesWest, r.stamp.daylightSaving, r.stamp.padding}));
}

TEST(Records, ControllerCountsValuatorsAndButtons) {
    ConData r;
    std::memset(&r, 0xAB, sizeof r);
    r.clear();
    EXPECT_EQ(std::vector<uint32_t>(7, 0), test_support::wordsAt(&r, 0, 7));
    EXPECT_EQ(std::make_tuple(0xABABABABu, 0xABABABABu, 4u),
              std::make_tuple(wordAt(&r, 28), wordAt(&r, 172), r.numButtonBytes));
    EXPECT_EQ(std::vector<uint32_t>(33, 0), test_support::wordsAt(&r, 36, 33));
    r.setCounts(8, 16);
    EXPECT_EQ((std::vector<uint32_t>{8, 16, 36, 68}), test_support::wordsAt(&r, 20, 4));
    r.setCounts(33, 40);  // beyond 32: the count stays 0
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 36, 36}), test_support::wordsAt(&r, 20, 4));

    r.setCounts(32, 32);
    EXPECT_TRUE(r.setValuator(1, 0.0015f) && r.setValuator(32, -1.0f) && r.setValuator(3, 2.0f));
    EXPECT_FALSE(r.setValuator(0, 1.0f) || r.setValuator(33, 1.0f));
    EXPECT_EQ(std::make_pair(1u, 0xFFFFFC18u), std::make_pair(wordAt(&r, 36), wordAt(&r, 160)));
    EXPECT_EQ((std::vector<float>{0.001f, -1, 0}),
              (std::vector<float>{r.getValuator(1), r.getValuator(32), r.getValuator(0)}));
    for (uint32_t b : {1u, 9u, 32u, 2u}) EXPECT_TRUE(r.setButton(b, true)) << b;
    EXPECT_TRUE(r.setButton(2, false));
    EXPECT_FALSE(r.setButton(0, true) || r.setButton(33, true));
    EXPECT_EQ(0x01010080u, wordAt(&r, 164));
    EXPECT_EQ((std::vector<int>{0, 1, 0, 1, 1, 0}),
              (std::vector<int>{r.getButton(0), r.getButton(1), r.getButton(2), r.getButton(9), r.getButton(32),
                                r.getButton(33)}));
    // Beyond the counts nothing is read; a hostile count word opens no slot beyond those that exist.
    r.setCounts(2, 8);
    EXPECT_TRUE(r.getValuator(3) == 0.0f && r.getButton(9) == 0);
    r.numValuators = toBE32(1000);
    EXPECT_TRUE(r.getValuator(3) == 2.0f && r.getValuator(33) == 0.0f);
    r.setCounts(0, 16);
    EXPECT_EQ(1, r.getButton(9));
    r.numButtonBytes = 1;
    EXPECT_EQ(0, r.getButton(9));
}

TEST(Records, UpdateMaskBitsAreBigEndian) {
    for (const auto& [id, bits] :
         {std::pair{1u, 0x01u}, {8u, 0x80u}, {9u, 0x0100u}, {17u, 0x010000u}, {32u, 0x80000000u}}) {
        uint32_t mask = 0;
        EXPECT_TRUE(markUpdated(mask, id));
        EXPECT_EQ(bits, test_support::maskBits(mask)) << id;
    }
    uint32_t mask = toBE32(0x00F0000Fu);
    EXPECT_TRUE(markUpdated(mask, 32));
    for (uint32_t id : {0u, 33u, 0xFFFFFFFFu}) EXPECT_FALSE(markUpdated(mask, id)) << id;
    EXPECT_EQ(0x80F0000Fu, records::fromBE32(mask));
}
