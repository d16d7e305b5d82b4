// The frame text readers and OstrelParser: values, where the cursor stops, and bounds hostile frames cannot pass.
#include "link/ostrel_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "link/frame_text.h"
#include "tests/support/allocations.h"

using namespace frametext;
using Values = std::vector<double>;

namespace {

const std::string kRot = "[1 0 0 0 1 0 0 0 1]";
const Values kIdentity = {1, 0, 0, 0, 1, 0, 0, 0, 1};
std::string pose(double x, double y, double z) {
    return "[" + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + "]" + kRot;
}
bool parseText(OstrelParser& parser, const std::string& text) {
    parser.beginFrame();
    return parser.parseFrame(text.c_str(), text.size() + 1);
}
// Whether the line was accepted, and the cursor's offset behind it.
std::pair<bool, long> parseLine(OstrelParser& parser, const std::string& text) {
    const char* cursor = text.c_str();
    const bool accepted = parser.parseLine(cursor);
    return {accepted, cursor - text.c_str()};
}
// A record's fields as doubles in order: records compare without their padding.
void add(Values& out, double v) { out.push_back(v); }
void add(Values& out, const Values& more) { out.insert(out.end(), more.begin(), more.end()); }
template <class T, size_t N>
void add(Values& out, const T (&array)[N]) {
    for (const T& element : array) add(out, element);
}
template <class... Fields>
Values values(const Fields&... fields) {
    Values out;
    (add(out, fields), ...);
    return out;
}
Values of(const BodyRecord* r) { return values(r->id, r->quality, r->loc, r->rot); }
Values of(const MeasurementRefRecord* r) { return values(r->id, r->quality, r->loc, r->rot); }
Values of(const GripwandRecord* r) {
    return values(r->id, r->quality, r->buttonCount, r->buttons, r->joystickCount, r->joystick, r->loc, r->rot);
}
Values of(const MeasurementToolRecord* r) {
    return values(r->id, r->quality, r->buttonCount, r->buttons, r->loc, r->rot, r->tipRadius, r->covariance);
}
Values of(const InertialRecord* r) { return values(r->id, r->state, r->error, r->loc, r->rot); }
Values of(const MarkerRecord* r) { return values(r->id, r->quality, r->loc); }
Values of(const HandRecord* r) {  // with the fingers it counts
    Values out = values(r->id, r->quality, r->side, r->fingerCount, r->loc, r->rot);
    for (int f = 0; f < r->fingerCount; ++f)
        add(out, values(r->fingers[f].loc, r->fingers[f].rot, r->fingers[f].tipRadius, r->fingers[f].phalanxLength,
                        r->fingers[f].phalanxAngle));
    return out;
}
Values of(const JointModelRecord* r) {  // with the joints it counts
    Values out = values(r->id, r->jointCount);
    for (const JointRecord& j : r->joints)
        if (&j - r->joints < r->jointCount) add(out, values(j.id, j.quality, j.loc, j.angles, j.rot));
    return out;
}
Values reset(int id, int quality = -1) { return values(id, quality, Values(12)); }
void expectFailuresBehindTheirStops(const std::vector<std::pair<std::string, std::string>>& lines, bool atBounds) {
    for (const auto& [line, stop] : lines) {
        test_support::AllocationCount allocations;
        OstrelParser parser;
        parser.beginFrame();
        EXPECT_EQ(std::make_pair(false, static_cast<long>(line.rfind(stop) + stop.size())), parseLine(parser, line))
            << line;
        EXPECT_TRUE(!atBounds || allocations.count() == 0) << line << ": nothing grows";
    }
}

}  // namespace

// What the scanner's own tests leave to the readers: the unsigned rule, upper-case hex, a null text.
TEST(FrameText, NumbersTheScannerLeavesToTheReaders) {
    uint32_t u = 0;
    EXPECT_EQ(std::make_pair(true, UINT32_MAX), std::make_pair(readUInt("-1", u) != nullptr, u));
    EXPECT_EQ(std::make_pair(true, UINT32_MAX), std::make_pair(readUInt("4294967296", u) != nullptr, u));
    int32_t i = 77;
    const char* hex = "-0X10";
    EXPECT_EQ(std::make_pair(hex + 5, -16), std::make_pair(readInt(hex, i), i));
    EXPECT_EQ(nullptr, readInt(nullptr, i));
}

