#include "link/ostrel_parser.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>

#include "link/frame_text.h"

namespace {

using frametext::readGroup;

// The reset state: every field zero but the id, which is the record's
// index; a body or hand is also "not seen".
template <class Record>
void resetRecord(Record& record, int32_t index) noexcept {
    std::memset(&record, 0, sizeof record);
    record.id = index;
    if constexpr (std::is_same_v<Record, BodyRecord> || std::is_same_v<Record, HandRecord>) record.quality = -1.0;
}

// A tool reference keeps its pose; only id and quality are reset.
void resetRecord(MeasurementRefRecord& record, int32_t index) noexcept {
    record.id = index;
    record.quality = -1.0;
}

// The line begins with the tag (which holds no NUL, so the comparison
// stops at the line's end).
bool startsWith(const char* line, const char* tag, size_t length) noexcept {
    for (size_t i = 0; i < length; ++i) {
        if (line[i] != tag[i]) return false;
    }
    return true;
}

template <class Table>
void markWritten(Table& table, int32_t index) noexcept {
    table.dirtyEnd = std::max(table.dirtyEnd, index + 1);
}

// Each reader moves the cursor only past what it read.
template <class T>
bool readNumber(const char*& cursor, const char* (*reader)(const char*, T&) noexcept, T& value) noexcept {
    const char* behind = reader(cursor, value);
    if (behind == nullptr) return false;
    cursor = behind;
    return true;
}

bool readCount(const char*& cursor, int32_t& value) noexcept { return readNumber(cursor, frametext::readInt, value); }

bool readItems(const char*& cursor, const char* types, int32_t* ints, double* doubles) noexcept {
    const char* behind = readGroup(cursor, types, ints, doubles);
    if (behind == nullptr) return false;
    cursor = behind;
    return true;
}

bool readPose(const char*& cursor, double* loc, double* rot) noexcept {
    return readItems(cursor, "ddd", nullptr, loc) && readItems(cursor, "ddddddddd", nullptr, rot);
}

int32_t bit(int32_t word, int position) noexcept {
    return static_cast<int32_t>((static_cast<uint32_t>(word) >> position) & 1u);
}

// The group that ends a "6df2" or "6dmt2" entry: one button word per
// started block of 32 buttons, then the joystick values. Buttons at and
// above buttonCount keep their values.
bool readButtonGroup(const char*& cursor, int32_t buttonCount, int32_t* buttons, int32_t joystickCount,
                     double* joystick) noexcept {
    static_assert(kMaxRecordButtons <= 32, "one button word holds every button");
    char types[2 + kMaxRecordJoystick];
    char* letter = types;
    if (buttonCount > 0) *letter++ = 'i';
    for (int32_t value = 0; value < joystickCount; ++value) *letter++ = 'd';
    *letter = '\0';
    int32_t word = 0;
    if (!readItems(cursor, types, &word, joystick)) return false;
    for (int32_t b = 0; b < buttonCount; ++b) buttons[b] = bit(word, b);
    return true;
}

// The button word of a "6df" entry: buttons 0 to 7, and bits 4 to 7 are the
// joystick's four directions as well. Buttons 8 to 15 keep their values.
void applyButtonWord(GripwandRecord& record, int32_t word) noexcept {
    record.buttonCount = 8;
    for (int b = 0; b < 8; ++b) record.buttons[b] = bit(word, b);
    record.joystickCount = 2;
    record.joystick[0] = bit(word, 5) ? -1.0 : bit(word, 7) ? 1.0 : 0.0;
    record.joystick[1] = bit(word, 4) ? -1.0 : bit(word, 6) ? 1.0 : 0.0;
}

// The button word of a "6dmt" entry: buttons 0 to 3; this form has no
// more buttons and no tip.
void applyButtonWord(MeasurementToolRecord& record, int32_t word) noexcept {
    record.buttonCount = 4;
    for (int b = 0; b < kMaxRecordButtons; ++b) record.buttons[b] = b < 4 ? bit(word, b) : 0;
    record.tipRadius = 0.0;
}

// Behind the pose: a "6dmt" entry carries no covariance.
void finishButtonWordEntry(GripwandRecord&) noexcept {}
void finishButtonWordEntry(MeasurementToolRecord& record) noexcept {
    std::fill(std::begin(record.covariance), std::end(record.covariance), 0.0);
}

// A calibrated count beyond what its table may hold fails its line, so
// that endFrame never has to grow past the bound.
template <class Record>
bool readCalibratedCount(const char*& cursor, int32_t& calibrated) noexcept {
    int32_t count = 0;
    if (!readCount(cursor, count) || count > OstrelParser::maxRecords<Record>()) return false;
    calibrated = count;
    return true;
}

}  // namespace

