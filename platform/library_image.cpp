#include "platform/library_image.h"

#include <cinttypes>
#include <cstdio>

#include "platform/path.h"
#include "platform/regular_file.h"

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

bool isElf(const unsigned char* head, size_t headBytes) noexcept {
    return headBytes >= 6 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F' &&
           (head[4] == 1 || head[4] == 2) && (head[5] == 1 || head[5] == 2);
}

LibraryImageCheck checkElf(const unsigned char* head, size_t headBytes) noexcept {
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

// PE: the DOS stub's pointer to the "PE\0\0" signature, the file header, the
// optional header (whose SizeOfHeaders sits at the same place in PE32 and
// PE32+), then the section table, each entry naming its bytes in the file.
constexpr size_t kPeFileHeader = 24;   // signature and file header
constexpr size_t kSizeOfHeaders = 60;  // in the optional header
constexpr size_t kSectionEntry = 40;
constexpr size_t kSectionRawSize = 16, kSectionRawOffset = 20;

LibraryImageCheck checkPe(const unsigned char* head, size_t headBytes) noexcept {
    if (headBytes < 64) {
        return {true, 64};
    }
    const uint64_t pe = field(head, 0x3C, 4, false);
    if (endOf(pe, kPeFileHeader) > headBytes) {
        return {true, endOf(pe, kPeFileHeader)};
    }
    if (head[pe] != 'P' || head[pe + 1] != 'E' || head[pe + 2] != 0 || head[pe + 3] != 0) {
        return {false, 0};  // a DOS program, not a library
    }
    const uint64_t sections = field(head, pe + 6, 2, false);
    const uint64_t optional = pe + kPeFileHeader;
    const uint64_t table = optional + field(head, pe + 20, 2, false);
    uint64_t needed = endOf(table, sections * kSectionEntry);
    if (optional + kSizeOfHeaders + 4 <= headBytes) {
        needed = larger(needed, field(head, optional + kSizeOfHeaders, 4, false));
    }
    for (uint64_t i = 0; i < sections && endOf(table + i * kSectionEntry, kSectionEntry) <= headBytes; ++i) {
        const unsigned char* section = head + table + i * kSectionEntry;
        const uint64_t size = field(section, kSectionRawSize, 4, false);
        if (size != 0) {
            needed = larger(needed, endOf(field(section, kSectionRawOffset, 4, false), size));
        }
    }
    return {true, needed};
}

}  // namespace

LibraryImageCheck checkLibraryImage(const unsigned char* head, size_t headBytes) noexcept {
    if (isElf(head, headBytes)) {
        return checkElf(head, headBytes);
    }
    if (headBytes >= 2 && head[0] == 'M' && head[1] == 'Z') {
        return checkPe(head, headBytes);
    }
    return {false, 0};
}

bool refuseUnloadableLibrary(const char* path, char* reason, size_t reasonSize) noexcept {
    if (reason == nullptr || reasonSize == 0) {
        reasonSize = 0;  // judged all the same, with nowhere to say why
    }
    if (path == nullptr || platform::lastPathSeparator(path) == std::string_view::npos) {
        return false;
    }
    unsigned char head[4096];
    size_t got = 0;
    FileStatus status = readFileHead(path, head, sizeof head, got);
    if (status.result == FileResult::NotRegular) {
        std::snprintf(reason, reasonSize, "it is not a regular file");
        return true;
    }
    if (status.result != FileResult::Ok) {
        return false;
    }
    LibraryImageCheck image = checkLibraryImage(head, got);
    if (image.recognised && image.neededBytes > status.size) {
        std::snprintf(reason, reasonSize,
                      "it is cut short: %" PRIu64 " bytes, but its headers need %" PRIu64
                      " (a copy that has not finished?)",
                      status.size, image.neededBytes);
        return true;
    }
    return false;
}

}  // namespace platform
