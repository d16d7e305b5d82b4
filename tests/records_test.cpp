#include "framework/records.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

namespace {

using Bytes4 = std::array<unsigned char, 4>;

Bytes4 bytesAt(const void* record, size_t offset) {
    Bytes4 out{};
    std::memcpy(out.data(), static_cast<const unsigned char*>(record) + offset, 4);
    return out;
}

Bytes4 bytesOf(uint32_t stored) { return bytesAt(&stored, 0); }

Bytes4 be(uint32_t value) {
    return {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
            static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
}

// The word whose bytes in memory are be(value), built without the code under test.
uint32_t storedWord(uint32_t value) {
    Bytes4 bytes = be(value);
    uint32_t word;
    std::memcpy(&word, bytes.data(), 4);
    return word;
}

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

}  // namespace

TEST(RecordLayout, FieldOffsetsAndSizes) {
    struct Field {
        const char* name;
        size_t actual, expected;
    };
#define AT(type, field, offset) Field{#type "." #field, offsetof(type, field), offset}
    const Field fields[] = {
        {"TraData", sizeof(TraData), 56}, AT(TraData, id, 0), AT(TraData, reserved0, 4), AT(TraData, seconds, 8),
        AT(TraData, microseconds, 12), AT(TraData, reserved1, 16), AT(TraData, x, 20), AT(TraData, y, 24),
        AT(TraData, z, 28), AT(TraData, azim, 32), AT(TraData, elev, 36), AT(TraData, roll, 40),
        AT(TraData, stamp, 44),
        {"ConData", sizeof(ConData), 184}, AT(ConData, id, 0), AT(ConData, reserved0, 4), AT(ConData, seconds, 8),
        AT(ConData, microseconds, 12), AT(ConData, reserved1, 16), AT(ConData, numValuators, 20),
        AT(ConData, numButtons, 24), AT(ConData, valuatorOffset, 28), AT(ConData, buttonOffset, 32),
        AT(ConData, valuators, 36), AT(ConData, buttonBits, 164), AT(ConData, numButtonBytes, 168),
        AT(ConData, stamp, 172),
        AT(TimeStampBlock, seconds, 0), AT(TimeStampBlock, milliseconds, 4), AT(TimeStampBlock, minutesWest, 6),
        AT(TimeStampBlock, daylightSaving, 8), AT(TimeStampBlock, padding, 10),
    };
#undef AT
    for (const Field& f : fields) EXPECT_EQ(f.expected, f.actual) << f.name;
}

TEST(Encoding, Be32IsMostSignificantByteFirst) {
    EXPECT_EQ((Bytes4{0x12, 0x34, 0x56, 0x78}), bytesOf(records::toBE32(0x12345678u)));
    EXPECT_EQ(0x12345678u, records::fromBE32(records::toBE32(0x12345678u)));
}

// trunc(v * scale) toward zero, low 32 bits kept beyond the range, 0 when
// the product does not fit 64 bits.
TEST(Encoding, FixedPointWords) {
    struct Case {
        double value;
        bool fix5;
        uint32_t word;
    };
    const Case cases[] = {
        {1.5f, true, 150000}, {-1.5f, true, static_cast<uint32_t>(-150000)},
        {-0.0000099f, true, 0}, {0.0000099f, true, 0},  // toward zero on both sides
        {0.0000199, true, 1}, {-0.0000199, true, static_cast<uint32_t>(-1)},
        {30000.0, true, 0xB2D05E00u}, {21474.83648, true, 0x80000000u},  // beyond the range: the low word
        {9.0e13, true, static_cast<uint32_t>(9000000000000000000ull)},   // 9e18 still fits 64 bits
        {-9.0e13, true, static_cast<uint32_t>(-9000000000000000000ll)},
        {kNaN, true, 0}, {kInf, true, 0}, {-kInf, true, 0}, {1.0e14, true, 0}, {-1.0e14, true, 0},
        {std::numeric_limits<float>::max(), true, 0},
        {0.0015f, false, 1}, {-2.5f, false, static_cast<uint32_t>(-2500)},
        {kNaN, false, 0}, {kInf, false, 0}, {1.0e17, false, 0},
    };
    for (const Case& c : cases) {
        const uint32_t stored = c.fix5 ? records::encodeFix5(c.value) : records::encodeFix3(c.value);
        EXPECT_EQ(be(c.word), bytesOf(stored)) << c.value << (c.fix5 ? " FIX5" : " FIX3");
    }
    EXPECT_FLOAT_EQ(1.5f, records::decodeFix5(storedWord(150000)));
    EXPECT_FLOAT_EQ(-1.5f, records::decodeFix5(storedWord(static_cast<uint32_t>(-150000))));
    EXPECT_FLOAT_EQ(-12949.67296f, records::decodeFix5(storedWord(0xB2D05E00u)));  // a wrapped 30000
    EXPECT_FLOAT_EQ(0.001f, records::decodeFix3(storedWord(1)));
    EXPECT_FLOAT_EQ(2147483.647f, records::decodeFix3(storedWord(0x7FFFFFFFu)));
}

TEST(TraData, SetIdOnlyInRange) {
    TraData rec{};
    EXPECT_FALSE(rec.setId(0));
    EXPECT_FALSE(rec.setId(33));
    EXPECT_EQ(0u, rec.id);
    EXPECT_TRUE(rec.setId(32));
    EXPECT_FALSE(rec.setId(40));
    EXPECT_EQ((Bytes4{0, 0, 0, 32}), bytesAt(&rec, 0));
}

TEST(TraData, PoseSettersWriteTheirOwnFields) {
    TraData rec{};
    rec.setX(1.5f);
    rec.setY(-1.5f);
    rec.setZ(2.0f);
    rec.setAzim(90.0f);
    rec.setElev(-45.0f);
    rec.setRoll(180.0f);
    const float values[6] = {1.5f, -1.5f, 2.0f, 90.0f, -45.0f, 180.0f};
    const int32_t words[6] = {150000, -150000, 200000, 9000000, -4500000, 18000000};
    const float decoded[6] = {rec.getX(), rec.getY(), rec.getZ(), rec.getAzim(), rec.getElev(), rec.getRoll()};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(be(static_cast<uint32_t>(words[i])), bytesAt(&rec, 20 + 4 * i)) << i;
        EXPECT_FLOAT_EQ(values[i], decoded[i]) << i;
    }
    EXPECT_EQ((Bytes4{0x00, 0x02, 0x49, 0xF0}), bytesAt(&rec, 20));
    EXPECT_EQ(0u, rec.id | rec.reserved0 | rec.reserved1);
}