// A line that breaks a rule fails, the cursor just behind `stop`.
TEST(ParserLines, BrokenRulesFailTheLineBehindTheLastItemRead) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"fr x", "fr "},
        {"ts x", "ts "},
        {"3d x", "3d "},
        {"6di x", "6di "},
        {"6d 2 [0 0.5]" + pose(4, 5, 6) + " [-1 0.5]" + pose(1, 1, 1), "[-1 0.5]"},
        {"6df 2 [0 1 1]" + pose(1, 1, 1), kRot},
        {"6df 2 [1 1 1]" + pose(1, 1, 1), "[1 1 1]"},
        {"6df2 2 1 [0 1 17 0]" + pose(0, 0, 0) + "[1]", "17 0]"},
        {"6df2 2 1 [0 1 0 9]" + pose(0, 0, 0) + "[1 1 1 1 1 1 1 1 1]", "0 9]"},
        {"6df2 1 2 [0 1 0 0]" + pose(0, 0, 0) + "[][1 1 0 0]" + pose(0, 0, 0) + "[]", "[1 1 0 0]"},
        {"6dmt 1 [3 0.7 5]" + pose(7, 8, 9), "[3 0.7 5]"},
        {"6dmt2 1 1 [0 0.6 -1 2.5]" + pose(1, 2, 3) + "[][1 2 3 4 5 6]", "-1 2.5]"},
        {"6dmtr 3 1 [3 0.4]" + pose(1, 2, 3), "[3 0.4]"},
        {"6dmtr 3 1 [-1 0.4]" + pose(1, 2, 3), "[-1 0.4]"},
        {"6dmtr 3 1 [2 0.4] [1 2]", "[2 0.4]"},
        {"gl 1 [0 0.9 1 6]" + pose(7, 8, 9), "1 6]"},
        {"6dj 2 1 [2 0]", "[2 0]"},
        {"6dj 2 1 [0 201]", "[0 201]"},
        {"6di 1 [-1 1 0.25]" + pose(1, 2, 3), "0.25]"},
        {"6df -1", "-1"},  // no table takes a negative size
        {"6dmt2 0 -1", "0 -1"},
        {"6dmtr -1 0", "-1"},
    };
    expectFailuresBehindTheirStops(cases, false);
}

// Ids take base prefixes and grow the table; "6d" first resets the bodies, keeps what it stored before a failure.
// "fr", "ts" and the per-frame counts start afresh with every frame, the tables stay.
TEST(ParserLines, BodiesAndPerFrameValues) {
    OstrelParser parser;
    parser.beginFrame();
    const std::string text = "6d 1 [5 0.9][1 2 3]" + kRot + " tail";
    EXPECT_EQ(std::make_pair(true, static_cast<long>(text.size() - 5)), parseLine(parser, text));
    EXPECT_EQ(values(6, reset(4), 5, 0.9, 1, 2, 3, kIdentity),
              values(parser.bodyCount(), of(parser.body(4)), of(parser.body(5))));
    EXPECT_TRUE(parser.body(6) == nullptr && parser.body(-1) == nullptr);
    EXPECT_TRUE(parseLine(parser, "6d 0").first);
    EXPECT_EQ(6, parser.bodyCount());
    EXPECT_EQ(reset(5), of(parser.body(5)));
    ASSERT_TRUE(parseText(parser, "fr 1234\nts 12.5\n6df 1 [0 1 0]" + pose(1, 2, 3) + "\n6dmt 1 [0 1 0]" +
                                      pose(1, 2, 3) + "\n6d 1 [0 0.5]" + pose(1, 0, 0) + "\n6d 2 [0x1F 0.5]" +
                                      pose(1, 0, 0) + "[010 0.25]" + pose(2, 0, 0)));
    EXPECT_EQ(std::make_tuple(1234u, 12.5, 1, 1, 32),
              std::make_tuple(parser.frameCounter(), parser.timestamp(), parser.count6df(), parser.count6dmt(),
                              parser.bodyCount()));
    EXPECT_EQ(values(8, 0.25, 2, 0, 0, kIdentity, reset(0)), values(of(parser.body(8)), of(parser.body(0))));
    EXPECT_FALSE(parseLine(parser, "fr x").first || parseLine(parser, "ts x").first);
    EXPECT_EQ(std::make_tuple(0u, -1.0), std::make_tuple(parser.frameCounter(), parser.timestamp()));
    EXPECT_FALSE(parseLine(parser, "6d 2 [0 0.5]" + pose(4, 5, 6) + " [-1 0.5]" + pose(1, 1, 1)).first);
    EXPECT_EQ(values(0, 0.5, 4, 5, 6, kIdentity), of(parser.body(0)));
    parser.beginFrame();
    EXPECT_EQ(std::make_tuple(-1, -1, 0, 0, 1, 32),
              std::make_tuple(parser.calibratedBodies(), parser.calibratedHands(), parser.count6df(),
                              parser.count6dmt(), parser.gripwandCount(), parser.bodyCount()));
}

