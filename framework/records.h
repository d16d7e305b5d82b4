#pragma once
// The shared-memory records TraData (56 bytes) and ConData (184 bytes), their
// number encodings and the update mask. Every byte is read by other
// programs: the layouts below are fixed.
//
// BE32: 32-bit word, most significant byte first.
// FIX5: BE32 of trunc(v * 100000.0) (low 32 bits of the signed 64-bit
//       product); FIX3 the same with 1000.0. A product that does not fit a
//       signed 64-bit integer (NaN, infinities, huge values) stores 0.
#include <cstddef>
#include <cstdint>

#include "platform/clock.h"

namespace records {

uint32_t toBE32(uint32_t hostValue) noexcept;
uint32_t fromBE32(uint32_t storedValue) noexcept;

uint32_t encodeFix5(double value) noexcept;  // returns the stored (BE) word
uint32_t encodeFix3(double value) noexcept;
float decodeFix5(uint32_t storedWord) noexcept;
float decodeFix3(uint32_t storedWord) noexcept;

}  // namespace records

// Last 12 bytes of both records, host byte order, from one clock reading.
struct TimeStampBlock {
    int32_t seconds;
    uint16_t milliseconds;
    int16_t minutesWest;
    int16_t daylightSaving;
    uint16_t padding;
};
static_assert(sizeof(TimeStampBlock) == 12 && offsetof(TimeStampBlock, milliseconds) == 4 &&
                  offsetof(TimeStampBlock, minutesWest) == 6 && offsetof(TimeStampBlock, daylightSaving) == 8,
              "time-stamp block: seconds, milliseconds, minutes west, daylight saving, padding; 12 bytes");

struct TraData {
    static constexpr uint32_t kMaxId = 32;

    uint32_t id;                // BE32, 1 to 32; 0 = no valid id
    uint32_t reserved0;         // 0
    uint32_t seconds;           // BE32
    uint32_t microseconds;      // BE32, milliseconds * 1000
    uint32_t reserved1;         // 0
    uint32_t x, y, z;           // FIX5, host length unit
    uint32_t azim, elev, roll;  // FIX5, degrees
    TimeStampBlock stamp;

    bool setId(uint32_t newId) noexcept;  // false (unchanged) outside 1..32
    bool setTime(uint32_t sec, uint32_t usec) noexcept;
    // The BE32 time words and the stamp block from one reading.
    void setClock(const platform::ClockReading& reading) noexcept;
    bool setX(float v) noexcept;
    bool setY(float v) noexcept;
    bool setZ(float v) noexcept;
    bool setAzim(float v) noexcept;
    bool setElev(float v) noexcept;
    bool setRoll(float v) noexcept;
    float getX() const noexcept;
    float getY() const noexcept;
    float getZ() const noexcept;
    float getAzim() const noexcept;
    float getElev() const noexcept;
    float getRoll() const noexcept;
};
static_assert(sizeof(TraData) == 56 && offsetof(TraData, seconds) == 8 && offsetof(TraData, microseconds) == 12 &&
                  offsetof(TraData, x) == 20 && offsetof(TraData, y) == 24 && offsetof(TraData, z) == 28 &&
                  offsetof(TraData, azim) == 32 && offsetof(TraData, elev) == 36 && offsetof(TraData, roll) == 40 &&
                  offsetof(TraData, stamp) == 44,
              "TraData: the readers' 56-byte layout");

struct ConData {
    static constexpr uint32_t kMaxId = 32;
    static constexpr uint32_t kMaxValuators = 32;
    static constexpr uint32_t kMaxButtons = 32;
    static constexpr uint32_t kValuatorOffset = 36;

    uint32_t id;  // BE32
    uint32_t reserved0;
    uint32_t seconds;       // BE32
    uint32_t microseconds;  // BE32
    uint32_t reserved1;
    uint32_t numValuators;              // BE32, 0 to 32
    uint32_t numButtons;                // BE32, 0 to 32
    uint32_t valuatorOffset;            // BE32, always 36
    uint32_t buttonOffset;              // BE32, 36 + 4 * numValuators
    uint32_t valuators[kMaxValuators];  // FIX3; valuator k at offset 32 + 4k
    uint8_t buttonBits[4];              // button b: bit (b-1)%8 of byte (b-1)/8
    uint32_t numButtonBytes;            // host byte order, always 4
    TimeStampBlock stamp;

    void clear() noexcept;
    bool setId(uint32_t newId) noexcept;
    bool setTime(uint32_t sec, uint32_t usec) noexcept;
    void setClock(const platform::ClockReading& reading) noexcept;
    // Sets the counts and the two offset words that follow from them.
    void setCounts(uint32_t valuatorCount, uint32_t buttonCount) noexcept;
    bool setValuator(uint32_t k, float v) noexcept;     // k in 1..32
    bool setButton(uint32_t b, bool pressed) noexcept;  // b in 1..32
    float getValuator(uint32_t k) const noexcept;
    int getButton(uint32_t b) const noexcept;
};
static_assert(sizeof(ConData) == 184 && offsetof(ConData, seconds) == 8 && offsetof(ConData, numValuators) == 20 &&
                  offsetof(ConData, numButtons) == 24 && offsetof(ConData, valuatorOffset) == 28 &&
                  offsetof(ConData, buttonOffset) == 32 && offsetof(ConData, valuators) == ConData::kValuatorOffset &&
                  offsetof(ConData, buttonBits) == 164 && offsetof(ConData, numButtonBytes) == 168 &&
                  offsetof(ConData, stamp) == 172,
              "ConData: the readers' 184-byte layout");

// Sets bit (id - 1) of a big-endian mask word; false (unchanged) outside 1..32.
bool markUpdated(uint32_t& mask, uint32_t id) noexcept;
