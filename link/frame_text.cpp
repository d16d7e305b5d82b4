#include "link/frame_text.h"

#include <algorithm>
#include <cstring>

#include "platform/number_text.h"

namespace frametext {

using platform::DoubleForms;
using platform::IntegerBase;
using platform::scanDouble;
using platform::scanInteger;

const char* readInt(const char* text, const char* end, int32_t& value) noexcept {
    const platform::Scanned<int64_t> read = scanInteger(text, end, IntegerBase::prefixed);
    if (read.end == nullptr) return nullptr;
    value = static_cast<int32_t>(std::clamp<int64_t>(read.value, INT32_MIN, INT32_MAX));
    return read.end;
}

const char* readUInt(const char* text, const char* end, uint32_t& value) noexcept {
    const platform::Scanned<int64_t> read = scanInteger(text, end, IntegerBase::prefixed);
    if (read.end == nullptr) return nullptr;
    if (read.value > int64_t{UINT32_MAX} || read.value < -int64_t{UINT32_MAX}) {
        value = UINT32_MAX;
    } else {
        value = static_cast<uint32_t>(read.value);  // a minus sign negates modulo 2^32
    }
    return read.end;
}

const char* readDouble(const char* text, const char* end, double& value) noexcept {
    const platform::Scanned<double> read = scanDouble(text, end, DoubleForms::any);
    if (read.end != nullptr) value = read.value;
    return read.end;
}

const char* readInt(const char* text, int32_t& value) noexcept { return readInt(text, nullptr, value); }

const char* readUInt(const char* text, uint32_t& value) noexcept { return readUInt(text, nullptr, value); }

const char* readDouble(const char* text, double& value) noexcept { return readDouble(text, nullptr, value); }

// The numbers are read as if the text went on behind the "]": no number
// and no white space holds a "]", so each stops there anyway, and the
// readers need not compare every character with the end.
const char* readGroup(const char* text, const char* types, int32_t* ints, double* doubles) noexcept {
    if (text == nullptr || types == nullptr) return nullptr;
    // A group mostly stands right at the cursor or one blank behind it.
    const char* open = text[0] == '[' ? text : text[0] == ' ' && text[1] == '[' ? text + 1 : std::strchr(text, '[');
    if (open == nullptr) return nullptr;
    const char* close = std::strchr(open + 1, ']');
    if (close == nullptr) return nullptr;
    const char* p = open + 1;
    for (; *types != '\0' && p != nullptr; ++types) {
        if (*types == 'i' && ints != nullptr) {
            p = readInt(p, *ints++);
        } else if (*types == 'd' && doubles != nullptr) {
            p = readDouble(p, *doubles++);
        } else {
            return nullptr;
        }
    }
    return p == nullptr ? nullptr : close + 1;
}

const char* readQuoted(const char* text, std::string_view& quoted) noexcept {
    if (text == nullptr) return nullptr;
    const char* open = std::strchr(text, '"');
    if (open == nullptr) return nullptr;
    const char* close = std::strchr(open + 1, '"');
    if (close == nullptr) return nullptr;
    quoted = std::string_view(open + 1, static_cast<size_t>(close - open - 1));
    return close + 1;
}

const char* nextLine(const char* bufferStart, const char* current, size_t bufferSize) noexcept {
    if (bufferStart == nullptr || current == nullptr || current < bufferStart) return nullptr;
    const char* end = bufferStart + bufferSize;
    const char* p = current;
    while (p < end && *p != '\0' && *p != '\r' && *p != '\n') ++p;
    if (p >= end || *p == '\0') return nullptr;
    while (p < end && (*p == '\r' || *p == '\n')) ++p;
    return p < end && *p != '\0' ? p : nullptr;
}

}  // namespace frametext