// "6df": buttons 0 to 7 from the word, 8 to 15 kept; the joystick from bits 4 to 7 (left and down win); the table
// follows the count, records that come back start all zero. "6df2": counts, button words and joystick values.
TEST(ParserLines, Gripwands) {
    OstrelParser parser;
    parser.beginFrame();
    ASSERT_TRUE(parseLine(parser, "6df2 1 1 [0 1 16 0][0 0 0]" + kRot + "[0xFFFF]").first);
    ASSERT_TRUE(parseLine(parser, "6df 1 [0 1.0 33]" + pose(1, 2, 3)).first);
    EXPECT_EQ(values(0, 1, 8, 1, 0, 0, 0, 0, 1, 0, 0, Values(8, 1), 2, -1, 0, Values(6), 1, 2, 3, kIdentity),
              of(parser.gripwand(0)));
    ASSERT_TRUE(parseLine(parser, "6df 1 [0 1.0 0xC0]" + pose(0, 0, 0)).first);
    EXPECT_EQ(values(1, 1), values(parser.gripwand(0)->joystick[0], parser.gripwand(0)->joystick[1]));
    ASSERT_TRUE(parseLine(parser, "6df 1 [0 1.0 0xF0]" + pose(0, 0, 0)).first);
    EXPECT_EQ(values(-1, -1), values(parser.gripwand(0)->joystick[0], parser.gripwand(0)->joystick[1]));
    ASSERT_TRUE(parseLine(parser, "6df 2 [0 1 1]" + pose(1, 1, 1) + "[1 1 1]" + pose(2, 2, 2)).first);
    ASSERT_TRUE(parseLine(parser, "6df 1 [0 1 1]" + pose(1, 1, 1)).first);
    EXPECT_EQ(nullptr, parser.gripwand(1));
    EXPECT_FALSE(parseLine(parser, "6df 2 [0 1 1]" + pose(1, 1, 1)).first);
    EXPECT_EQ(Values(40), of(parser.gripwand(1)));
    parser.beginFrame();
    ASSERT_TRUE(parseLine(parser, "6df2 2 1 [0 0.8 12 2]" + pose(1, 2, 3) + "[0xFFF 0.5 -0.5]").first);
    EXPECT_EQ(values(0, 2, 0, 0.8, 12, Values(16, 1), 2, 0.5, -0.5, Values(6), 1, 2, 3, kIdentity, Values(40)),
              values(parser.count6df(), parser.gripwandCount(), of(parser.gripwand(0)), of(parser.gripwand(1))));
    // Without buttons and joystick an entry still needs its "[]": else the next line's group is taken.
    ASSERT_TRUE(parseText(parser, "6df2 1 1 [0 1 0 0]" + pose(1, 1, 1) + "\n6d 1 [0 1]" + pose(2, 2, 2) + "\nfr 4"));
    EXPECT_EQ(std::make_pair(0, 4u), std::make_pair(parser.bodyCount(), parser.frameCounter()));
}

