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

}  // namespace

// --- Layouts ----------------------------------------------------------------------

TEST(RecordLayout, TraDataFieldOffsets) {
    EXPECT_EQ(56u, sizeof(TraData));
    EXPECT_EQ(0u, offsetof(TraData, id));
    EXPECT_EQ(4u, offsetof(TraData, reserved0));
    EXPECT_EQ(8u, offsetof(TraData, seconds));
    EXPECT_EQ(12u, offsetof(TraData, microseconds));
    EXPECT_EQ(16u, offsetof(TraData, reserved1));
    EXPECT_EQ(20u, offsetof(TraData, x));
    EXPECT_EQ(24u, offsetof(TraData, y));
    EXPECT_EQ(28u, offsetof(TraData, z));
    EXPECT_EQ(32u, offsetof(TraData, azim));
    EXPECT_EQ(36u, offsetof(TraData, elev));
    EXPECT_EQ(40u, offsetof(TraData, roll));
    EXPECT_EQ(44u, offsetof(TraData, stamp));
}

TEST(RecordLayout, ConDataFieldOffsets) {
    EXPECT_EQ(184u, sizeof(ConData));
    EXPECT_EQ(0u, offsetof(ConData, id));
    EXPECT_EQ(4u, offsetof(ConData, reserved0));
    EXPECT_EQ(8u, offsetof(ConData, seconds));
    EXPECT_EQ(12u, offsetof(ConData, microseconds));
    EXPECT_EQ(16u, offsetof(ConData, reserved1));
    EXPECT_EQ(20u, offsetof(ConData, numValuators));
    EXPECT_EQ(24u, offsetof(ConData, numButtons));
    EXPECT_EQ(28u, offsetof(ConData, valuatorOffset));
    EXPECT_EQ(32u, offsetof(ConData, buttonOffset));
    EXPECT_EQ(36u, offsetof(ConData, valuators));
    EXPECT_EQ(164u, offsetof(ConData, buttonBits));
    EXPECT_EQ(168u, offsetof(ConData, numButtonBytes));
    EXPECT_EQ(172u, offsetof(ConData, stamp));
}

TEST(RecordLayout, TimeStampBlockOffsets) {
    EXPECT_EQ(0u, offsetof(TimeStampBlock, seconds));
    EXPECT_EQ(4u, offsetof(TimeStampBlock, milliseconds));
    EXPECT_EQ(6u, offsetof(TimeStampBlock, minutesWest));
    EXPECT_EQ(8u, offsetof(TimeStampBlock, daylightSaving));
    EXPECT_EQ(10u, offsetof(TimeStampBlock, padding));
}

// --- Encodings --------------------------------------------------------------------

TEST(Encoding, Be32IsMostSignificantByteFirst) {
    EXPECT_EQ((Bytes4{0x12, 0x34, 0x56, 0x78}), bytesOf(records::toBE32(0x12345678u)));
    EXPECT_EQ(0x12345678u, records::fromBE32(records::toBE32(0x12345678u)));
}

TEST(Encoding, Fix5StoresTruncatedProduct) {
    EXPECT_EQ((Bytes4{0x00, 0x02, 0x49, 0xF0}), bytesOf(records::encodeFix5(1.5f)));
    EXPECT_EQ((Bytes4{0xFF, 0xFD, 0xB6, 0x10}), bytesOf(records::encodeFix5(-1.5f)));
    // Toward zero on both sides.
    EXPECT_EQ(0u, records::encodeFix5(-0.0000099f));
    EXPECT_EQ(0u, records::encodeFix5(0.0000099f));
    EXPECT_EQ(be(1), bytesOf(records::encodeFix5(0.0000199)));
    EXPECT_EQ(be(static_cast<uint32_t>(-1)), bytesOf(records::encodeFix5(-0.0000199)));
    EXPECT_FLOAT_EQ(1.5f, records::decodeFix5(storedWord(150000)));
    EXPECT_FLOAT_EQ(-1.5f, records::decodeFix5(storedWord(static_cast<uint32_t>(-150000))));
}

TEST(Encoding, Fix3StoresTruncatedProduct) {
    EXPECT_EQ(be(1), bytesOf(records::encodeFix3(0.0015f)));
    EXPECT_FLOAT_EQ(0.001f, records::decodeFix3(storedWord(1)));
    EXPECT_EQ(be(static_cast<uint32_t>(-2500)), bytesOf(records::encodeFix3(-2.5f)));
    EXPECT_FLOAT_EQ(2147483.647f, records::decodeFix3(storedWord(0x7FFFFFFFu)));
}

