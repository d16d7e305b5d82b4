// Feeds arbitrary bytes to the frame parser as the client would: each
// NUL-separated piece of the input is one frame, parsed in turn by one
// parser, so that tables carry over from frame to frame as they do live.
// Any crash, sanitizer report or broken table invariant is a finding.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "link/frame_text.h"
#include "link/ostrel_parser.h"

namespace {

void require(bool holds) {
    if (!holds) std::abort();
}

// Counts stay within the bound and every record below a count is readable,
// with its own counts within their limits.
template <class Record, class Access>
void checkTable(int32_t count, Access record) {
    require(count <= OstrelParser::maxRecords<Record>());
    require(record(-1) == nullptr && record(count > 0 ? count : 0) == nullptr);
    if (count > 0) {
        require(record(0) != nullptr && record(count - 1) != nullptr);
    }
}

void checkInvariants(const OstrelParser& parser) {
    checkTable<BodyRecord>(parser.bodyCount(), [&](int32_t i) { return parser.body(i); });
    checkTable<GripwandRecord>(parser.gripwandCount(), [&](int32_t i) { return parser.gripwand(i); });
    checkTable<MeasurementToolRecord>(parser.measurementToolCount(),
                                      [&](int32_t i) { return parser.measurementTool(i); });
    checkTable<MeasurementRefRecord>(parser.measurementRefCount(), [&](int32_t i) { return parser.measurementRef(i); });
    checkTable<HandRecord>(parser.handCount(), [&](int32_t i) { return parser.hand(i); });
    checkTable<JointModelRecord>(parser.jointModelCount(), [&](int32_t i) { return parser.jointModel(i); });
    checkTable<InertialRecord>(parser.inertialCount(), [&](int32_t i) { return parser.inertial(i); });
    checkTable<MarkerRecord>(parser.markerCount(), [&](int32_t i) { return parser.marker(i); });
    require(parser.gripwandCount() >= 0 && parser.measurementToolCount() >= 0);
    for (int32_t i = 0; i < parser.gripwandCount(); ++i) {
        const GripwandRecord* wand = parser.gripwand(i);
        require(wand->buttonCount >= 0 && wand->buttonCount <= kMaxRecordButtons);
        require(wand->joystickCount >= 0 && wand->joystickCount <= kMaxRecordJoystick);
    }
    for (int32_t i = 0; i < parser.measurementToolCount(); ++i) {
        const MeasurementToolRecord* tool = parser.measurementTool(i);
        require(tool->buttonCount >= 0 && tool->buttonCount <= kMaxRecordButtons);
    }
    for (int32_t i = 0; i < parser.handCount(); ++i) {
        const HandRecord* hand = parser.hand(i);
        require(hand->fingerCount >= 0 && hand->fingerCount <= kMaxHandFingers);
    }
    for (int32_t i = 0; i < parser.jointModelCount(); ++i) {
        const JointModelRecord* model = parser.jointModel(i);
        require(model->jointCount >= 0 && model->jointCount <= kMaxModelJoints);
    }
}

// The text readers on their own, at the start of a piece.
void readEverything(const char* text) {
    int32_t integer = 0;
    uint32_t unsignedInteger = 0;
    double number = 0;
    int32_t ints[16];
    double doubles[16];
    std::string_view quoted;
    const char* stops[] = {
        frametext::readInt(text, integer),   frametext::readUInt(text, unsignedInteger),
        frametext::readDouble(text, number), frametext::readGroup(text, "idiiddddddddddd", ints, doubles),
        frametext::readQuoted(text, quoted),
    };
    const char* end = text + std::strlen(text);
    for (const char* stop : stops) require(stop == nullptr || (stop > text && stop <= end));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;  // a datagram is never longer
    std::vector<char> buffer(data, data + size);
    buffer.push_back('\0');
    OstrelParser parser;
    const char* piece = buffer.data();
    const char* end = buffer.data() + size;
    for (;;) {
        const char* nul = static_cast<const char*>(std::memchr(piece, '\0', static_cast<size_t>(end - piece) + 1));
        readEverything(piece);
        parser.beginFrame();
        parser.parseFrame(piece, static_cast<size_t>(nul - piece) + 1);
        checkInvariants(parser);
        if (nul == end) break;
        piece = nul + 1;
    }
    return 0;
}