template <class Record>
bool OstrelParser::Table<Record>::reserveRecords(int32_t size) noexcept {
    if (size < 0 || size > maxRecords<Record>()) return false;
    const auto wanted = static_cast<size_t>(size);
    if (wanted <= records.size()) return true;
    try {
        if (wanted > records.capacity()) {
            // Geometric growth, but never past the bound.
            const auto limit = static_cast<size_t>(maxRecords<Record>());
            records.reserve(std::max(wanted, std::min(records.capacity() * 2, limit)));
        }
        records.resize(wanted);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool OstrelParser::spendWork(size_t bytes) noexcept {
    if (bytes > workLeft_) return false;
    workLeft_ -= bytes;
    return true;
}

template <class Record>
bool OstrelParser::resizeTable(Table<Record>& table, int32_t size) noexcept {
    if (size == table.count) return true;
    if (size > table.count && !spendWork(static_cast<size_t>(size - table.count) * sizeof(Record))) return false;
    if (!table.reserveRecords(size)) return false;
    // Shrinking keeps the capacity; records that come back start all zero.
    table.records.resize(static_cast<size_t>(size));
    table.count = size;
    return true;
}

template <class Record>
bool OstrelParser::growResettable(Table<Record>& table, int32_t size) noexcept {
    const int32_t from = std::max(table.count, 0);
    if (size > from && !spendWork(static_cast<size_t>(size - from) * sizeof(Record))) return false;
    if (!table.reserveRecords(size)) return false;
    for (int32_t i = from; i < size; ++i) resetRecord(table.records[static_cast<size_t>(i)], i);
    table.count = size;
    return true;
}

template <class Record>
bool OstrelParser::resetWritten(Table<Record>& table) noexcept {
    const int32_t end = std::min(table.count, table.dirtyEnd);
    if (end > 0 && !spendWork(static_cast<size_t>(end) * sizeof(Record))) return false;
    for (int32_t i = 0; i < end; ++i) resetRecord(table.records[static_cast<size_t>(i)], i);
    table.dirtyEnd = 0;
    return true;
}

// The table only grows; its count follows every "3d" line.
bool OstrelParser::growMarkers(int32_t size) noexcept {
    const auto held = static_cast<int32_t>(markers_.records.size());
    if (size <= held) return true;  // a negative count needs no records
    return spendWork(static_cast<size_t>(size - held) * sizeof(MarkerRecord)) && markers_.reserveRecords(size);
}

// "6df" and "6dmt": n, then n entries [id quality buttonword] [x y z]
// [r0 … r8], entry k with id k; the table takes n records.
template <class Record>
bool OstrelParser::parseButtonWordEntries(Table<Record>& table, int32_t& frameCount, const char*& cursor) noexcept {
    int32_t entries = 0;
    if (!readCount(cursor, entries) || !resizeTable(table, entries)) return false;
    frameCount = entries;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t ints[2] = {};  // id, button word
        double quality = 0.0;
        if (!readItems(cursor, "idi", ints, &quality) || ints[0] != k) return false;
        Record& record = table.records[static_cast<size_t>(k)];
        record.id = k;
        record.quality = quality;
        applyButtonWord(record, ints[1]);
        if (!readPose(cursor, record.loc, record.rot)) return false;
        finishButtonWordEntry(record);
    }
    return true;
}

// "6d", "gl", "6di": record id, the table grown to hold it, marked as
// written; null when the id is negative or beyond the bound.
template <class Record>
Record* OstrelParser::recordById(Table<Record>& table, int32_t id) noexcept {
    if (id < 0 || id >= maxRecords<Record>()) return nullptr;
    if (id >= table.count && !growResettable(table, id + 1)) return nullptr;
    markWritten(table, id);
    return &table.records[static_cast<size_t>(id)];
}

// "6dmtr", "6dj": the table takes the defined count, and every record below
// it is reset (those the resize added too: they start all zero).
template <class Record>
bool OstrelParser::defineAndReset(Table<Record>& table, const char*& cursor) noexcept {
    int32_t defined = 0;
    if (!readCount(cursor, defined)) return false;
    const int32_t before = table.count;
    if (!resizeTable(table, defined)) return false;
    if (defined > before) table.dirtyEnd = defined;
    return resetWritten(table);
}

template <class Record>
void OstrelParser::applyCalibratedCount(Table<Record>& table, int32_t count) noexcept {
    // The calibrated counts were bounded when read; their growth, once per
    // frame, is not charged to the frame's work.
    workLeft_ = kMaxWorkBytesPerFrame;
    if (count <= table.count || growResettable(table, count)) table.count = count;
}

OstrelParser::OstrelParser() noexcept = default;

OstrelParser::~OstrelParser() = default;

void OstrelParser::resetTables() noexcept {
    frameCounter_ = 0;
    timestamp_ = -1.0;
    auto clear = [](auto& table) {
        table.count = 0;
        table.dirtyEnd = 0;
        table.records.clear();
    };
    clear(bodies_);
    clear(gripwands_);
    clear(tools_);
    clear(toolRefs_);
    clear(hands_);
    clear(jointModels_);
    clear(inertials_);
    clear(markers_);
}

void OstrelParser::beginFrame() noexcept {
    workLeft_ = kMaxWorkBytesPerFrame;
    frameCounter_ = 0;
    timestamp_ = -1.0;
    calibratedBodies_ = -1;
    calibratedHands_ = -1;
    count6df_ = 0;
    count6dmt_ = 0;
}

void OstrelParser::endFrame() noexcept {
    if (calibratedBodies_ >= 0) {
        // Calibrated bodies include the Gripwands and tools: the rest are
        // standard bodies. The count may go negative.
        const int64_t bodies = int64_t{calibratedBodies_} - count6dmt_ - count6df_;
        applyCalibratedCount(bodies_, static_cast<int32_t>(std::max<int64_t>(bodies, INT32_MIN)));
    }
    if (calibratedHands_ >= 0) applyCalibratedCount(hands_, calibratedHands_);
}

bool OstrelParser::parseLine(const char*& cursor) noexcept {
    using Handler = bool (OstrelParser::*)(const char*&) noexcept;
    struct Tag {
        const char* text;
        size_t length;
        Handler handler;
    };
    // Each tag with its blank; the order matters ("6dcal " before "6d ").
    static constexpr Tag kTags[] = {
        {"fr ", 3, &OstrelParser::parseFrameCounter},
        {"ts ", 3, &OstrelParser::parseTimestamp},
        {"6dcal ", 6, &OstrelParser::parseCalibratedBodies},
        {"6d ", 3, &OstrelParser::parseBodies},
        {"6df ", 4, &OstrelParser::parseGripwands},
        {"6df2 ", 5, &OstrelParser::parseGripwands2},
        {"6dmt ", 5, &OstrelParser::parseTools},
        {"6dmt2 ", 6, &OstrelParser::parseTools2},
        {"6dmtr ", 6, &OstrelParser::parseToolRefs},
        {"glcal ", 6, &OstrelParser::parseCalibratedHands},
        {"gl ", 3, &OstrelParser::parseHands},
        {"6dj ", 4, &OstrelParser::parseJointModels},
        {"6di ", 4, &OstrelParser::parseInertials},
        {"3d ", 3, &OstrelParser::parseMarkers},
    };
    if (cursor == nullptr) return false;
    for (const Tag& tag : kTags) {
        if (startsWith(cursor, tag.text, tag.length)) {
            cursor += tag.length;
            return (this->*tag.handler)(cursor);
        }
    }
    return true;  // not a line this parser knows
}

bool OstrelParser::parseFrame(const char* buffer, size_t bufferSize) noexcept {
    const char* cursor = buffer;
    while (cursor != nullptr) {
        if (!parseLine(cursor)) return false;
        cursor = frametext::nextLine(buffer, cursor, bufferSize);
    }
    endFrame();
    return true;
}

bool OstrelParser::parseFrameCounter(const char*& cursor) noexcept {
    if (readNumber(cursor, frametext::readUInt, frameCounter_)) return true;
    frameCounter_ = 0;
    return false;
}

bool OstrelParser::parseTimestamp(const char*& cursor) noexcept {
    if (readNumber(cursor, frametext::readDouble, timestamp_)) return true;
    timestamp_ = -1.0;
    return false;
}

bool OstrelParser::parseCalibratedBodies(const char*& cursor) noexcept {
    return readCalibratedCount<BodyRecord>(cursor, calibratedBodies_);
}

bool OstrelParser::parseCalibratedHands(const char*& cursor) noexcept {
    return readCalibratedCount<HandRecord>(cursor, calibratedHands_);
}

bool OstrelParser::parseBodies(const char*& cursor) noexcept {
    int32_t entries = 0;
    if (!resetWritten(bodies_) || !readCount(cursor, entries)) return false;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t id = 0;
        double quality = 0.0;
        if (!readItems(cursor, "id", &id, &quality)) return false;
        BodyRecord* record = recordById(bodies_, id);
        if (record == nullptr) return false;
        record->id = id;
        record->quality = quality;
        if (!readPose(cursor, record->loc, record->rot)) return false;
    }
    return true;
}