TEST(Encoding, ValuesBeyondTheRangeKeepTheLowWord) {
    // 30000 feet: 3 000 000 000 = 0xB2D05E00, read back as a negative word.
    EXPECT_EQ(be(0xB2D05E00u), bytesOf(records::encodeFix5(30000.0)));
    EXPECT_FLOAT_EQ(-12949.67296f, records::decodeFix5(storedWord(0xB2D05E00u)));
    EXPECT_EQ(be(0x80000000u), bytesOf(records::encodeFix5(21474.83648)));
    // 9e18 still fits 64 bits: its low 32 bits are stored.
    EXPECT_EQ(be(static_cast<uint32_t>(9000000000000000000ull)), bytesOf(records::encodeFix5(9.0e13)));
    EXPECT_EQ(be(static_cast<uint32_t>(-9000000000000000000ll)), bytesOf(records::encodeFix5(-9.0e13)));
}

TEST(Encoding, ProductsBeyondSixtyFourBitsStoreZero) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(0u, records::encodeFix5(std::nan("")));
    EXPECT_EQ(0u, records::encodeFix5(inf));
    EXPECT_EQ(0u, records::encodeFix5(-inf));
    EXPECT_EQ(0u, records::encodeFix5(1.0e14));   // 1e19 > 2^63
    EXPECT_EQ(0u, records::encodeFix5(-1.0e14));
    EXPECT_EQ(0u, records::encodeFix5(std::numeric_limits<float>::max()));
    EXPECT_EQ(0u, records::encodeFix3(std::nan("")));
    EXPECT_EQ(0u, records::encodeFix3(inf));
    EXPECT_EQ(0u, records::encodeFix3(1.0e17));
}

// --- TraData ------------------------------------------------------------------------

TEST(TraData, SetIdOnlyInRange) {
    TraData rec{};
    EXPECT_FALSE(rec.setId(0));
    EXPECT_FALSE(rec.setId(33));
    EXPECT_EQ(0u, rec.id);
    EXPECT_TRUE(rec.setId(32));
    EXPECT_EQ((Bytes4{0, 0, 0, 32}), bytesAt(&rec, 0));
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
    EXPECT_EQ((Bytes4{0x00, 0x02, 0x49, 0xF0}), bytesAt(&rec, 20));
    EXPECT_EQ((Bytes4{0xFF, 0xFD, 0xB6, 0x10}), bytesAt(&rec, 24));
    EXPECT_EQ(be(200000), bytesOf(rec.z));
    EXPECT_EQ(be(9000000), bytesOf(rec.azim));
    EXPECT_EQ(be(static_cast<uint32_t>(-4500000)), bytesOf(rec.elev));
    EXPECT_EQ(be(18000000), bytesOf(rec.roll));
    EXPECT_FLOAT_EQ(1.5f, rec.getX());
    EXPECT_FLOAT_EQ(-1.5f, rec.getY());
    EXPECT_FLOAT_EQ(2.0f, rec.getZ());
    EXPECT_FLOAT_EQ(90.0f, rec.getAzim());
    EXPECT_FLOAT_EQ(-45.0f, rec.getElev());
    EXPECT_FLOAT_EQ(180.0f, rec.getRoll());
    EXPECT_EQ(0u, rec.id);
    EXPECT_EQ(0u, rec.reserved0);
    EXPECT_EQ(0u, rec.reserved1);
}

