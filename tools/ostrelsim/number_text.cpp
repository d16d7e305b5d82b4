#include <charconv>

#include "tools/ostrelsim/modes.h"

namespace ostrelsim {

std::string numberText(double value, int decimals) {
    char digits[64];
    auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    return result.ec == std::errc() ? std::string(digits, result.ptr) : std::string("?");
}

std::string numberText(double value) {
    char digits[64];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    return result.ec == std::errc() ? std::string(digits, result.ptr) : std::string("?");
}

}  // namespace ostrelsim
