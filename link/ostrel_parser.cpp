#include "link/ostrel_parser.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "link/frame_text.h"

namespace {

using frametext::readGroup;
using frametext::readInt;

// The reset state of the records that have one.
void resetRecord(BodyRecord& record, int32_t index) noexcept {
    std::memset(&record, 0, sizeof record);
    record.id = index;
    record.quality = -1.0;
}

void resetRecord(HandRecord& record, int32_t index) noexcept {
    std::memset(&record, 0, sizeof record);
    record.id = index;
    record.quality = -1.0;
}

void resetRecord(JointModelRecord& record, int32_t index) noexcept {
    std::memset(&record, 0, sizeof record);
    record.id = index;
}

void resetRecord(InertialRecord& record, int32_t index) noexcept {
    std::memset(&record, 0, sizeof record);
    record.id = index;
}

// A tool reference keeps its pose; only id and quality are reset.
void resetRecord(MeasurementRefRecord& record, int32_t index) noexcept {
    record.id = index;
    record.quality = -1.0;
}

// Each reader moves the cursor only past what it read.
bool readCount(const char*& cursor, int32_t& value) noexcept {
    const char* behind = readInt(cursor, value);
    if (behind == nullptr) return false;
    cursor = behind;
    return true;
}

bool readItems(const char*& cursor, const char* types, int32_t* ints, double* doubles) noexcept {
    const char* behind = readGroup(cursor, types, ints, doubles);
    if (behind == nullptr) return false;
    cursor = behind;
    return true;
}

bool readPose(const char*& cursor, double* loc, double* rot) noexcept {
    return readItems(cursor, "ddd", nullptr, loc) && readItems(cursor, "ddddddddd", nullptr, rot);
}

int32_t bit(int32_t word, int position) noexcept { return static_cast<int32_t>((static_cast<uint32_t>(word) >> position) & 1u); }

// Type string of a button group: one integer per started block of 32
// buttons, then the joystick values.
void buttonGroupTypes(int32_t buttonCount, int32_t joystickCount, char* types) noexcept {
    char* letter = types;
    for (int32_t block = 0; block < (buttonCount + 31) / 32; ++block) *letter++ = 'i';
    for (int32_t value = 0; value < joystickCount; ++value) *letter++ = 'd';
    *letter = '\0';
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

namespace {
template <class Table>
void markWritten(Table& table, int32_t index) noexcept {
    table.dirtyEnd = std::max(table.dirtyEnd, index + 1);
}
}  // namespace

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
        const auto count = static_cast<int32_t>(std::max<int64_t>(bodies, INT32_MIN));
        // The calibrated counts were bounded when read; their growth, once
        // per frame, is not charged to the frame's work.
        workLeft_ = kMaxWorkBytesPerFrame;
        if (count <= bodies_.count || growResettable(bodies_, count)) bodies_.count = count;
    }
    if (calibratedHands_ >= 0) {
        workLeft_ = kMaxWorkBytesPerFrame;
        if (calibratedHands_ <= hands_.count || growResettable(hands_, calibratedHands_)) {
            hands_.count = calibratedHands_;
        }
    }
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
        {"fr ", 3, &OstrelParser::parseFrameCounter},   {"ts ", 3, &OstrelParser::parseTimestamp},
        {"6dcal ", 6, &OstrelParser::parseCalibratedBodies}, {"6d ", 3, &OstrelParser::parseBodies},
        {"6df ", 4, &OstrelParser::parseGripwands},     {"6df2 ", 5, &OstrelParser::parseGripwands2},
        {"6dmt ", 5, &OstrelParser::parseTools},        {"6dmt2 ", 6, &OstrelParser::parseTools2},
        {"6dmtr ", 6, &OstrelParser::parseToolRefs},    {"glcal ", 6, &OstrelParser::parseCalibratedHands},
        {"gl ", 3, &OstrelParser::parseHands},          {"6dj ", 4, &OstrelParser::parseJointModels},
        {"6di ", 4, &OstrelParser::parseInertials},     {"3d ", 3, &OstrelParser::parseMarkers},
    };
    if (cursor == nullptr) return false;
    for (const Tag& tag : kTags) {
        if (std::strncmp(cursor, tag.text, tag.length) == 0) {
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
    const char* behind = frametext::readUInt(cursor, frameCounter_);
    if (behind == nullptr) {
        frameCounter_ = 0;
        return false;
    }
    cursor = behind;
    return true;
}

bool OstrelParser::parseTimestamp(const char*& cursor) noexcept {
    const char* behind = frametext::readDouble(cursor, timestamp_);
    if (behind == nullptr) {
        timestamp_ = -1.0;
        return false;
    }
    cursor = behind;
    return true;
}

// A calibrated count beyond what the table may hold fails here, so that
// endFrame never has to grow past the bound.
bool OstrelParser::parseCalibratedBodies(const char*& cursor) noexcept {
    int32_t count = 0;
    if (!readCount(cursor, count) || count > maxRecords<BodyRecord>()) return false;
    calibratedBodies_ = count;
    return true;
}

bool OstrelParser::parseCalibratedHands(const char*& cursor) noexcept {
    int32_t count = 0;
    if (!readCount(cursor, count) || count > maxRecords<HandRecord>()) return false;
    calibratedHands_ = count;
    return true;
}

bool OstrelParser::parseBodies(const char*& cursor) noexcept {
    if (!resetWritten(bodies_)) return false;
    int32_t entries = 0;
    if (!readCount(cursor, entries)) return false;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t id = 0;
        double quality = 0.0;
        if (!readItems(cursor, "id", &id, &quality)) return false;
        if (id < 0 || id >= maxRecords<BodyRecord>()) return false;
        if (id >= bodies_.count && !growResettable(bodies_, id + 1)) return false;
        BodyRecord& record = bodies_.records[static_cast<size_t>(id)];
        record.id = id;
        record.quality = quality;
        markWritten(bodies_, id);
        if (!readPose(cursor, record.loc, record.rot)) return false;
    }
    return true;
}