TEST(TraData, ClockFillsTimeWordsAndStampFromOneReading) {
    TraData rec{};
    platform::ClockReading reading{0x123456789LL, 999, -60, 1};
    rec.setClock(reading);
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

// --- ConData ------------------------------------------------------------------------

TEST(ConData, ClearPreparesALocalRecord) {
    ConData rec;
    std::memset(&rec, 0xAB, sizeof rec);
    rec.clear();
    for (size_t offset = 0; offset <= 24; offset += 4) {
        EXPECT_EQ((Bytes4{0, 0, 0, 0}), bytesAt(&rec, offset)) << "offset " << offset;
    }
    for (size_t offset = 36; offset < 168; offset += 4) {
        EXPECT_EQ((Bytes4{0, 0, 0, 0}), bytesAt(&rec, offset)) << "offset " << offset;
    }
    uint32_t four = 4;
    EXPECT_EQ(bytesOf(four), bytesAt(&rec, 168));  // host byte order
    // The offset words and the stamp are the writer's.
    EXPECT_EQ((Bytes4{0xAB, 0xAB, 0xAB, 0xAB}), bytesAt(&rec, 28));
    EXPECT_EQ((Bytes4{0xAB, 0xAB, 0xAB, 0xAB}), bytesAt(&rec, 172));
}

TEST(ConData, CountsAndOffsets) {
    ConData rec;
    rec.clear();
    rec.setCounts(8, 16);
    EXPECT_EQ(be(8), bytesOf(rec.numValuators));
    EXPECT_EQ(be(16), bytesOf(rec.numButtons));
    EXPECT_EQ((Bytes4{0, 0, 0, 36}), bytesAt(&rec, 28));
    EXPECT_EQ(be(36 + 32), bytesOf(rec.buttonOffset));
    rec.setCounts(33, 40);
    EXPECT_EQ(0u, rec.numValuators);
    EXPECT_EQ(0u, rec.numButtons);
    EXPECT_EQ(be(36), bytesOf(rec.buttonOffset));
}

TEST(ConData, ValuatorsAtTheirOffsets) {
    ConData rec;
    rec.clear();
    rec.setCounts(32, 0);
    EXPECT_TRUE(rec.setValuator(1, 0.0015f));
    EXPECT_TRUE(rec.setValuator(32, -1.0f));
    EXPECT_FALSE(rec.setValuator(0, 1.0f));
    EXPECT_FALSE(rec.setValuator(33, 1.0f));
    EXPECT_EQ(be(1), bytesOf(rec.valuators[0]));
    EXPECT_EQ((Bytes4{0, 0, 0, 1}), bytesAt(&rec, 32 + 4 * 1));
    EXPECT_EQ(be(static_cast<uint32_t>(-1000)), bytesOf(rec.valuators[31]));
    EXPECT_EQ((Bytes4{0xFF, 0xFF, 0xFC, 0x18}), bytesAt(&rec, 32 + 4 * 32));
    EXPECT_FLOAT_EQ(0.001f, rec.getValuator(1));
    EXPECT_FLOAT_EQ(-1.0f, rec.getValuator(32));
    EXPECT_EQ(0.0f, rec.getValuator(0));
}

TEST(ConData, GetValuatorBeyondTheCountOrTheSlotsIsZero) {
    ConData rec;
    rec.clear();
    rec.setValuator(3, 2.0f);
    rec.setCounts(2, 0);
    EXPECT_EQ(0.0f, rec.getValuator(3));
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
    EXPECT_TRUE(rec.setButton(1, true));
    EXPECT_TRUE(rec.setButton(9, true));
    EXPECT_TRUE(rec.setButton(32, true));
    EXPECT_FALSE(rec.setButton(0, true));
    EXPECT_FALSE(rec.setButton(33, true));
    EXPECT_EQ(0x01, rec.buttonBits[0]);
    EXPECT_EQ(0x01, rec.buttonBits[1]);
    EXPECT_EQ(0x00, rec.buttonBits[2]);
    EXPECT_EQ(0x80, rec.buttonBits[3]);
    EXPECT_EQ(1, rec.getButton(1));
    EXPECT_EQ(0, rec.getButton(2));
    EXPECT_EQ(1, rec.getButton(9));
    EXPECT_EQ(1, rec.getButton(32));
    EXPECT_EQ(0, rec.getButton(0));
    EXPECT_EQ(0, rec.getButton(33));
    rec.setButton(9, false);
    EXPECT_EQ(0, rec.getButton(9));
    EXPECT_EQ(0x00, rec.buttonBits[1]);
}

TEST(ConData, GetButtonHonoursTheCounts) {
    ConData rec;
    rec.clear();
    rec.setButton(9, true);
    rec.setCounts(0, 8);
    EXPECT_EQ(0, rec.getButton(9));  // beyond the number of buttons
    rec.setCounts(0, 16);
    EXPECT_EQ(1, rec.getButton(9));
    rec.numButtonBytes = 1;
    EXPECT_EQ(0, rec.getButton(9));  // beyond the number of button bytes
}

// --- Update mask --------------------------------------------------------------------

TEST(UpdateMask, MarkUpdatedSetsTheBigEndianBit) {
    uint32_t mask = 0;
    EXPECT_TRUE(markUpdated(mask, 1));
    EXPECT_EQ((Bytes4{0, 0, 0, 0x01}), bytesOf(mask));
    mask = 0;
    EXPECT_TRUE(markUpdated(mask, 9));
    EXPECT_EQ((Bytes4{0, 0, 0x01, 0}), bytesOf(mask));
    mask = 0;
    EXPECT_TRUE(markUpdated(mask, 32));
    EXPECT_EQ((Bytes4{0x80, 0, 0, 0}), bytesOf(mask));
    EXPECT_TRUE(markUpdated(mask, 8));
    EXPECT_TRUE(markUpdated(mask, 17));
    EXPECT_EQ((Bytes4{0x80, 0x01, 0, 0x80}), bytesOf(mask));
    EXPECT_EQ(0x80010080u, records::fromBE32(mask));
}

TEST(UpdateMask, IdsOutsideTheListChangeNothing) {
    uint32_t mask = storedWord(0x00F0000Fu);
    EXPECT_FALSE(markUpdated(mask, 0));
    EXPECT_FALSE(markUpdated(mask, 33));
    EXPECT_FALSE(markUpdated(mask, 0xFFFFFFFFu));
    EXPECT_EQ(0x00F0000Fu, records::fromBE32(mask));
}
