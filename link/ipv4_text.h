#pragma once
// IPv4 addresses written as dotted quads, as configuration lines give them
// and messages show them. Host byte order; no name look-up.
#include <cstdint>

namespace ipv4text {

// Exactly four decimal numbers from 0 to 255, separated by single dots and
// nothing around them. False for anything else, address then unchanged.
bool readDottedQuad(const char* text, uint32_t& address) noexcept;

struct DottedQuad {
    char text[16];  // "255.255.255.255" and its NUL
};
DottedQuad dottedQuad(uint32_t address) noexcept;

// 224.0.0.0 to 239.255.255.255.
constexpr bool isMulticast(uint32_t address) noexcept { return (address >> 28) == 0xE; }

}  // namespace ipv4text