bool OstrelParser::parseGripwands(const char*& cursor) noexcept {
    return parseButtonWordEntries(gripwands_, count6df_, cursor);
}

bool OstrelParser::parseGripwands2(const char*& cursor) noexcept {
    int32_t defined = 0;
    int32_t entries = 0;
    if (!readCount(cursor, defined) || !resizeTable(gripwands_, defined) || !readCount(cursor, entries)) return false;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t ints[3] = {};  // id, button count, joystick count
        double quality = 0.0;
        if (!readItems(cursor, "idii", ints, &quality) || ints[0] != k || k >= gripwands_.count) return false;
        GripwandRecord& record = gripwands_.records[static_cast<size_t>(k)];
        record.id = k;
        record.quality = quality;
        // A count of 0 or below means none; only counts above the maxima fail.
        const int32_t buttonCount = std::max(ints[1], 0);
        const int32_t joystickCount = std::max(ints[2], 0);
        if (buttonCount > kMaxRecordButtons || joystickCount > kMaxRecordJoystick) return false;
        record.buttonCount = buttonCount;
        record.joystickCount = joystickCount;
        if (!readPose(cursor, record.loc, record.rot) ||
            !readButtonGroup(cursor, buttonCount, record.buttons, joystickCount, record.joystick)) {
            return false;
        }
    }
    return true;
}