bool OstrelParser::parseGripwands(const char*& cursor) noexcept {
    int32_t entries = 0;
    if (!readCount(cursor, entries) || !resizeTable(gripwands_, entries)) return false;
    count6df_ = entries;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t ints[2] = {};  // id, button word
        double quality = 0.0;
        if (!readItems(cursor, "idi", ints, &quality) || ints[0] != k) return false;
        GripwandRecord& record = gripwands_.records[static_cast<size_t>(k)];
        record.id = ints[0];
        record.quality = quality;
        record.buttonCount = 8;
        for (int b = 0; b < 8; ++b) record.buttons[b] = bit(ints[1], b);
        // Bits 4 to 7 are the joystick's four directions as well.
        record.joystickCount = 2;
        record.joystick[0] = bit(ints[1], 5) ? -1.0 : bit(ints[1], 7) ? 1.0 : 0.0;
        record.joystick[1] = bit(ints[1], 4) ? -1.0 : bit(ints[1], 6) ? 1.0 : 0.0;
        if (!readPose(cursor, record.loc, record.rot)) return false;
    }
    return true;
}

bool OstrelParser::parseGripwands2(const char*& cursor) noexcept {
    int32_t defined = 0;
    int32_t entries = 0;
    if (!readCount(cursor, defined) || !resizeTable(gripwands_, defined)) return false;
    if (!readCount(cursor, entries)) return false;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t ints[3] = {};  // id, button count, joystick count
        double quality = 0.0;
        if (!readItems(cursor, "idii", ints, &quality)) return false;
        if (ints[0] != k || k >= gripwands_.count) return false;
        GripwandRecord& record = gripwands_.records[static_cast<size_t>(k)];
        record.id = ints[0];
        record.quality = quality;
        const int32_t buttonCount = ints[1];
        const int32_t joystickCount = ints[2];
        if (buttonCount < 0 || buttonCount > kMaxRecordButtons || joystickCount < 0 ||
            joystickCount > kMaxRecordJoystick) {
            return false;
        }
        record.buttonCount = buttonCount;
        record.joystickCount = joystickCount;
        if (!readPose(cursor, record.loc, record.rot)) return false;
        char types[2 + kMaxRecordJoystick];
        buttonGroupTypes(buttonCount, joystickCount, types);
        int32_t word = 0;
        if (!readItems(cursor, types, &word, record.joystick)) return false;
        for (int32_t b = 0; b < buttonCount; ++b) record.buttons[b] = bit(word, b);
    }
    return true;
}