// "6dmt": buttons 0 to 3 and none beyond, no tip, no covariance. "6dmt2": its entries size the table; more than 16
// buttons are cut to 16, those beyond the count become 0. "6dmtr": a reset keeps the pose.
TEST(ParserLines, MeasurementToolsAndReferences) {
    OstrelParser parser;
    parser.beginFrame();
    ASSERT_TRUE(parseLine(parser, "6dmt2 5 1 [0 0.6 16 2.5]" + pose(0, 0, 0) + "[0xFFFF][1 2 3 4 5 6]").first);
    ASSERT_TRUE(parseLine(parser, "6dmt 1 [0 0.7 5]" + pose(7, 8, 9)).first);
    EXPECT_EQ(values(1, 0, 0.7, 4, 1, 0, 1, Values(13), 7, 8, 9, kIdentity, Values(7)),
              values(parser.count6dmt(), of(parser.measurementTool(0))));
    parser.beginFrame();
    ASSERT_TRUE(parseLine(parser, "6dmt2 3 2 [0 0.6 17 2.5]" + pose(1, 2, 3) + "[0x1FFFF][1 2 3 4 5 6][1 0.4 0 1.5]" +
                                      pose(4, 5, 6) + "[][0 0 0 0 0 0]")
                    .first);
    EXPECT_EQ(values(0, 2, 0, 0.6, 16, Values(16, 1), 1, 2, 3, kIdentity, 2.5, 1, 2, 3, 4, 5, 6, 1, 0.4, 0, Values(16),
                     4, 5, 6, kIdentity, 1.5, Values(6)),
              values(parser.count6dmt(), parser.measurementToolCount(), of(parser.measurementTool(0)),
                     of(parser.measurementTool(1))));
    ASSERT_TRUE(parseLine(parser, "6dmt2 1 1 [0 1 2 0]" + pose(0, 0, 0) + "[3][0 0 0 0 0 0]").first);
    EXPECT_EQ(values(1, 1, Values(14)), values(parser.measurementTool(0)->buttons));
    ASSERT_TRUE(parseLine(parser, "6dmtr 3 1 [2 0.4]" + pose(1, 2, 3)).first);
    ASSERT_TRUE(parseLine(parser, "6dmtr 3 0").first);
    EXPECT_EQ(values(3, reset(1), 2, -1, 1, 2, 3, kIdentity),
              values(parser.measurementRefCount(), of(parser.measurementRef(1)), of(parser.measurementRef(2))));
}

// Fingers: tip radius, then length and angle from the outer phalanx in. Joints: loc, then the angles. Markers keep
// their entry order. A negative entry count is an empty line; a negative count within an entry is none.
TEST(ParserLines, HandsJointModelsInertialBodiesMarkersAndNegativeCounts) {
    OstrelParser parser;
    parser.beginFrame();
    ASSERT_TRUE(parseLine(parser, "gl 1 [1 0.9 1 2]" + pose(7, 8, 9) + pose(0, 0, 0) + "[1 2 3 4 5 6]" + pose(1, 0, 0) +
                                      "[1 2 3 4 5 6]")
                    .first);
    const Values finger = values(1, 2, 4, 6, 3, 5);
    EXPECT_EQ(values(2, reset(0), 0, 0, 1, 0.9, 1, 2, 7, 8, 9, kIdentity, 0, 0, 0, kIdentity, finger, 1, 0, 0,
                     kIdentity, finger),
              values(parser.handCount(), of(parser.hand(0)), of(parser.hand(1))));
    ASSERT_TRUE(
        parseLine(parser, "6dj 2 1 [1 2][3 0.5][1 2 3 10 20 30]" + kRot + "[4 0.6][4 5 6 40 50 60]" + kRot).first);
    EXPECT_EQ(values(0, 0, 1, 2, 3, 0.5, 1, 2, 3, 10, 20, 30, kIdentity, 4, 0.6, 4, 5, 6, 40, 50, 60, kIdentity),
              values(of(parser.jointModel(0)), of(parser.jointModel(1))));
    std::string fullModel = "6dj 1 1 [0 200]";  // the most joints a model holds
    for (int j = 0; j < 200; ++j) fullModel += "[" + std::to_string(j) + " 1][0 0 0 0 0 0]" + kRot;
    ASSERT_TRUE(parseLine(parser, fullModel).first);
    EXPECT_EQ(200, parser.jointModel(0)->jointCount);
    ASSERT_TRUE(parseLine(parser, "6dj 2 0").first);
    ASSERT_TRUE(parseLine(parser, "6di 1 [2 1 0.25]" + pose(1, 2, 3)).first);
    EXPECT_EQ(values(1, 0, values(1, 0, 0, Values(12)), 2, 1, 0.25, 1, 2, 3, kIdentity),
              values(of(parser.jointModel(1)), of(parser.inertial(1)), of(parser.inertial(2))));
    ASSERT_TRUE(parseLine(parser, "6di 0").first);
    EXPECT_EQ(values(2, 0, 0, Values(12)), of(parser.inertial(2)));
    ASSERT_TRUE(parseLine(parser, "3d 2 [7 1.0][1 2 3][-4 1.0][4 5 6]").first);
    EXPECT_EQ(values(7, 1, 1, 2, 3, -4, 1, 4, 5, 6), values(of(parser.marker(0)), of(parser.marker(1))));
    EXPECT_FALSE(parseLine(parser, "3d x").first);
    EXPECT_EQ(0, parser.markerCount());
    for (const char* text : {"6d -5", "gl -1", "6di -2", "6df2 0 -3", "6dmtr 0 -1", "6dj 0 -1", "3d -5"})
        EXPECT_TRUE(parseLine(parser, text).first) << text;
    EXPECT_EQ(std::make_pair(-5, static_cast<const MarkerRecord*>(nullptr)),
              std::make_pair(parser.markerCount(), parser.marker(0)));
    ASSERT_TRUE(parseLine(parser, "6df2 1 1 [0 1 -1 -2]" + pose(1, 2, 3) + "[]").first);
    ASSERT_TRUE(parseLine(parser, "gl 1 [0 0.9 1 -1]" + pose(7, 8, 9)).first &&
                parseLine(parser, "6dj 1 1 [0 -3]").first);
    EXPECT_EQ(std::make_tuple(0, 0, 0, 0),
              std::make_tuple(parser.gripwand(0)->buttonCount, parser.gripwand(0)->joystickCount,
                              parser.hand(0)->fingerCount, parser.jointModel(0)->jointCount));
}