bool OstrelParser::parseTools(const char*& cursor) noexcept {
    return parseButtonWordEntries(tools_, count6dmt_, cursor);
}

bool OstrelParser::parseTools2(const char*& cursor) noexcept {
    int32_t defined = 0;  // announced, but the entries set the size
    int32_t entries = 0;
    if (!readCount(cursor, defined) || !readCount(cursor, entries) || !resizeTable(tools_, entries)) return false;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t ints[2] = {};    // id, button count
        double doubles[2] = {};  // quality, tip radius
        if (!readItems(cursor, "idid", ints, doubles) || ints[0] != k || ints[1] < 0) return false;
        MeasurementToolRecord& record = tools_.records[static_cast<size_t>(k)];
        record.id = k;
        record.quality = doubles[0];
        const int32_t buttonCount = std::min(ints[1], kMaxRecordButtons);
        record.buttonCount = buttonCount;
        std::fill(record.buttons + buttonCount, std::end(record.buttons), 0);
        record.tipRadius = doubles[1];
        if (!readPose(cursor, record.loc, record.rot) ||
            !readButtonGroup(cursor, buttonCount, record.buttons, 0, nullptr) ||
            !readItems(cursor, "dddddd", nullptr, record.covariance)) {
            return false;
        }
    }
    return true;
}