bool OstrelParser::parseTools(const char*& cursor) noexcept {
    int32_t entries = 0;
    if (!readCount(cursor, entries) || !resizeTable(tools_, entries)) return false;
    count6dmt_ = entries;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t ints[2] = {};  // id, button word
        double quality = 0.0;
        if (!readItems(cursor, "idi", ints, &quality) || ints[0] != k) return false;
        MeasurementToolRecord& record = tools_.records[static_cast<size_t>(k)];
        record.id = ints[0];
        record.quality = quality;
        record.buttonCount = 4;
        for (int b = 0; b < kMaxRecordButtons; ++b) record.buttons[b] = b < 4 ? bit(ints[1], b) : 0;
        record.tipRadius = 0.0;
        if (!readPose(cursor, record.loc, record.rot)) return false;
        std::fill(std::begin(record.covariance), std::end(record.covariance), 0.0);
    }
    return true;
}

bool OstrelParser::parseTools2(const char*& cursor) noexcept {
    int32_t defined = 0;  // announced, but the entries set the size
    int32_t entries = 0;
    if (!readCount(cursor, defined) || !readCount(cursor, entries)) return false;
    if (!resizeTable(tools_, entries)) return false;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t ints[2] = {};        // id, button count
        double doubles[2] = {};      // quality, tip radius
        if (!readItems(cursor, "idid", ints, doubles)) return false;
        if (ints[0] != k || ints[1] < 0) return false;
        MeasurementToolRecord& record = tools_.records[static_cast<size_t>(k)];
        record.id = ints[0];
        record.quality = doubles[0];
        const int32_t buttonCount = std::min(ints[1], kMaxRecordButtons);
        record.buttonCount = buttonCount;
        for (int32_t b = buttonCount; b < kMaxRecordButtons; ++b) record.buttons[b] = 0;
        record.tipRadius = doubles[1];
        if (!readPose(cursor, record.loc, record.rot)) return false;
        char types[2];
        buttonGroupTypes(buttonCount, 0, types);
        int32_t word = 0;
        if (!readItems(cursor, types, &word, nullptr)) return false;
        for (int32_t b = 0; b < buttonCount; ++b) record.buttons[b] = bit(word, b);
        if (!readItems(cursor, "dddddd", nullptr, record.covariance)) return false;
    }
    return true;
}

bool OstrelParser::parseToolRefs(const char*& cursor) noexcept {
    int32_t defined = 0;
    if (!readCount(cursor, defined)) return false;
    const int32_t before = toolRefs_.count;
    if (!resizeTable(toolRefs_, defined)) return false;
    if (defined > before) toolRefs_.dirtyEnd = defined;  // the added records need their id and quality
    if (!resetWritten(toolRefs_)) return false;
    int32_t entries = 0;
    if (!readCount(cursor, entries)) return false;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t id = 0;
        double quality = 0.0;
        if (!readItems(cursor, "id", &id, &quality)) return false;
        if (id < 0 || id >= toolRefs_.count) return false;
        MeasurementRefRecord& record = toolRefs_.records[static_cast<size_t>(id)];
        record.quality = quality;
        markWritten(toolRefs_, id);
        if (!readPose(cursor, record.loc, record.rot)) return false;
    }
    return true;
}