// "6dcal" counts bodies with the "6df" and "6dmt" entries, "glcal" hands, at the end of the frame; the body count may
// go negative. Unknown lines are accepted where they stand; a group may run into the next line.
TEST(ParserFrames, CalibratedCountsUnknownLinesAndGroupsOverLineEnds) {
    OstrelParser parser;
    const std::string wand = "6df 1 [0 1 0]" + pose(0, 0, 0), tool = "6dmt 1 [0 1 0]" + pose(0, 0, 0);
    ASSERT_TRUE(parseText(parser, "6dcal 5\n" + wand + "\n" + tool));
    EXPECT_EQ(values(3, reset(2)), values(parser.bodyCount(), of(parser.body(2))));
    ASSERT_TRUE(parseText(parser, wand + "\n6dcal 5\n" + tool));
    EXPECT_EQ(3, parser.bodyCount());
    ASSERT_TRUE(parseText(parser, "6dcal 1\n6df 2 [0 1 0]" + pose(0, 0, 0) + "[1 1 0]" + pose(0, 0, 0)));
    EXPECT_EQ(std::make_pair(-1, static_cast<const BodyRecord*>(nullptr)),
              std::make_pair(parser.bodyCount(), parser.body(0)));
    ASSERT_TRUE(parseText(parser, "6d 1 [1 0.5]" + pose(1, 1, 1) + "\nglcal 2"));
    EXPECT_EQ(values(2, reset(0), 2, 1, -1), values(parser.bodyCount(), of(parser.body(0)), parser.handCount(),
                                                    parser.hand(1)->id, parser.hand(1)->quality));
    ASSERT_TRUE(parseText(parser, "glcal 0"));
    EXPECT_EQ(0, parser.handCount());
    parser.beginFrame();
    for (const char* line : {"xyz 1 2 3", "6d", "6d\t1 [0 1]", " 6d 1 [0 1][1 2 3][1 0 0 0 1 0 0 0 1]", "", "fr"})
        EXPECT_EQ(std::make_pair(true, 0L), parseLine(parser, line)) << '"' << line << '"';
    const char* none = nullptr;
    EXPECT_FALSE(parser.parseLine(none));
    ASSERT_TRUE(parseText(parser, "6d 2 [0 1]" + pose(1, 1, 1) + "\n[1 0.5]" + pose(2, 2, 2) + " trailing\nfr 7" +
                                      std::string("\0\r\n6d x", 7)));
    EXPECT_EQ(std::make_tuple(2, 0.5, 7u),
              std::make_tuple(parser.bodyCount(), parser.body(1)->quality, parser.frameCounter()));
}

