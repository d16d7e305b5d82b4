#pragma once
// The recording file (described for users in docs/recording.md): a 16-byte
// header, then one record per datagram, each a 12-byte head (arrival time,
// length) and the datagram's bytes. All numbers little-endian. Records are
// written whole and flushed one at a time, so a recorder that is killed
// leaves at most one incomplete record at the end, which readers skip.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ostrelsim {

constexpr size_t kRecordingHeaderSize = 16;
constexpr size_t kRecordHeadSize = 12;
constexpr uint32_t kRecordingVersion = 1;
// The largest UDP payload over IPv4; a longer length marks a damaged file.
constexpr uint32_t kMaxDatagramLength = 65507;
extern const char kRecordingMagic[8];  // "ZORECORD"

struct RecordHead {
    uint64_t arrivalNanos;  // since the recorder started listening
    uint32_t length;
};

enum class HeaderCheck { Ok, TooShort, NotARecording, UnsupportedVersion };

void encodeHeader(unsigned char out[kRecordingHeaderSize]) noexcept;
HeaderCheck checkHeader(const unsigned char* data, size_t size) noexcept;
void encodeRecordHead(const RecordHead& head, unsigned char out[kRecordHeadSize]) noexcept;
RecordHead decodeRecordHead(const unsigned char in[kRecordHeadSize]) noexcept;

class RecordingWriter {
public:
    RecordingWriter() = default;
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Creates (or empties) the file and writes the header.
    bool create(const std::string& path, std::string& error);
    // Writes one whole record and flushes it to the system.
    bool append(uint64_t arrivalNanos, const char* data, size_t length);
    bool close();

private:
    std::FILE* file_ = nullptr;
    std::vector<unsigned char> record_;
};

enum class ReadOutcome {
    Record,    // one complete record was read
    End,       // the file ended cleanly after the last record
    TornTail,  // the file ends inside a record (a recorder stopped hard)
    Damaged,   // a record head that cannot be right (impossible length, time going back)
};

class RecordingReader {
public:
    RecordingReader() = default;
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    bool open(const std::string& path, std::string& error);
    // Reads the next record into head and bytes (bytes is reused).
    ReadOutcome next(RecordHead& head, std::vector<char>& bytes);
    // Back to the first record.
    bool rewind();

    uint64_t recordsRead() const noexcept { return recordsRead_; }
    // Bytes of the incomplete record at the end, after TornTail.
    uint64_t tailBytes() const noexcept { return tailBytes_; }

private:
    std::FILE* file_ = nullptr;
    uint64_t recordsRead_ = 0;
    uint64_t lastArrival_ = 0;
    uint64_t tailBytes_ = 0;
};

}  // namespace ostrelsim