TEST(TraData, ClockFillsTimeWordsAndStampFromOneReading) {
    TraData rec{};
    rec.setClock(platform::ClockReading{0x123456789LL, 999, -60, 1});
    EXPECT_EQ((Bytes4{0x23, 0x45, 0x67, 0x89}), bytesAt(&rec, 8));  // low 32 bits
    EXPECT_EQ(be(999000), bytesOf(rec.microseconds));
    EXPECT_EQ(0x23456789, rec.stamp.seconds);
    EXPECT_EQ(999, rec.stamp.milliseconds);
    EXPECT_EQ(-60, rec.stamp.minutesWest);
    EXPECT_EQ(1, rec.stamp.daylightSaving);

    rec.setClock(platform::ClockReading{0x80000000LL, 0, 0, 0});
    EXPECT_EQ(std::numeric_limits<int32_t>::min(), rec.stamp.seconds);

    EXPECT_TRUE(rec.setTime(7, 8000));
    EXPECT_EQ((Bytes4{0, 0, 0, 7}), bytesAt(&rec, 8));
    EXPECT_EQ((Bytes4{0, 0, 0x1F, 0x40}), bytesAt(&rec, 12));
}

TEST(ConData, ClearPreparesALocalRecord) {
    ConData rec;
    std::memset(&rec, 0xAB, sizeof rec);
    rec.clear();
    for (size_t offset = 0; offset < 168; offset += 4) {
        if (offset == 28) offset = 36;  // the two offset words are the writer's
        EXPECT_EQ((Bytes4{0, 0, 0, 0}), bytesAt(&rec, offset)) << "offset " << offset;
    }
    EXPECT_EQ((Bytes4{0xAB, 0xAB, 0xAB, 0xAB}), bytesAt(&rec, 28));
    EXPECT_EQ((Bytes4{0xAB, 0xAB, 0xAB, 0xAB}), bytesAt(&rec, 172));  // and so is the stamp
    uint32_t four = 4;
    EXPECT_EQ(bytesOf(four), bytesAt(&rec, 168));  // host byte order
}

