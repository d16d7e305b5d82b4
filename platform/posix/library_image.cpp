// ELF, the library format of the systems this folder serves.
#include "platform/library_image.h"

namespace platform {

namespace {

constexpr uint64_t kNone = ~0ull;

// An unsigned field of `width` bytes at `offset`, in the file's byte order.
uint64_t field(const unsigned char* at, size_t offset, size_t width, bool bigEndian) noexcept {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        size_t byte = bigEndian ? i : width - 1 - i;
        value = (value << 8) | at[offset + byte];
    }
    return value;
}

uint64_t endOf(uint64_t offset, uint64_t length) noexcept { return length > kNone - offset ? kNone : offset + length; }

uint64_t larger(uint64_t a, uint64_t b) noexcept { return a > b ? a : b; }

// Where the fields of the file header and of a program header lie.
struct ElfLayout {
    size_t headerSize, word;
    size_t phoff, shoff, phentsize, phnum, shentsize, shnum;
    size_t segmentOffset, segmentFileSize, segmentEntrySize;
};

constexpr ElfLayout kElf32{52, 4, 28, 32, 42, 44, 46, 48, 4, 16, 32};
constexpr ElfLayout kElf64{64, 8, 32, 40, 54, 56, 58, 60, 8, 32, 56};

}  // namespace

LibraryImageCheck checkLibraryImage(const unsigned char* head, size_t headBytes) noexcept {
    if (headBytes < 6 || head[0] != 0x7F || head[1] != 'E' || head[2] != 'L' || head[3] != 'F' ||
        (head[4] != 1 && head[4] != 2) || (head[5] != 1 && head[5] != 2)) {
        return {false, 0};
    }
    const ElfLayout& l = head[4] == 1 ? kElf32 : kElf64;
    const bool big = head[5] == 2;
    if (headBytes < l.headerSize) {
        return {true, l.headerSize};
    }
    uint64_t phoff = field(head, l.phoff, l.word, big);
    uint64_t phentsize = field(head, l.phentsize, 2, big);
    uint64_t phnum = field(head, l.phnum, 2, big);
    uint64_t shoff = field(head, l.shoff, l.word, big);
    uint64_t shnum = field(head, l.shnum, 2, big);
    uint64_t needed = l.headerSize;
    if (phnum != 0) {
        needed = larger(needed, endOf(phoff, phnum * phentsize));
    }
    if (shoff != 0) {
        needed = larger(needed, endOf(shoff, shnum * field(head, l.shentsize, 2, big)));
    }
    // Every segment's bytes in the file: the loader maps them all.
    for (uint64_t i = 0; phoff < headBytes && phentsize >= l.segmentEntrySize && i < phnum; ++i) {
        uint64_t entry = phoff + i * phentsize;
        if (endOf(entry, l.segmentEntrySize) > headBytes) {
            break;  // the rest of the table lies beyond the head
        }
        const unsigned char* segment = head + entry;
        needed = larger(needed, endOf(field(segment, l.segmentOffset, l.word, big),
                                      field(segment, l.segmentFileSize, l.word, big)));
    }
    return {true, needed};
}

}  // namespace platform