// Ids and counts beyond a table's bound (4 MiB) fail before any table grows; the most allowed work is 8 tables' worth.
TEST(ParserHostile, TablesStopAtTheirBound) {
    const int32_t bodies = OstrelParser::maxRecords<BodyRecord>(),
                  models = OstrelParser::maxRecords<JointModelRecord>();
    const std::vector<std::pair<std::string, std::string>> lines = {
        {"6d 1 [2147483647 1]" + pose(0, 0, 0), "[2147483647 1]"},
        {"6d 1 [" + std::to_string(bodies) + " 1]", " 1]"},
        {"gl 1 [2000000000 1 0 0]" + pose(0, 0, 0), "0 0]"},
        {"6di 1 [2000000000 1 1]" + pose(0, 0, 0), "1 1]"},
        {"6df 2000000000", "2000000000"},
        {"6df2 2000000000 0", "2000000000"},
        {"6dmt2 0 2000000000", "2000000000"},
        {"6dmtr 2000000000 0", "2000000000"},
        {"6dj " + std::to_string(models + 1) + " 0", std::to_string(models + 1)},
        {"3d 2147483647", "2147483647"},
        {"6dcal " + std::to_string(bodies + 1), std::to_string(bodies + 1)},
        {"glcal 2000000000", "2000000000"}};
    expectFailuresBehindTheirStops(lines, true);
    const auto last = [](int32_t records) { return std::to_string(records - 1); };
    OstrelParser parser;
    test_support::AllocationCount allocations;
    EXPECT_FALSE(parseText(
        parser, "6d 1 [" + last(bodies) + " 1]" + pose(0, 0, 0) + "\ngl 1 [" +
                    last(OstrelParser::maxRecords<HandRecord>()) + " 1 0 0]" + pose(0, 0, 0) + "\n6di 1 [" +
                    last(OstrelParser::maxRecords<InertialRecord>()) + " 1 1]" + pose(0, 0, 0) + "\n6df2 " +
                    std::to_string(OstrelParser::maxRecords<GripwandRecord>()) + " 0\n6dmtr " +
                    std::to_string(OstrelParser::maxRecords<MeasurementRefRecord>()) + " 0\n6dj " +
                    std::to_string(models) + " 0\n3d " + std::to_string(OstrelParser::maxRecords<MarkerRecord>())))
        << "the markers are announced, not sent";
    EXPECT_LE(allocations.bytes(), static_cast<long long>(8 * OstrelParser::kMaxTableBytes));
    EXPECT_GT(allocations.bytes(), static_cast<long long>(6 * OstrelParser::kMaxTableBytes));
    EXPECT_EQ(std::make_pair(bodies, OstrelParser::maxRecords<MarkerRecord>()),
              std::make_pair(parser.bodyCount(), parser.markerCount()));
}

// Shrinking and regrowing a large table line after line re-zeroes it: the frame's work allowance fails such a line.
TEST(ParserHostile, AFramesWorkIsBoundedNotItsNumbers) {
    const std::string models = std::to_string(OstrelParser::maxRecords<JointModelRecord>());
    const std::string refs = std::to_string(OstrelParser::maxRecords<MeasurementRefRecord>());
    for (const std::string& unit : {"6dj " + models + " 0\n6dj 0 0\n", "6dmtr " + refs + " 0\n6dmtr 0 0\n"}) {
        std::string frame = "fr 1\n";
        while (frame.size() + unit.size() < 65000) frame += unit;
        OstrelParser parser;
        EXPECT_FALSE(parseText(parser, frame)) << unit;
        EXPECT_EQ(1u, parser.frameCounter());
        EXPECT_TRUE(parseText(parser, "fr 2\n" + unit + unit)) << "a few such lines are fine";
    }
    // A table defined at its size again has nothing to reset.
    std::string same;
    for (int k = 0; k < 20; ++k) same += "6dj " + models + " 0\n";
    OstrelParser steady;
    EXPECT_TRUE(parseText(steady, same));
    // Growing costs the records a table lacks.
    const int32_t markers = OstrelParser::maxRecords<MarkerRecord>();
    OstrelParser parser;
    EXPECT_FALSE(parseText(parser, "3d " + std::to_string(markers - 1)));
    std::string burn;
    for (int k = 0; k < 8; ++k) burn += "6dj " + models + " 0\n6dj 0 0\n";
    EXPECT_FALSE(parseText(parser, burn + "3d " + std::to_string(markers))) << "the markers are announced, not sent";
    EXPECT_EQ(markers, parser.markerCount());
    std::string grown = "6d 20";
    for (int id = 30000; id < 30020; ++id) grown += " [" + std::to_string(id) + " 1][0 0 0]" + kRot;
    EXPECT_TRUE(parseText(parser, grown));
    EXPECT_FALSE(parseText(parser, "6d 1 [0 1][1 2 3][1 0 0") || parseText(parser, "6d 1 [0 1") ||
                 parseText(parser, "6d 9 " + std::string(60000, '[')) ||
                 parseText(parser, "6d 9 " + std::string(30000, '[') + std::string(30000, ']')));
    EXPECT_TRUE(parseText(parser, std::string(60000, '[')) && parseText(parser, std::string(60000, '\n')));
}
