#include "link/ipv4_text.h"

#include <cstdio>

namespace ipv4text {

bool readDottedQuad(const char* text, uint32_t& address) noexcept {
    if (text == nullptr) return false;
    uint32_t value = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *text++ != '.') return false;
        uint32_t number = 0;
        int digits = 0;
        // Three digits at most: "0300" is no octet, and no octal reading.
        for (; *text >= '0' && *text <= '9' && digits < 3; ++text, ++digits) number = number * 10 + (*text - '0');
        if (digits == 0 || number > 255) return false;
        value = value << 8 | number;
    }
    if (*text != '\0') return false;
    address = value;
    return true;
}

DottedQuad dottedQuad(uint32_t address) noexcept {
    DottedQuad quad{};
    std::snprintf(quad.text, sizeof quad.text, "%u.%u.%u.%u", static_cast<unsigned>(address >> 24),
                  static_cast<unsigned>((address >> 16) & 0xFF), static_cast<unsigned>((address >> 8) & 0xFF),
                  static_cast<unsigned>(address & 0xFF));
    return quad;
}

}  // namespace ipv4text
