#include "framework/records.h"

#include <cstring>

namespace {

constexpr double kFix5Scale = 100000.0;
constexpr double kFix3Scale = 1000.0;
// 2^63: truncated products in [-2^63, 2^63) fit a signed 64-bit integer.
constexpr double kInt64Limit = 9223372036854775808.0;

// trunc(value * scale), low 32 bits. The product is formed in double; one
// that does not fit 64 bits (NaN and infinities too) gives 0, as the x87
// conversion of the original target leaves 0 in the low word.
uint32_t fixedWord(double value, double scale) noexcept {
    double product = value * scale;
    if (!(product >= -kInt64Limit && product < kInt64Limit)) {
        return 0;
    }
    auto truncated = static_cast<int64_t>(product);
    return static_cast<uint32_t>(static_cast<uint64_t>(truncated));
}

// The stored word as a two's-complement 32-bit integer, without relying on
// the narrowing conversion.
int64_t signedWord(uint32_t word) noexcept {
    return word < 0x80000000u ? static_cast<int64_t>(word) : static_cast<int64_t>(word) - 0x100000000LL;
}

float fixedValue(uint32_t storedWord, double scale) noexcept {
    return static_cast<float>(static_cast<double>(signedWord(records::fromBE32(storedWord))) / scale);
}

int32_t wrapToInt32(int64_t value) noexcept {
    return static_cast<int32_t>(signedWord(static_cast<uint32_t>(static_cast<uint64_t>(value))));
}

TimeStampBlock stampOf(const platform::ClockReading& reading) noexcept {
    TimeStampBlock stamp{};
    stamp.seconds = wrapToInt32(reading.seconds);
    stamp.milliseconds = reading.milliseconds;
    stamp.minutesWest = reading.minutesWest;
    stamp.daylightSaving = reading.daylightSaving;
    stamp.padding = 0;
    return stamp;
}

// Both records open with the same id and time words and close with the
// same stamp block: one writer for each serves both.
bool storeId(uint32_t& field, uint32_t id, uint32_t maxId) noexcept {
    if (id < 1 || id > maxId) {
        return false;
    }
    field = records::toBE32(id);
    return true;
}

void storeTime(uint32_t& secondsField, uint32_t& microsecondsField, uint32_t sec, uint32_t usec) noexcept {
    secondsField = records::toBE32(sec);
    microsecondsField = records::toBE32(usec);
}

void storeClock(uint32_t& secondsField, uint32_t& microsecondsField, TimeStampBlock& stamp,
                const platform::ClockReading& reading) noexcept {
    storeTime(secondsField, microsecondsField, static_cast<uint32_t>(static_cast<uint64_t>(reading.seconds)),
              static_cast<uint32_t>(reading.milliseconds) * 1000u);
    stamp = stampOf(reading);
}

bool storeFix5(uint32_t& field, float value) noexcept {
    field = records::encodeFix5(value);
    return true;
}

}  // namespace

namespace records {

// Through bytes, so the result does not depend on the host's byte order.
uint32_t toBE32(uint32_t hostValue) noexcept {
    const unsigned char bytes[4] = {static_cast<unsigned char>(hostValue >> 24),
                                    static_cast<unsigned char>(hostValue >> 16),
                                    static_cast<unsigned char>(hostValue >> 8), static_cast<unsigned char>(hostValue)};
    uint32_t stored;
    std::memcpy(&stored, bytes, sizeof stored);
    return stored;
}

uint32_t fromBE32(uint32_t storedValue) noexcept {
    unsigned char bytes[4];
    std::memcpy(bytes, &storedValue, sizeof bytes);
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
}

uint32_t encodeFix5(double value) noexcept { return toBE32(fixedWord(value, kFix5Scale)); }
uint32_t encodeFix3(double value) noexcept { return toBE32(fixedWord(value, kFix3Scale)); }
float decodeFix5(uint32_t storedWord) noexcept { return fixedValue(storedWord, kFix5Scale); }
float decodeFix3(uint32_t storedWord) noexcept { return fixedValue(storedWord, kFix3Scale); }

}  // namespace records

// --- TraData ------------------------------------------------------------------

bool TraData::setId(uint32_t newId) noexcept { return storeId(id, newId, kMaxId); }

bool TraData::setTime(uint32_t sec, uint32_t usec) noexcept {
    storeTime(seconds, microseconds, sec, usec);
    return true;
}

