#include "tools/ostrelsim/recording_format.h"

#include <cerrno>
#include <cstring>

namespace ostrelsim {

const char kRecordingMagic[8] = {'Z', 'O', 'R', 'E', 'C', 'O', 'R', 'D'};

namespace {

void putLittle(unsigned char* out, uint64_t value, int bytes) noexcept {
    for (int i = 0; i < bytes; ++i) {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

uint64_t getLittle(const unsigned char* in, int bytes) noexcept {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= static_cast<uint64_t>(in[i]) << (8 * i);
    }
    return value;
}

std::string systemReason() { return std::strerror(errno); }

}  // namespace

void encodeHeader(unsigned char out[kRecordingHeaderSize]) noexcept {
    std::memcpy(out, kRecordingMagic, sizeof kRecordingMagic);
    putLittle(out + 8, kRecordingVersion, 4);
    putLittle(out + 12, 0, 4);  // flags, none defined
}

HeaderCheck checkHeader(const unsigned char* data, size_t size) noexcept {
    if (size < kRecordingHeaderSize) {
        // A file cut inside its header still shows whether it is ours.
        bool ours = std::memcmp(data, kRecordingMagic, size < 8 ? size : 8) == 0;
        return ours ? HeaderCheck::TooShort : HeaderCheck::NotARecording;
    }
    if (std::memcmp(data, kRecordingMagic, sizeof kRecordingMagic) != 0) {
        return HeaderCheck::NotARecording;
    }
    return getLittle(data + 8, 4) == kRecordingVersion ? HeaderCheck::Ok : HeaderCheck::UnsupportedVersion;
}

void encodeRecordHead(const RecordHead& head, unsigned char out[kRecordHeadSize]) noexcept {
    putLittle(out, head.arrivalNanos, 8);
    putLittle(out + 8, head.length, 4);
}

RecordHead decodeRecordHead(const unsigned char in[kRecordHeadSize]) noexcept {
    return RecordHead{getLittle(in, 8), static_cast<uint32_t>(getLittle(in + 8, 4))};
}

RecordingWriter::~RecordingWriter() { close(); }

bool RecordingWriter::create(const std::string& path, std::string& error) {
    close();
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        error = "cannot create " + path + ": " + systemReason();
        return false;
    }
    unsigned char header[kRecordingHeaderSize];
    encodeHeader(header);
    if (std::fwrite(header, 1, sizeof header, file_) != sizeof header || std::fflush(file_) != 0) {
        error = "cannot write " + path + ": " + systemReason();
        close();
        return false;
    }
    record_.reserve(kRecordHeadSize + kMaxDatagramLength);
    return true;
}

bool RecordingWriter::append(uint64_t arrivalNanos, const char* data, size_t length) {
    if (file_ == nullptr || length > kMaxDatagramLength) {
        return false;
    }
    // Head and bytes in one write, flushed at once: a kill can cut at most
    // this record, never an earlier one.
    record_.resize(kRecordHeadSize + length);
    encodeRecordHead(RecordHead{arrivalNanos, static_cast<uint32_t>(length)}, record_.data());
    if (length > 0) {
        std::memcpy(record_.data() + kRecordHeadSize, data, length);
    }
    return std::fwrite(record_.data(), 1, record_.size(), file_) == record_.size() && std::fflush(file_) == 0;
}

bool RecordingWriter::close() {
    if (file_ == nullptr) {
        return true;
    }
    bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed;
}

RecordingReader::~RecordingReader() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool RecordingReader::open(const std::string& path, std::string& error) {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
    recordsRead_ = lastArrival_ = tailBytes_ = 0;
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) {
        error = "cannot open " + path + ": " + systemReason();
        return false;
    }
    unsigned char header[kRecordingHeaderSize];
    errno = 0;
    size_t got = std::fread(header, 1, sizeof header, file_);
    if (std::ferror(file_) != 0) {
        error = "cannot read " + path + ": " + systemReason();  // a folder, for one
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    switch (checkHeader(header, got)) {
        case HeaderCheck::Ok: return true;
        case HeaderCheck::TooShort: error = path + " ends inside its header: it holds no datagrams"; break;
        case HeaderCheck::NotARecording: error = path + " is not an ostrelsim recording"; break;
        case HeaderCheck::UnsupportedVersion: error = path + " is a recording of a newer, unknown version"; break;
    }
    std::fclose(file_);
    file_ = nullptr;
    return false;
}

ReadOutcome RecordingReader::next(RecordHead& head, std::vector<char>& bytes) {
    if (file_ == nullptr) {
        return ReadOutcome::End;
    }
    unsigned char raw[kRecordHeadSize];
    size_t got = std::fread(raw, 1, sizeof raw, file_);
    if (got == 0) {
        return ReadOutcome::End;
    }
    if (got < sizeof raw) {
        tailBytes_ = got;
        return ReadOutcome::TornTail;
    }
    head = decodeRecordHead(raw);
    if (head.length > kMaxDatagramLength) {
        return ReadOutcome::Damaged;
    }
    bytes.resize(head.length);
    size_t body = head.length == 0 ? 0 : std::fread(bytes.data(), 1, head.length, file_);
    if (body < head.length) {
        tailBytes_ = sizeof raw + body;
        return ReadOutcome::TornTail;
    }
    // Arrival times come from a clock that never goes back.
    if (head.arrivalNanos < lastArrival_) {
        return ReadOutcome::Damaged;
    }
    lastArrival_ = head.arrivalNanos;
    ++recordsRead_;
    return ReadOutcome::Record;
}

bool RecordingReader::rewind() {
    lastArrival_ = 0;
    tailBytes_ = 0;
    return file_ != nullptr && std::fseek(file_, static_cast<long>(kRecordingHeaderSize), SEEK_SET) == 0;
}

}  // namespace ostrelsim