TEST(ConData, CountsOffsetsAndValuators) {
    ConData rec;
    rec.clear();
    rec.setCounts(8, 16);
    EXPECT_EQ(be(8), bytesAt(&rec, 20));
    EXPECT_EQ(be(16), bytesAt(&rec, 24));
    EXPECT_EQ(be(36), bytesAt(&rec, 28));
    EXPECT_EQ(be(36 + 32), bytesAt(&rec, 32));
    rec.setCounts(33, 40);  // beyond 32: the count stays 0
    EXPECT_EQ(0u, rec.numValuators | rec.numButtons);
    EXPECT_EQ(be(36), bytesAt(&rec, 32));

    rec.setCounts(32, 0);
    EXPECT_TRUE(rec.setValuator(1, 0.0015f));
    EXPECT_TRUE(rec.setValuator(32, -1.0f));
    EXPECT_FALSE(rec.setValuator(0, 1.0f));
    EXPECT_FALSE(rec.setValuator(33, 1.0f));
    EXPECT_EQ((Bytes4{0, 0, 0, 1}), bytesAt(&rec, 32 + 4 * 1));
    EXPECT_EQ((Bytes4{0xFF, 0xFF, 0xFC, 0x18}), bytesAt(&rec, 32 + 4 * 32));
    EXPECT_FLOAT_EQ(0.001f, rec.getValuator(1));
    EXPECT_FLOAT_EQ(-1.0f, rec.getValuator(32));
    EXPECT_EQ(0.0f, rec.getValuator(0));

    rec.setValuator(3, 2.0f);
    rec.setCounts(2, 0);
    EXPECT_EQ(0.0f, rec.getValuator(3));  // beyond the number of valuators
    // A hostile count word in shared memory must not open slots that do not exist.
    rec.numValuators = storedWord(1000);
    EXPECT_FLOAT_EQ(2.0f, rec.getValuator(3));
    EXPECT_EQ(0.0f, rec.getValuator(33));
    EXPECT_EQ(0.0f, rec.getValuator(999));
}

TEST(ConData, ButtonBitsAndGetButton) {
    ConData rec;
    rec.clear();
    rec.setCounts(0, 32);
    for (uint32_t b : {1u, 9u, 32u}) EXPECT_TRUE(rec.setButton(b, true)) << b;
    EXPECT_FALSE(rec.setButton(0, true));
    EXPECT_FALSE(rec.setButton(33, true));
    EXPECT_EQ((Bytes4{0x01, 0x01, 0x00, 0x80}), bytesAt(&rec, 164));
    for (uint32_t b : {1u, 9u, 32u}) EXPECT_EQ(1, rec.getButton(b)) << b;
    for (uint32_t b : {0u, 2u, 33u}) EXPECT_EQ(0, rec.getButton(b)) << b;
    rec.setButton(9, false);
    EXPECT_EQ(0, rec.getButton(9));
    EXPECT_EQ(0x00, rec.buttonBits[1]);

    rec.setButton(9, true);
    rec.setCounts(0, 8);
    EXPECT_EQ(0, rec.getButton(9));  // beyond the number of buttons
    rec.setCounts(0, 16);
    EXPECT_EQ(1, rec.getButton(9));
    rec.numButtonBytes = 1;
    EXPECT_EQ(0, rec.getButton(9));  // beyond the number of button bytes
}

TEST(UpdateMask, MarkUpdatedSetsTheBigEndianBit) {
    const struct {
        uint32_t id;
        Bytes4 bytes;
    } cases[] = {{1, {0, 0, 0, 0x01}}, {8, {0, 0, 0, 0x80}}, {9, {0, 0, 0x01, 0}}, {17, {0, 0x01, 0, 0}},
                 {32, {0x80, 0, 0, 0}}};
    for (const auto& c : cases) {
        uint32_t mask = 0;
        EXPECT_TRUE(markUpdated(mask, c.id));
        EXPECT_EQ(c.bytes, bytesOf(mask)) << c.id;
    }
    uint32_t mask = storedWord(0x00F0000Fu);
    EXPECT_TRUE(markUpdated(mask, 32));
    EXPECT_EQ(0x80F0000Fu, records::fromBE32(mask));
    for (uint32_t id : {0u, 33u, 0xFFFFFFFFu}) EXPECT_FALSE(markUpdated(mask, id)) << id;
    EXPECT_EQ(0x80F0000Fu, records::fromBE32(mask));  // ids outside the list change nothing
}