void TraData::setClock(const platform::ClockReading& reading) noexcept {
    storeClock(seconds, microseconds, stamp, reading);
}

bool TraData::setX(float v) noexcept { return storeFix5(x, v); }
bool TraData::setY(float v) noexcept { return storeFix5(y, v); }
bool TraData::setZ(float v) noexcept { return storeFix5(z, v); }
bool TraData::setAzim(float v) noexcept { return storeFix5(azim, v); }
bool TraData::setElev(float v) noexcept { return storeFix5(elev, v); }
bool TraData::setRoll(float v) noexcept { return storeFix5(roll, v); }
float TraData::getX() const noexcept { return records::decodeFix5(x); }
float TraData::getY() const noexcept { return records::decodeFix5(y); }
float TraData::getZ() const noexcept { return records::decodeFix5(z); }
float TraData::getAzim() const noexcept { return records::decodeFix5(azim); }
float TraData::getElev() const noexcept { return records::decodeFix5(elev); }
float TraData::getRoll() const noexcept { return records::decodeFix5(roll); }

// --- ConData ------------------------------------------------------------------

// The offset words and the time-stamp block are the writer's to set.
void ConData::clear() noexcept {
    id = reserved0 = seconds = microseconds = reserved1 = 0;
    numValuators = numButtons = 0;
    std::memset(valuators, 0, sizeof valuators);
    std::memset(buttonBits, 0, sizeof buttonBits);
    numButtonBytes = sizeof buttonBits;
}

bool ConData::setId(uint32_t newId) noexcept { return storeId(id, newId, kMaxId); }

bool ConData::setTime(uint32_t sec, uint32_t usec) noexcept {
    storeTime(seconds, microseconds, sec, usec);
    return true;
}

void ConData::setClock(const platform::ClockReading& reading) noexcept {
    storeClock(seconds, microseconds, stamp, reading);
}

// A count above 32 leaves that count 0; the button offset follows the
// valuator count that was stored.
void ConData::setCounts(uint32_t valuatorCount, uint32_t buttonCount) noexcept {
    uint32_t valuatorsKept = valuatorCount <= kMaxValuators ? valuatorCount : 0;
    numValuators = records::toBE32(valuatorsKept);
    numButtons = records::toBE32(buttonCount <= kMaxButtons ? buttonCount : 0);
    valuatorOffset = records::toBE32(kValuatorOffset);
    buttonOffset = records::toBE32(kValuatorOffset + 4 * valuatorsKept);
}

bool ConData::setValuator(uint32_t k, float v) noexcept {
    if (k < 1 || k > kMaxValuators) {
        return false;
    }
    valuators[k - 1] = records::encodeFix3(v);
    return true;
}

bool ConData::setButton(uint32_t b, bool pressed) noexcept {
    if (b < 1 || b > kMaxButtons) {
        return false;
    }
    auto bit = static_cast<uint8_t>(1u << ((b - 1) % 8));
    uint8_t& byte = buttonBits[(b - 1) / 8];
    byte = static_cast<uint8_t>(pressed ? (byte | bit) : (byte & ~bit));
    return true;
}

// The counts come from shared memory: a slot beyond the 32 that exist is
// never read, whatever the count word says.
float ConData::getValuator(uint32_t k) const noexcept {
    if (k == 0 || k > records::fromBE32(numValuators) || k > kMaxValuators) {
        return 0.0f;
    }
    return records::decodeFix3(valuators[k - 1]);
}

int ConData::getButton(uint32_t b) const noexcept {
    if (b < 1 || b > kMaxButtons || (b - 1) / 8 >= numButtonBytes || b > records::fromBE32(numButtons)) {
        return 0;
    }
    return (buttonBits[(b - 1) / 8] >> ((b - 1) % 8)) & 1;
}

// --- Update mask ---------------------------------------------------------------

bool markUpdated(uint32_t& mask, uint32_t id) noexcept {
    if (id < 1 || id > 32) {
        return false;
    }
    unsigned char bytes[4];
    std::memcpy(bytes, &mask, sizeof bytes);
    bytes[3 - (id - 1) / 8] = static_cast<unsigned char>(bytes[3 - (id - 1) / 8] | (1u << ((id - 1) % 8)));
    std::memcpy(&mask, bytes, sizeof bytes);
    return true;
}