bool OstrelParser::parseHands(const char*& cursor) noexcept {
    if (!resetWritten(hands_)) return false;
    int32_t entries = 0;
    if (!readCount(cursor, entries)) return false;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t ints[3] = {};  // id, side, finger count
        double quality = 0.0;
        if (!readItems(cursor, "idii", ints, &quality)) return false;
        const int32_t id = ints[0];
        if (id < 0 || id >= maxRecords<HandRecord>()) return false;
        if (id >= hands_.count && !growResettable(hands_, id + 1)) return false;
        HandRecord& record = hands_.records[static_cast<size_t>(id)];
        record.id = id;
        record.side = ints[1];
        record.quality = quality;
        markWritten(hands_, id);
        const int32_t fingerCount = ints[2];
        if (fingerCount < 0 || fingerCount > kMaxHandFingers) return false;
        record.fingerCount = fingerCount;
        if (!readPose(cursor, record.loc, record.rot)) return false;
        for (int32_t f = 0; f < fingerCount; ++f) {
            FingerRecord& finger = record.fingers[f];
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
    int32_t defined = 0;
    if (!readCount(cursor, defined)) return false;
    const int32_t before = jointModels_.count;
    if (!resizeTable(jointModels_, defined)) return false;
    if (defined > before) jointModels_.dirtyEnd = defined;  // the added records need their id
    if (!resetWritten(jointModels_)) return false;
    int32_t entries = 0;
    if (!readCount(cursor, entries)) return false;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t ints[2] = {};  // id, joint count
        if (!readItems(cursor, "ii", ints, nullptr)) return false;
        const int32_t id = ints[0];
        const int32_t jointCount = ints[1];
        if (id < 0 || id >= jointModels_.count || jointCount < 0 || jointCount > kMaxModelJoints) return false;
        JointModelRecord& record = jointModels_.records[static_cast<size_t>(id)];
        record.id = id;
        record.jointCount = jointCount;
        markWritten(jointModels_, id);
        for (int32_t j = 0; j < jointCount; ++j) {
            JointRecord& joint = record.joints[j];
            double values[6] = {};  // x y z, then the three angles
            if (!readItems(cursor, "id", &joint.id, &joint.quality) ||
                !readItems(cursor, "dddddd", nullptr, values) ||
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
    if (!resetWritten(inertials_)) return false;
    int32_t entries = 0;
    if (!readCount(cursor, entries)) return false;
    for (int32_t k = 0; k < entries; ++k) {
        int32_t ints[2] = {};  // id, state
        double error = 0.0;
        if (!readItems(cursor, "iid", ints, &error)) return false;
        const int32_t id = ints[0];
        if (id < 0 || id >= maxRecords<InertialRecord>()) return false;
        if (id >= inertials_.count && !growResettable(inertials_, id + 1)) return false;
        InertialRecord& record = inertials_.records[static_cast<size_t>(id)];
        record.id = id;
        record.state = ints[1];
        record.error = error;
        markWritten(inertials_, id);
        if (!readPose(cursor, record.loc, record.rot)) return false;
    }
    return true;
}

bool OstrelParser::growMarkers(int32_t size) noexcept {
    const auto held = static_cast<int32_t>(markers_.records.size());
    if (size <= held) return true;  // a negative count needs no records
    return spendWork(static_cast<size_t>(size - held) * sizeof(MarkerRecord)) && markers_.reserveRecords(size);
}

bool OstrelParser::parseMarkers(const char*& cursor) noexcept {
    int32_t entries = 0;
    // The table only grows; the count follows every line.
    if (!readCount(cursor, entries) || !growMarkers(entries)) {
        markers_.count = 0;
        return false;
    }
    markers_.count = entries;
    for (int32_t k = 0; k < entries; ++k) {
        MarkerRecord& record = markers_.records[static_cast<size_t>(k)];
        if (!readItems(cursor, "id", &record.id, &record.quality)) return false;
        if (!readItems(cursor, "ddd", nullptr, record.loc)) return false;
    }
    return true;
}
