// A library file's headers against its size, on hand-made ELF and PE heads.
#include "platform/library_image.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Program headers of (offset, file size); the section header table at shoff.
std::vector<unsigned char> elfHead(bool is64, bool bigEndian, std::vector<std::pair<uint64_t, uint64_t>> segments,
                                   uint64_t shoff, uint16_t shnum) {
    const size_t header = is64 ? 64 : 52, entry = is64 ? 56 : 32, word = is64 ? 8 : 4;
    std::vector<unsigned char> b(header + entry * segments.size());
    const auto put = [&](size_t at, uint64_t value, size_t width) {
        for (size_t i = 0; i < width; ++i)
            b[at + (bigEndian ? width - 1 - i : i)] = static_cast<unsigned char>(value >> (8 * i));
    };
    b[0] = 0x7F, b[1] = 'E', b[2] = 'L', b[3] = 'F', b[4] = is64 ? 2 : 1, b[5] = bigEndian ? 2 : 1;
    put(is64 ? 32 : 28, header, word);
    put(is64 ? 40 : 32, shoff, word);
    put(is64 ? 54 : 42, entry, 2);
    put(is64 ? 56 : 44, segments.size(), 2);
    put(is64 ? 58 : 46, is64 ? 64 : 40, 2);
    put(is64 ? 60 : 48, shnum, 2);
    for (size_t i = 0; i < segments.size(); ++i) {
        put(header + entry * i + word, segments[i].first, word);
        put(header + entry * i + (is64 ? 32 : 16), segments[i].second, word);
    }
    return b;
}

// The PE signature at 0x80, a 0xF0-byte optional header, sections of (offset, size).
std::vector<unsigned char> peHead(uint32_t sizeOfHeaders, std::vector<std::pair<uint32_t, uint32_t>> sections) {
    const size_t pe = 0x80, table = pe + 24 + 0xF0;
    std::vector<unsigned char> b(table + 40 * sections.size());
    auto put = [&](size_t at, uint32_t value) {
        for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(value >> (8 * i));
    };
    b[0] = 'M', b[1] = 'Z', b[pe] = 'P', b[pe + 1] = 'E';
    put(0x3C, pe), put(pe + 6, static_cast<uint32_t>(sections.size())), put(pe + 20, 0xF0), put(pe + 84, sizeOfHeaders);
    for (size_t i = 0; i < sections.size(); ++i)
        put(table + 40 * i + 20, sections[i].first), put(table + 40 * i + 16, sections[i].second);
    return b;
}

std::vector<unsigned char> with(std::vector<unsigned char> head, size_t at, unsigned char value) {
    head[at] = value;
    return head;
}

}  // namespace

TEST(LibraryImage, NeedsTheEndOfEverySegmentAndHeaderTable) {
    const struct {
        std::vector<unsigned char> head;
        bool recognised;
        uint64_t needed;
    } cases[] = {
        {elfHead(true, false, {{0, 4000}, {8192, 500}}, 0, 0), true, 8692},
        {elfHead(true, false, {{0, 4000}}, 20000, 30), true, 20000 + 30 * 64},
        {elfHead(false, false, {{0, 100}, {4096, 1000}}, 0, 0), true, 5096},
        {elfHead(false, true, {{0, 100}, {4096, 1000}}, 0, 0), true, 5096},
        {elfHead(true, false, {{~0ull - 5, 100}}, 0, 0), true, ~0ull},                // no wrap-around
        {with(elfHead(true, false, {{0, 100}}, 0, 0), 33, 0x10), true, 0x1040 + 56},  // program headers beyond the head
        {{0x7F, 'E', 'L', 'F', 2, 1, 0}, true, 64},                                   // cut inside the file header
        {{0x7F, 'E', 'L', 'F', 3, 1, 0, 0}, false, 0},
        {{0x7F, 'E'}, false, 0},
        {peHead(0x400, {{0x400, 0x1000}, {0x1400, 0x200}}), true, 0x1600},
        {peHead(0x400, {{0x400, 0x1000}, {0, 0}}), true, 0x1400},  // a section with no bytes in the file
        {peHead(0x1000, {}), true, 0x1000},
        // One section declared: the bytes after its entry are no section.
        {with(peHead(0x400, {{0x400, 0x100}, {0x2000, 0x1000}}), 0x80 + 6, 1), true, 0x500},
        {{'M', 'Z', 0x90, 0, 3, 0, 0, 0}, true, 64},     // cut inside the DOS header
        {with(peHead(0x400, {}), 0x80, 'X'), false, 0},  // a DOS program
    };
    for (const auto& c : cases) {
        const platform::LibraryImageCheck check = platform::checkLibraryImage(c.head.data(), c.head.size());
        EXPECT_EQ(std::make_pair(c.recognised, c.needed), std::make_pair(check.recognised, check.neededBytes))
            << &c - cases;
    }
    // The PE header at 0x1080, beyond the head: counted with its extent only.
    EXPECT_EQ(0x1080u + 24u, platform::checkLibraryImage(with(peHead(0x400, {}), 0x3D, 0x10).data(), 64).neededBytes);
}