bool OstrelParser::parseToolRefs(const char*& cursor) noexcept {
    int32_t entries = 0;
    if (!defineAndReset(toolRefs_, cursor) || !readCount(cursor, entries)) return false;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t id = 0;
        double quality = 0.0;
        if (!readItems(cursor, "id", &id, &quality)) return false;
        MeasurementRefRecord* record = toolRefs_.at(id);
        if (record == nullptr) return false;
        record->quality = quality;
        markWritten(toolRefs_, id);
        if (!readPose(cursor, record->loc, record->rot)) return false;
    }
    return true;
}

bool OstrelParser::parseHands(const char*& cursor) noexcept {
    int32_t entries = 0;
    if (!resetWritten(hands_) || !readCount(cursor, entries)) return false;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t ints[3] = {};  // id, side, finger count
        double quality = 0.0;
        if (!readItems(cursor, "idii", ints, &quality)) return false;
        HandRecord* record = recordById(hands_, ints[0]);
        if (record == nullptr) return false;
        record->id = ints[0];
        record->side = ints[1];
        record->quality = quality;
        const int32_t fingerCount = std::max(ints[2], 0);  // below 0: none
        if (fingerCount > kMaxHandFingers) return false;
        record->fingerCount = fingerCount;
        if (!readPose(cursor, record->loc, record->rot)) return false;
        for (int32_t f = 0; f < fingerCount; ++f) {
            FingerRecord& finger = record->fingers[f];
            double values[6] = {};
            if (!readPose(cursor, finger.loc, finger.rot) || !readItems(cursor, "dddddd", nullptr, values)) {
                return false;
            }
            // On the wire: tip radius, then length and angle from the outer
            // phalanx inwards.
            finger.tipRadius = values[0];
            finger.phalanxLength[0] = values[1];
            finger.phalanxAngle[0] = values[2];
            finger.phalanxLength[1] = values[3];
            finger.phalanxAngle[1] = values[4];
            finger.phalanxLength[2] = values[5];
        }
    }
    return true;
}

bool OstrelParser::parseJointModels(const char*& cursor) noexcept {
    int32_t entries = 0;
    if (!defineAndReset(jointModels_, cursor) || !readCount(cursor, entries)) return false;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t ints[2] = {};  // id, joint count
        if (!readItems(cursor, "ii", ints, nullptr)) return false;
        JointModelRecord* record = jointModels_.at(ints[0]);
        const int32_t jointCount = std::max(ints[1], 0);  // below 0: none
        if (record == nullptr || jointCount > kMaxModelJoints) return false;
        record->id = ints[0];
        record->jointCount = jointCount;
        markWritten(jointModels_, ints[0]);
        for (int32_t j = 0; j < jointCount; ++j) {
            JointRecord& joint = record->joints[j];
            double values[6] = {};  // x y z, then the three angles
            if (!readItems(cursor, "id", &joint.id, &joint.quality) || !readItems(cursor, "dddddd", nullptr, values) ||
                !readItems(cursor, "ddddddddd", nullptr, joint.rot)) {
                return false;
            }
            std::copy(values, values + 3, joint.loc);
            std::copy(values + 3, values + 6, joint.angles);
        }
    }
    return true;
}

bool OstrelParser::parseInertials(const char*& cursor) noexcept {
    int32_t entries = 0;
    if (!resetWritten(inertials_) || !readCount(cursor, entries)) return false;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t ints[2] = {};  // id, state
        double error = 0.0;
        if (!readItems(cursor, "iid", ints, &error)) return false;
        InertialRecord* record = recordById(inertials_, ints[0]);
        if (record == nullptr) return false;
        record->id = ints[0];
        record->state = ints[1];
        record->error = error;
        if (!readPose(cursor, record->loc, record->rot)) return false;
    }
    return true;
}

bool OstrelParser::parseMarkers(const char*& cursor) noexcept {
    int32_t entries = 0;
    if (!readCount(cursor, entries) || !growMarkers(entries)) {
        markers_.count = 0;
        return false;
    }
    markers_.count = entries;
    for (int32_t k = 0; k < entries; ++k) {
        MarkerRecord& record = markers_.records[static_cast<size_t>(k)];
        if (!readItems(cursor, "id", &record.id, &record.quality) || !readItems(cursor, "ddd", nullptr, record.loc)) {
            return false;
        }
    }
    return true;
}
