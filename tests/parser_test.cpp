// The frame text readers and OstrelParser: values and where the cursor stops.
#include "link/ostrel_parser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "link/frame_text.h"

// Every allocation of this test program is counted while counting is on, so
// that a test can show a parse allocates nothing.
namespace {
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
std::atomic<long long> gAllocatedBytes{0};
}  // namespace

// GCC sees the inlined std::free and flags it, not knowing that this
// operator delete is the partner of this operator new.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    if (gCounting) {
        ++gAllocations;
        gAllocatedBytes += static_cast<long long>(size);
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

using namespace frametext;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const std::string kRot = "[1 0 0 0 1 0 0 0 1]";

// Allocation counter scope.
struct CountAllocations {
    CountAllocations() {
        gAllocations = 0;
        gAllocatedBytes = 0;
        gCounting = true;
    }
    ~CountAllocations() { gCounting = false; }
    long count() const { return gAllocations; }
    long long bytes() const { return gAllocatedBytes; }
};

bool parseText(OstrelParser& parser, const std::string& text) {
    parser.beginFrame();
    return parser.parseFrame(text.c_str(), text.size() + 1);
}

struct LineResult {
    bool accepted;
    long stop;  // cursor offset after the line
};

LineResult parseOneLine(OstrelParser& parser, const std::string& text) {
    const char* cursor = text.c_str();
    bool accepted = parser.parseLine(cursor);
    return {accepted, static_cast<long>(cursor - text.c_str())};
}

std::string pose(double x, double y, double z) {
    return "[" + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + "]" + kRot;
}

void expectResetBody(const BodyRecord* record, int32_t index) {
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(index, record->id);
    EXPECT_EQ(-1.0, record->quality);
    for (double v : record->loc) EXPECT_EQ(0.0, v);
    for (double v : record->rot) EXPECT_EQ(0.0, v);
}

// Every field of a record as a double, so that records compare bit for bit
// without their padding.
void addFields(std::vector<double>& out, const double* values, size_t n) { out.insert(out.end(), values, values + n); }
void addFields(std::vector<double>& out, const int32_t* values, size_t n) {
    for (size_t i = 0; i < n; ++i) out.push_back(values[i]);
}
std::vector<double> fieldsOf(const BodyRecord& r) {
    std::vector<double> f{double(r.id), r.quality};
    addFields(f, r.loc, 3);
    addFields(f, r.rot, 9);
    return f;
}
std::vector<double> fieldsOf(const GripwandRecord& r) {
    std::vector<double> f{double(r.id), r.quality, double(r.buttonCount), double(r.joystickCount)};
    addFields(f, r.buttons, 16);
    addFields(f, r.joystick, 8);
    addFields(f, r.loc, 3);
    addFields(f, r.rot, 9);
    return f;
}
std::vector<double> fieldsOf(const MeasurementToolRecord& r) {
    std::vector<double> f{double(r.id), r.quality, double(r.buttonCount), r.tipRadius};
    addFields(f, r.buttons, 16);
    addFields(f, r.loc, 3);
    addFields(f, r.rot, 9);
    addFields(f, r.covariance, 6);
    return f;
}
std::vector<double> fieldsOf(const HandRecord& r) {
    std::vector<double> f{double(r.id), r.quality, double(r.side), double(r.fingerCount)};
    addFields(f, r.loc, 3);
    addFields(f, r.rot, 9);
    for (const FingerRecord& finger : r.fingers) {
        addFields(f, finger.loc, 3);
        addFields(f, finger.rot, 9);
        f.push_back(finger.tipRadius);
        addFields(f, finger.phalanxLength, 3);
        addFields(f, finger.phalanxAngle, 2);
    }
    return f;
}
std::vector<double> fieldsOf(const JointModelRecord& r) {
    std::vector<double> f{double(r.id), double(r.jointCount)};
    for (const JointRecord& joint : r.joints) {
        f.push_back(joint.id);
        f.push_back(joint.quality);
        addFields(f, joint.loc, 3);
        addFields(f, joint.angles, 3);
        addFields(f, joint.rot, 9);
    }
    return f;
}
std::vector<double> fieldsOf(const InertialRecord& r) {
    std::vector<double> f{double(r.id), double(r.state), r.error};
    addFields(f, r.loc, 3);
    addFields(f, r.rot, 9);
    return f;
}
std::vector<double> fieldsOf(const MarkerRecord& r) {
    std::vector<double> f{double(r.id), r.quality};
    addFields(f, r.loc, 3);
    return f;
}

template <class Record>
bool sameRecord(const Record* a, const Record* b) {
    if (a == nullptr || b == nullptr) return a == b;
    std::vector<double> fa = fieldsOf(*a);
    std::vector<double> fb = fieldsOf(*b);
    return fa.size() == fb.size() && std::memcmp(fa.data(), fb.data(), fa.size() * sizeof(double)) == 0;
}

void expectIdentity(const double* rot) {
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(identity[i], rot[i]) << "rot[" << i << "]";
}

// ---------------------------------------------------------------- readers

template <class T>
void expectRead(const char* text, T expected, long stop) {
    T value{};
    const char* behind = nullptr;
    if constexpr (std::is_same_v<T, int32_t>) behind = readInt(text, value);
    if constexpr (std::is_same_v<T, uint32_t>) behind = readUInt(text, value);
    if constexpr (std::is_same_v<T, double>) behind = readDouble(text, value);
    ASSERT_NE(nullptr, behind) << '"' << text << '"';
    EXPECT_EQ(stop, behind - text) << '"' << text << '"';
    if constexpr (std::is_same_v<T, double>) {
        if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(value)) << text;
            return;
        }
    }
    EXPECT_EQ(expected, value) << '"' << text << '"';
}

TEST(FrameText, IntegersFollowTheBaseRule) {
    expectRead<int32_t>("42", 42, 2);
    expectRead<int32_t>("  -17x", -17, 5);
    expectRead<int32_t>("+5", 5, 2);
    expectRead<int32_t>("\t\r\n 9", 9, 5);
    expectRead<int32_t>("0x1F]", 31, 4);
    expectRead<int32_t>("0X1f", 31, 4);
    expectRead<int32_t>("-0x10", -16, 5);
    expectRead<int32_t>("010", 8, 3);
    expectRead<int32_t>("007", 7, 3);
    expectRead<int32_t>("08", 0, 1);   // octal: the 8 is not a digit
    expectRead<int32_t>("0x", 0, 1);   // no hex digit: the 0 alone
    expectRead<int32_t>("0xg", 0, 1);
    expectRead<int32_t>("12.5", 12, 2);
}

TEST(FrameText, IntegersClampAtTheirLimits) {
    expectRead<int32_t>("2147483647", INT32_MAX, 10);
    expectRead<int32_t>("2147483648", INT32_MAX, 10);
    expectRead<int32_t>("-2147483648", INT32_MIN, 11);
    expectRead<int32_t>("-99999999999999999999999", INT32_MIN, 24);
    expectRead<int32_t>("0xFFFFFFFFFFFFFFFFFFFF", INT32_MAX, 22);
    expectRead<uint32_t>("4294967295", UINT32_MAX, 10);
    expectRead<uint32_t>("4294967296", UINT32_MAX, 10);
    expectRead<uint32_t>("-1", UINT32_MAX, 2);  // negated modulo 2^32, as strtoul
    expectRead<uint32_t>(" 0x10", 16u, 5);
}

TEST(FrameText, WhatIsNoInteger) {
    int32_t value = 77;
    uint32_t unsignedValue = 77;
    for (const char* text : {"", "   ", "abc", "- 5", "+-5", "--5", "x12", "]"}) {
        EXPECT_EQ(nullptr, readInt(text, value)) << '"' << text << '"';
        EXPECT_EQ(nullptr, readUInt(text, unsignedValue)) << '"' << text << '"';
    }
    EXPECT_EQ(nullptr, readInt(nullptr, value));
    EXPECT_EQ(77, value) << "a failed read stores nothing";
}

TEST(FrameText, DoublesInEveryNotation) {
    expectRead<double>("1.5", 1.5, 3);
    expectRead<double>(" -2.5e3]", -2500.0, 7);
    expectRead<double>("1e", 1.0, 1);
    expectRead<double>("1e+", 1.0, 1);
    expectRead<double>(".5", 0.5, 2);
    expectRead<double>("5.", 5.0, 2);
    expectRead<double>("+.25", 0.25, 4);
    expectRead<double>("1,5", 1.0, 1);
    expectRead<double>("007.5", 7.5, 5);  // no octal for doubles
    expectRead<double>("0x1p3", 8.0, 5);
    expectRead<double>("0x.8p1", 1.0, 6);
    expectRead<double>("0x", 0.0, 1);
    expectRead<double>("inf", kInf, 3);
    expectRead<double>("-Infinity", -kInf, 9);
    expectRead<double>("nan", kNaN, 3);
    expectRead<double>("nan(12)", kNaN, 7);
}

TEST(FrameText, DoublesOutOfRangeAndOverLong) {
    expectRead<double>("1e400", kInf, 5);
    expectRead<double>("-1e400", -kInf, 6);
    expectRead<double>("123456789e99999999999", kInf, 21);
    expectRead<double>("1e-400", 0.0, 6);
    expectRead<double>("0.0000001e-99999999999", 0.0, 22);
    expectRead<double>("4e-320", 4e-320, 6);  // subnormal, still in range
    std::string big = "1" + std::string(299, '0');
    expectRead<double>(big.c_str(), 1e299, 300);
    std::string longFraction = "0.1" + std::string(5000, '0') + "1";
    expectRead<double>(longFraction.c_str(), 0.1, static_cast<long>(longFraction.size()));
}

TEST(FrameText, WhatIsNoDouble) {
    double value = 7.0;
    for (const char* text : {"", ".", "+-1", "--1", "- 1", "e5", "in", "[1]", "x"}) {
        EXPECT_EQ(nullptr, readDouble(text, value)) << '"' << text << '"';
    }
    EXPECT_EQ(7.0, value);
}

TEST(FrameText, ReadersStopAtTheirEnd) {
    const char* text = "12345 6.25e10";
    int32_t integer = 0;
    EXPECT_EQ(text + 3, readInt(text, text + 3, integer));
    EXPECT_EQ(123, integer);
    double number = 0;
    EXPECT_EQ(text + 10, readDouble(text + 5, text + 10, number));
    EXPECT_EQ(6.25, number);
    EXPECT_EQ(nullptr, readInt(text + 5, text + 6, integer)) << "only blanks before the end";
}

TEST(FrameText, GroupsReadTheirTypes) {
    int32_t ints[4] = {};
    double doubles[4] = {};
    std::string text = "[3 0.982] rest";
    EXPECT_EQ(text.c_str() + 9, readGroup(text.c_str(), "id", ints, doubles));
    EXPECT_EQ(3, ints[0]);
    EXPECT_EQ(0.982, doubles[0]);

    text = " junk\n[ 0x10\t-2.5e1 ] tail";
    EXPECT_EQ(text.c_str() + text.find(']') + 1, readGroup(text.c_str(), "id", ints, doubles))
        << "the [ may be on a later line";
    EXPECT_EQ(16, ints[0]);
    EXPECT_EQ(-25.0, doubles[0]);

    text = "[1 2 3 4]";
    EXPECT_EQ(text.c_str() + 9, readGroup(text.c_str(), "ii", ints, doubles)) << "extra numbers are ignored";
    EXPECT_EQ(2, ints[1]);

    text = "[]x";
    EXPECT_EQ(text.c_str() + 2, readGroup(text.c_str(), "", ints, doubles));
}

TEST(FrameText, BrokenGroupsFail) {
    int32_t ints[4] = {};
    double doubles[4] = {};
    EXPECT_EQ(nullptr, readGroup("[1]", "ii", ints, doubles));
    EXPECT_EQ(nullptr, readGroup("[1 ] 2]", "ii", ints, doubles)) << "no number past the ]";
    EXPECT_EQ(nullptr, readGroup("no group", "", ints, doubles));
    EXPECT_EQ(nullptr, readGroup("[1 2", "ii", ints, doubles));
    EXPECT_EQ(nullptr, readGroup("[1 2]", "ix", ints, doubles));
    EXPECT_EQ(nullptr, readGroup("[a]", "i", ints, doubles));
    EXPECT_EQ(nullptr, readGroup("[1,2]", "ii", ints, doubles));
    EXPECT_EQ(nullptr, readGroup("[1 2]", "ii", nullptr, doubles));
    EXPECT_EQ(nullptr, readGroup(nullptr, "", ints, doubles));
    const std::string text = "[7 1.5 ]";
    std::string copy = text;
    readGroup(copy.c_str(), "idd", ints, doubles);
    EXPECT_EQ(text, copy) << "the text is left unchanged";
}

TEST(FrameText, QuotedText) {
    std::string_view quoted;
    const char* text = "ostrel2 err 12 \"bad\" more";
    EXPECT_EQ(text + 20, readQuoted(text, quoted));
    EXPECT_EQ("bad", quoted);
    text = "\"\" x";
    EXPECT_EQ(text + 2, readQuoted(text, quoted));
    EXPECT_EQ("", quoted);
    EXPECT_EQ(nullptr, readQuoted("one \"quote", quoted));
    EXPECT_EQ(nullptr, readQuoted("none", quoted));
}

TEST(FrameText, NextLineSkipsRunsOfLineEnds) {
    const char* text = "fr 1\r\n\n6d 0";
    EXPECT_EQ(text + 7, nextLine(text, text, 12));
    EXPECT_EQ(text + 7, nextLine(text, text + 2, 12)) << "from inside the line";
    EXPECT_EQ(nullptr, nextLine(text, text + 7, 12)) << "last line";
    const char* trailing = "a\n\r\n";
    EXPECT_EQ(nullptr, nextLine(trailing, trailing, 5));
    const char* cut = "a\nb";
    EXPECT_EQ(nullptr, nextLine(cut, cut, 2)) << "the buffer ends first";
    EXPECT_EQ(nullptr, nextLine(cut, nullptr, 4));
}

// ---------------------------------------------------------------- lines

TEST(ParserLines, FrameCounterAndTimestamp) {
    OstrelParser parser;
    EXPECT_EQ(0u, parser.frameCounter());
    EXPECT_EQ(-1.0, parser.timestamp());
    parser.beginFrame();
    LineResult result = parseOneLine(parser, "fr 1234\n");
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(7, result.stop);
    EXPECT_EQ(1234u, parser.frameCounter());
    EXPECT_TRUE(parseOneLine(parser, "fr 0x10").accepted);
    EXPECT_EQ(16u, parser.frameCounter());
    result = parseOneLine(parser, "fr x");
    EXPECT_FALSE(result.accepted);
    EXPECT_EQ(3, result.stop);
    EXPECT_EQ(0u, parser.frameCounter());

    result = parseOneLine(parser, "ts 12.5 ");
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(7, result.stop);
    EXPECT_EQ(12.5, parser.timestamp());
    EXPECT_FALSE(parseOneLine(parser, "ts x").accepted);
    EXPECT_EQ(-1.0, parser.timestamp());

    ASSERT_TRUE(parseText(parser, "fr 3"));
    EXPECT_EQ(-1.0, parser.timestamp()) << "a frame without ts";
}

TEST(ParserLines, BeginFrameClearsOnlyPerFrameValues) {
    OstrelParser parser;
    ASSERT_TRUE(parseText(parser, "fr 3\nts 2\n6dcal 9\nglcal 1\n6df 1 [0 1 0]" + pose(1, 2, 3) +
                                      "\n6dmt 1 [0 1 0]" + pose(1, 2, 3)));
    parser.beginFrame();
    EXPECT_EQ(0u, parser.frameCounter());
    EXPECT_EQ(-1.0, parser.timestamp());
    EXPECT_EQ(-1, parser.calibratedBodies());
    EXPECT_EQ(-1, parser.calibratedHands());
    EXPECT_EQ(0, parser.count6df());
    EXPECT_EQ(0, parser.count6dmt());
    EXPECT_EQ(1, parser.gripwandCount());
    EXPECT_EQ(7, parser.bodyCount());
}

TEST(ParserLines, BodiesGrowByIdAndResetPerLine) {
    OstrelParser parser;
    ASSERT_TRUE(parseText(parser, "6d 2 [0 0.5]" + pose(1, 1, 1) + "[1 0.6]" + pose(2, 2, 2)));
    ASSERT_EQ(2, parser.bodyCount());
    EXPECT_EQ(0.6, parser.body(1)->quality);

    parser.beginFrame();
    const std::string line = "6d 1 [5 0.9][1 2 3][1 0 0 0 1 0 0 0 1] tail";
    LineResult result = parseOneLine(parser, line);
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(static_cast<long>(line.size() - 5), result.stop);
    ASSERT_EQ(6, parser.bodyCount());
    for (int i = 0; i < 5; ++i) expectResetBody(parser.body(i), i);
    const BodyRecord* body = parser.body(5);
    EXPECT_EQ(5, body->id);
    EXPECT_EQ(0.9, body->quality);
    EXPECT_EQ(1.0, body->loc[0]);
    EXPECT_EQ(2.0, body->loc[1]);
    EXPECT_EQ(3.0, body->loc[2]);
    expectIdentity(body->rot);
    EXPECT_EQ(nullptr, parser.body(6));
    EXPECT_EQ(nullptr, parser.body(-1));

    EXPECT_TRUE(parseOneLine(parser, "6d 0").accepted);
    EXPECT_EQ(6, parser.bodyCount()) << "an empty line keeps the count";
    expectResetBody(parser.body(5), 5);
}

TEST(ParserLines, BodyIdsTakeBasePrefixesAndComeInAnyOrder) {
    OstrelParser parser;
    ASSERT_TRUE(parseText(parser, "6d 2 [0x1F 0.5]" + pose(1, 0, 0) + "[010 0.25]" + pose(2, 0, 0)));
    ASSERT_EQ(32, parser.bodyCount());
    EXPECT_EQ(0.5, parser.body(31)->quality);
    EXPECT_EQ(8, parser.body(8)->id);
    EXPECT_EQ(0.25, parser.body(8)->quality);
    EXPECT_EQ(-1.0, parser.body(9)->quality);
}

TEST(ParserLines, SecondLineOfAKindResetsAgain) {
    OstrelParser parser;
    ASSERT_TRUE(parseText(parser, "6d 1 [0 0.5]" + pose(1, 0, 0) + "\n6d 1 [1 0.7]" + pose(2, 0, 0)));
    EXPECT_EQ(-1.0, parser.body(0)->quality);
    EXPECT_EQ(0.7, parser.body(1)->quality);
}

TEST(ParserLines, FailedEntryKeepsWhatCameBefore) {
    OstrelParser parser;
    parser.beginFrame();
    const std::string line = "6d 2 [0 0.5]" + pose(4, 5, 6) + " [-1 0.5]" + pose(1, 1, 1);
    LineResult result = parseOneLine(parser, line);
    EXPECT_FALSE(result.accepted);
    EXPECT_EQ(0.5, parser.body(0)->quality);
    EXPECT_EQ(6.0, parser.body(0)->loc[2]);
    EXPECT_EQ(static_cast<long>(line.find(" [-1") + 9), result.stop) << "behind the group that broke the rule";
}

TEST(ParserLines, GripwandButtonWordAndJoystick) {
    OstrelParser parser;
    parser.beginFrame();
    EXPECT_TRUE(parseOneLine(parser, "6df2 1 1 [0 1 16 0][0 0 0]" + kRot + "[0xFFFF]").accepted);
    ASSERT_TRUE(parseOneLine(parser, "6df 1 [0 1.0 33]" + pose(1, 2, 3)).accepted);
    EXPECT_EQ(1, parser.count6df());
    ASSERT_EQ(1, parser.gripwandCount());
    const GripwandRecord* wand = parser.gripwand(0);
    EXPECT_EQ(8, wand->buttonCount);
    const int expected[16] = {1, 0, 0, 0, 0, 1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1};  // 8..15 kept
    for (int b = 0; b < 16; ++b) EXPECT_EQ(expected[b], wand->buttons[b]) << "button " << b;
    EXPECT_EQ(2, wand->joystickCount);
    EXPECT_EQ(-1.0, wand->joystick[0]);
    EXPECT_EQ(0.0, wand->joystick[1]);
    EXPECT_EQ(3.0, wand->loc[2]);

    ASSERT_TRUE(parseOneLine(parser, "6df 1 [0 1.0 0xC0]" + pose(0, 0, 0)).accepted);
    EXPECT_EQ(1.0, parser.gripwand(0)->joystick[0]);
    EXPECT_EQ(1.0, parser.gripwand(0)->joystick[1]);
    ASSERT_TRUE(parseOneLine(parser, "6df 1 [0 1.0 0xF0]" + pose(0, 0, 0)).accepted);
    EXPECT_EQ(-1.0, parser.gripwand(0)->joystick[0]) << "left beats right";
    EXPECT_EQ(-1.0, parser.gripwand(0)->joystick[1]) << "down beats up";
}

TEST(ParserLines, GripwandTableFollowsTheAnnouncedCount) {
    OstrelParser parser;
    parser.beginFrame();
    ASSERT_TRUE(parseOneLine(parser, "6df 2 [0 1 1]" + pose(1, 1, 1) + "[1 1 1]" + pose(2, 2, 2)).accepted);
    ASSERT_TRUE(parseOneLine(parser, "6df 1 [0 1 1]" + pose(1, 1, 1)).accepted);
    EXPECT_EQ(1, parser.gripwandCount());
    EXPECT_EQ(nullptr, parser.gripwand(1));
    EXPECT_FALSE(parseOneLine(parser, "6df 2 [0 1 1]" + pose(1, 1, 1)).accepted) << "the second entry is missing";
    ASSERT_EQ(2, parser.gripwandCount());
    EXPECT_EQ(0.0, parser.gripwand(1)->loc[0]) << "a record that comes back starts all zero";
    EXPECT_FALSE(parseOneLine(parser, "6df 2 [1 1 1]" + pose(1, 1, 1)).accepted) << "id must equal its place";
}

TEST(ParserLines, GripwandWithButtonAndJoystickCounts) {
    OstrelParser parser;
    parser.beginFrame();
    ASSERT_TRUE(parseOneLine(parser, "6df2 2 1 [0 0.8 12 2]" + pose(1, 2, 3) + "[0xFFF 0.5 -0.5]").accepted);
    EXPECT_EQ(0, parser.count6df()) << "only 6df sets it";
    ASSERT_EQ(2, parser.gripwandCount());
    const GripwandRecord* wand = parser.gripwand(0);
    EXPECT_EQ(12, wand->buttonCount);
    for (int b = 0; b < 16; ++b) EXPECT_EQ(b < 12 ? 1 : 0, wand->buttons[b]) << "button " << b;
    EXPECT_EQ(2, wand->joystickCount);
    EXPECT_EQ(0.5, wand->joystick[0]);
    EXPECT_EQ(-0.5, wand->joystick[1]);
    EXPECT_EQ(0.0, parser.gripwand(1)->quality) << "no entry: left as it was";

    EXPECT_FALSE(parseOneLine(parser, "6df2 2 1 [0 1 17 0]" + pose(0, 0, 0) + "[1]").accepted);
    EXPECT_FALSE(parseOneLine(parser, "6df2 2 1 [0 1 0 9]" + pose(0, 0, 0) + "[1 1 1 1 1 1 1 1 1]").accepted);
    EXPECT_FALSE(parseOneLine(parser, "6df2 2 1 [0 1 -1 0]" + pose(0, 0, 0) + "[]").accepted);
    EXPECT_FALSE(parseOneLine(parser, "6df2 2 1 [0 1 0 -2]" + pose(0, 0, 0) + "[]").accepted);
    EXPECT_FALSE(parseOneLine(parser, "6df2 1 2 [0 1 0 0]" + pose(0, 0, 0) + "[][1 1 0 0]" + pose(0, 0, 0) + "[]")
                     .accepted)
        << "more entries than defined";
}

TEST(ParserLines, GripwandWithoutButtonsStillNeedsItsEmptyGroup) {
    OstrelParser parser;
    parser.beginFrame();
    EXPECT_TRUE(parseOneLine(parser, "6df2 1 1 [0 1 0 0]" + pose(1, 1, 1) + "[]").accepted);
    // Without "[]" the group reader takes the next "[" of the following
    // line, which is thereby swallowed.
    const std::string frame = "6df2 1 1 [0 1 0 0]" + pose(1, 1, 1) + "\n6d 1 [0 1]" + pose(2, 2, 2) + "\nfr 4";
    ASSERT_TRUE(parseText(parser, frame));
    EXPECT_EQ(0, parser.bodyCount());
    EXPECT_EQ(4u, parser.frameCounter());
    LineResult result = parseOneLine(parser, frame);
    EXPECT_EQ(static_cast<long>(frame.find("[0 1]") + 5), result.stop);
}

TEST(ParserLines, MeasurementTools) {
    OstrelParser parser;
    parser.beginFrame();
    ASSERT_TRUE(parseOneLine(parser, "6dmt2 5 1 [0 0.6 16 2.5]" + pose(0, 0, 0) + "[0xFFFF][1 2 3 4 5 6]").accepted);
    ASSERT_TRUE(parseOneLine(parser, "6dmt 1 [0 0.7 5]" + pose(7, 8, 9)).accepted);
    EXPECT_EQ(1, parser.count6dmt());
    const MeasurementToolRecord* tool = parser.measurementTool(0);
    EXPECT_EQ(4, tool->buttonCount);
    for (int b = 0; b < 16; ++b) EXPECT_EQ(b == 0 || b == 2 ? 1 : 0, tool->buttons[b]) << "button " << b;
    EXPECT_EQ(0.0, tool->tipRadius);
    for (double c : tool->covariance) EXPECT_EQ(0.0, c);
    EXPECT_EQ(9.0, tool->loc[2]);
    EXPECT_FALSE(parseOneLine(parser, "6dmt 1 [3 0.7 5]" + pose(7, 8, 9)).accepted);
}

TEST(ParserLines, MeasurementToolsWithButtonCounts) {
    OstrelParser parser;
    parser.beginFrame();
    const std::string line = "6dmt2 3 2 [0 0.6 17 2.5]" + pose(1, 2, 3) + "[0x1FFFF][1 2 3 4 5 6]" +
                             "[1 0.4 0 1.5]" + pose(4, 5, 6) + "[][0 0 0 0 0 0]";
    LineResult result = parseOneLine(parser, line);
    ASSERT_TRUE(result.accepted);
    EXPECT_EQ(static_cast<long>(line.size()), result.stop);
    EXPECT_EQ(0, parser.count6dmt());
    ASSERT_EQ(2, parser.measurementToolCount()) << "the entries set the size, not the defined count";
    const MeasurementToolRecord* tool = parser.measurementTool(0);
    EXPECT_EQ(16, tool->buttonCount) << "17 is cut to 16";
    for (int b = 0; b < 16; ++b) EXPECT_EQ(1, tool->buttons[b]);
    EXPECT_EQ(2.5, tool->tipRadius);
    EXPECT_EQ(6.0, tool->covariance[5]);
    EXPECT_EQ(0, parser.measurementTool(1)->buttonCount);
    for (int b = 0; b < 16; ++b) EXPECT_EQ(0, parser.measurementTool(1)->buttons[b]);
    EXPECT_FALSE(parseOneLine(parser, "6dmt2 1 1 [0 0.6 -1 2.5]" + pose(1, 2, 3) + "[][1 2 3 4 5 6]").accepted);
}

TEST(ParserLines, ToolReferences) {
    OstrelParser parser;
    parser.beginFrame();
    ASSERT_TRUE(parseOneLine(parser, "6dmtr 3 1 [2 0.4]" + pose(1, 2, 3)).accepted);
    ASSERT_EQ(3, parser.measurementRefCount());
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(i, parser.measurementRef(i)->id);
        EXPECT_EQ(-1.0, parser.measurementRef(i)->quality);
    }
    EXPECT_EQ(0.4, parser.measurementRef(2)->quality);
    ASSERT_TRUE(parseOneLine(parser, "6dmtr 3 0").accepted);
    EXPECT_EQ(-1.0, parser.measurementRef(2)->quality);
    EXPECT_EQ(3.0, parser.measurementRef(2)->loc[2]) << "the pose is kept";
    EXPECT_FALSE(parseOneLine(parser, "6dmtr 3 1 [3 0.4]" + pose(1, 2, 3)).accepted);
    EXPECT_FALSE(parseOneLine(parser, "6dmtr 3 1 [-1 0.4]" + pose(1, 2, 3)).accepted);
}

TEST(ParserLines, HandsWithFingers) {
    OstrelParser parser;
    parser.beginFrame();
    std::string fingers;
    for (int f = 0; f < 2; ++f) fingers += pose(f, 0, 0) + "[1 2 3 4 5 6]";
    ASSERT_TRUE(parseOneLine(parser, "gl 1 [1 0.9 1 2]" + pose(7, 8, 9) + fingers).accepted);
    ASSERT_EQ(2, parser.handCount());
    EXPECT_EQ(0, parser.hand(0)->id);
    EXPECT_EQ(-1.0, parser.hand(0)->quality);
    const HandRecord* hand = parser.hand(1);
    EXPECT_EQ(1, hand->side);
    EXPECT_EQ(2, hand->fingerCount);
    EXPECT_EQ(0.9, hand->quality);
    const FingerRecord& finger = hand->fingers[1];
    EXPECT_EQ(1.0, finger.loc[0]);
    EXPECT_EQ(1.0, finger.tipRadius);
    EXPECT_EQ(2.0, finger.phalanxLength[0]);
    EXPECT_EQ(3.0, finger.phalanxAngle[0]);
    EXPECT_EQ(4.0, finger.phalanxLength[1]);
    EXPECT_EQ(5.0, finger.phalanxAngle[1]);
    EXPECT_EQ(6.0, finger.phalanxLength[2]);
    EXPECT_FALSE(parseOneLine(parser, "gl 1 [0 0.9 1 6]" + pose(7, 8, 9)).accepted);
    EXPECT_FALSE(parseOneLine(parser, "gl 1 [0 0.9 1 -1]" + pose(7, 8, 9)).accepted);
}

TEST(ParserLines, JointModels) {
    OstrelParser parser;
    parser.beginFrame();
    const std::string joints = "[3 0.5][1 2 3 10 20 30]" + kRot + "[4 0.6][4 5 6 40 50 60]" + kRot;
    ASSERT_TRUE(parseOneLine(parser, "6dj 2 1 [1 2]" + joints).accepted);
    ASSERT_EQ(2, parser.jointModelCount());
    EXPECT_EQ(0, parser.jointModel(0)->id);
    EXPECT_EQ(0, parser.jointModel(0)->jointCount);
    const JointModelRecord* model = parser.jointModel(1);
    EXPECT_EQ(2, model->jointCount);
    EXPECT_EQ(4, model->joints[1].id);
    EXPECT_EQ(0.6, model->joints[1].quality);
    EXPECT_EQ(6.0, model->joints[1].loc[2]);
    EXPECT_EQ(60.0, model->joints[1].angles[2]);
    expectIdentity(model->joints[1].rot);
    ASSERT_TRUE(parseOneLine(parser, "6dj 2 0").accepted);
    EXPECT_EQ(0, parser.jointModel(1)->jointCount) << "reset at the start of the line";
    EXPECT_FALSE(parseOneLine(parser, "6dj 2 1 [2 0]").accepted);
    EXPECT_FALSE(parseOneLine(parser, "6dj 2 1 [0 201]").accepted);
    EXPECT_FALSE(parseOneLine(parser, "6dj 2 1 [0 -1]").accepted);
}

TEST(ParserLines, InertialBodies) {
    OstrelParser parser;
    parser.beginFrame();
    ASSERT_TRUE(parseOneLine(parser, "6di 1 [2 1 0.25]" + pose(1, 2, 3)).accepted);
    ASSERT_EQ(3, parser.inertialCount());
    EXPECT_EQ(1, parser.inertial(1)->id);
    EXPECT_EQ(0, parser.inertial(1)->state);
    const InertialRecord* body = parser.inertial(2);
    EXPECT_EQ(1, body->state);
    EXPECT_EQ(0.25, body->error);
    EXPECT_EQ(2.0, body->loc[1]);
    ASSERT_TRUE(parseOneLine(parser, "6di 0").accepted);
    EXPECT_EQ(0, parser.inertial(2)->state);
    EXPECT_EQ(2, parser.inertial(2)->id);
    EXPECT_FALSE(parseOneLine(parser, "6di 1 [-1 1 0.25]" + pose(1, 2, 3)).accepted);
}

TEST(ParserLines, MarkersInEntryOrder) {
    OstrelParser parser;
    parser.beginFrame();
    ASSERT_TRUE(parseOneLine(parser, "3d 2 [7 1.0][1 2 3][9 1.0][4 5 6]").accepted);
    ASSERT_EQ(2, parser.markerCount());
    EXPECT_EQ(7, parser.marker(0)->id);
    EXPECT_EQ(9, parser.marker(1)->id);
    EXPECT_EQ(6.0, parser.marker(1)->loc[2]);
    ASSERT_TRUE(parseOneLine(parser, "3d 1 [-4 0.5][1 1 1]").accepted);
    EXPECT_EQ(1, parser.markerCount());
    EXPECT_EQ(-4, parser.marker(0)->id) << "marker ids are not checked";
    EXPECT_FALSE(parseOneLine(parser, "3d x").accepted);
    EXPECT_EQ(0, parser.markerCount());
}

TEST(ParserFrames, CalibratedCountsApplyAtEndFrame) {
    OstrelParser parser;
    const std::string wand = "6df 1 [0 1 0]" + pose(0, 0, 0);
    const std::string tool = "6dmt 1 [0 1 0]" + pose(0, 0, 0);
    ASSERT_TRUE(parseText(parser, "6dcal 5\n" + wand + "\n" + tool));
    ASSERT_EQ(3, parser.bodyCount());
    for (int i = 0; i < 3; ++i) expectResetBody(parser.body(i), i);
    ASSERT_TRUE(parseText(parser, wand + "\n6dcal 5\n" + tool)) << "lines in any order";
    EXPECT_EQ(3, parser.bodyCount());

    ASSERT_TRUE(parseText(parser, "6dcal 1\n6df 2 [0 1 0]" + pose(0, 0, 0) + "[1 1 0]" + pose(0, 0, 0)));
    EXPECT_EQ(-1, parser.bodyCount());
    for (int i = -1; i < 4; ++i) EXPECT_EQ(nullptr, parser.body(i));
    ASSERT_TRUE(parseText(parser, "6d 0")) << "a negative count resets nothing";
    EXPECT_EQ(-1, parser.bodyCount());
    ASSERT_TRUE(parseText(parser, "6d 1 [1 0.5]" + pose(1, 1, 1)));
    ASSERT_EQ(2, parser.bodyCount());
    expectResetBody(parser.body(0), 0);
    EXPECT_EQ(0.5, parser.body(1)->quality);

    ASSERT_TRUE(parseText(parser, "glcal 2"));
    ASSERT_EQ(2, parser.handCount());
    EXPECT_EQ(1, parser.hand(1)->id);
    EXPECT_EQ(-1.0, parser.hand(1)->quality);
    ASSERT_TRUE(parseText(parser, "glcal 0"));
    EXPECT_EQ(0, parser.handCount());
}

TEST(ParserFrames, UnknownAndBlankPrefixedLinesAreAcceptedAndIgnored) {
    OstrelParser parser;
    parser.beginFrame();
    for (const char* line : {"xyz 1 2 3", "6d", "6d\t1 [0 1]", " 6d 1 [0 1][1 2 3][1 0 0 0 1 0 0 0 1]", "", "fr"}) {
        LineResult result = parseOneLine(parser, line);
        EXPECT_TRUE(result.accepted) << '"' << line << '"';
        EXPECT_EQ(0, result.stop) << '"' << line << '"';
    }
    EXPECT_EQ(0, parser.bodyCount());
    const char* none = nullptr;
    EXPECT_FALSE(parser.parseLine(none));
}

TEST(ParserFrames, GroupsRunOverIntoTheNextLine) {
    OstrelParser parser;
    const std::string frame = "6d 2 [0 1]" + pose(1, 1, 1) + "\n[1 0.5]" + pose(2, 2, 2) + " trailing\nfr 7\r\n";
    ASSERT_TRUE(parseText(parser, frame));
    ASSERT_EQ(2, parser.bodyCount());
    EXPECT_EQ(0.5, parser.body(1)->quality);
    EXPECT_EQ(7u, parser.frameCounter()) << "the next line is found from where the cursor stood";
}

TEST(ParserFrames, AFailingLineEndsTheFrameWithoutEndFrame) {
    OstrelParser parser;
    const std::string frame = "fr 5\n6dcal 0\n6d 1 [0 0.5]" + pose(1, 2, 3) + "\n6df x\nts 9";
    EXPECT_FALSE(parseText(parser, frame));
    EXPECT_EQ(5u, parser.frameCounter());
    EXPECT_EQ(-1.0, parser.timestamp()) << "lines after the failure are not read";
    ASSERT_EQ(1, parser.bodyCount()) << "6dcal 0 was not applied";
    EXPECT_EQ(0.5, parser.body(0)->quality);
}

TEST(ParserFrames, IdenticalFramesGiveIdenticalRecords) {
    OstrelParser first;
    OstrelParser second;
    const std::string frame = "fr 1\n6d 1 [0 0.5]" + pose(1.25, 2.5, 3.75) + "\n6di 1 [0 2 0.5]" + pose(1, 2, 3);
    ASSERT_TRUE(parseText(first, frame));
    ASSERT_TRUE(parseText(second, frame));
    ASSERT_TRUE(parseText(second, frame));
    EXPECT_TRUE(sameRecord(first.body(0), second.body(0)));
    EXPECT_TRUE(sameRecord(first.inertial(0), second.inertial(0)));
}

// ---------------------------------------------------------------- hostile input

TEST(ParserHostile, HugeIdsAndCountsFailTheLine) {
    const std::vector<std::string> lines = {
        "6d 1 [2147483647 1]" + pose(0, 0, 0), "6d 1 [99999999999 1]" + pose(0, 0, 0),
        "gl 1 [2000000000 1 0 0]" + pose(0, 0, 0), "6di 1 [2000000000 1 1]" + pose(0, 0, 0),
        "6df 2000000000", "6df2 2000000000 0", "6dmt 2000000000", "6dmt2 0 2000000000", "6dmtr 2000000000 0",
        "6dj 2000000000 0", "3d 2147483647", "6dcal 2000000000", "glcal 2000000000"};
    std::vector<char> accepted(lines.size(), 1);
    OstrelParser parser;
    parser.beginFrame();
    long allocated = 0;
    {
        CountAllocations allocations;
        for (size_t i = 0; i < lines.size(); ++i) accepted[i] = parseOneLine(parser, lines[i]).accepted;
        allocated = allocations.count();
    }
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_FALSE(accepted[i]) << lines[i];
    EXPECT_EQ(0, allocated) << "nothing grew";
    EXPECT_EQ(0, parser.bodyCount());
    EXPECT_EQ(0, parser.gripwandCount());
    EXPECT_EQ(0, parser.markerCount());
    EXPECT_EQ(-1, parser.calibratedBodies());
}

TEST(ParserHostile, NegativeTableSizesFailButNegativeEntryCountsAreEmpty) {
    OstrelParser parser;
    parser.beginFrame();
    for (const char* line : {"6df -1", "6df2 -1 0", "6dmt -1", "6dmt2 0 -1", "6dmtr -1 0", "6dj -1 0"}) {
        EXPECT_FALSE(parseOneLine(parser, line).accepted) << line;
    }
    EXPECT_EQ(0, parser.count6df());
    for (const char* line : {"6d -5", "gl -1", "6di -2", "6df2 0 -3", "6dmtr 0 -1", "6dj 0 -1", "3d -5"}) {
        EXPECT_TRUE(parseOneLine(parser, line).accepted) << line;
    }
    EXPECT_EQ(-5, parser.markerCount()) << "the marker count follows the line; no table needs to shrink";
    EXPECT_EQ(nullptr, parser.marker(0));
}

// The bound is per table: the largest ids and counts it allows still work,
// and a whole frame of them stays within eight tables' worth.
TEST(ParserHostile, TablesStopAtTheirBound) {
    const auto last = [](int32_t records) { return std::to_string(records - 1); };
    OstrelParser parser;
    const std::string frame =
        "6d 1 [" + last(OstrelParser::maxRecords<BodyRecord>()) + " 1]" + pose(0, 0, 0) + "\ngl 1 [" +
        last(OstrelParser::maxRecords<HandRecord>()) + " 1 0 0]" + pose(0, 0, 0) + "\n6di 1 [" +
        last(OstrelParser::maxRecords<InertialRecord>()) + " 1 1]" + pose(0, 0, 0) + "\n6df2 " +
        std::to_string(OstrelParser::maxRecords<GripwandRecord>()) + " 0\n6dmt2 0 0\n6dmtr " +
        std::to_string(OstrelParser::maxRecords<MeasurementRefRecord>()) + " 0\n6dj " +
        std::to_string(OstrelParser::maxRecords<JointModelRecord>()) + " 0\n3d " +
        std::to_string(OstrelParser::maxRecords<MarkerRecord>());
    bool parsed = true;
    long long allocatedBytes = 0;
    {
        CountAllocations allocations;
        parsed = parseText(parser, frame);
        allocatedBytes = allocations.bytes();
    }
    EXPECT_FALSE(parsed) << "the markers are announced but missing";
    EXPECT_LE(allocatedBytes, static_cast<long long>(8 * OstrelParser::kMaxTableBytes));
    EXPECT_GT(allocatedBytes, static_cast<long long>(6 * OstrelParser::kMaxTableBytes)) << "the tables did grow";
    EXPECT_EQ(OstrelParser::maxRecords<BodyRecord>(), parser.bodyCount());
    EXPECT_EQ(OstrelParser::maxRecords<MarkerRecord>(), parser.markerCount());
    parser.beginFrame();
    EXPECT_FALSE(parseOneLine(parser, "6d 1 [" + std::to_string(OstrelParser::maxRecords<BodyRecord>()) + " 1]" +
                                          pose(0, 0, 0))
                     .accepted);
    EXPECT_FALSE(parseOneLine(parser, "6dj " + std::to_string(OstrelParser::maxRecords<JointModelRecord>() + 1) + " 0")
                     .accepted);
    EXPECT_FALSE(parseOneLine(parser, "6dcal " + std::to_string(OstrelParser::maxRecords<BodyRecord>() + 1)).accepted);
}

// Shrinking and regrowing a large table line after line would re-zero it
// every time; the frame's work allowance ends that with a failed line, and
// the next frame has its full allowance again.
TEST(ParserHostile, RegrowingLargeTablesLineAfterLineFails) {
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
}

TEST(ParserHostile, NonFiniteAndOverLongNumbersAreReadNotTrusted) {
    OstrelParser parser;
    const std::string zeros(5000, '0');
    ASSERT_TRUE(parseText(parser, "6d 1 [" + zeros + "1 nan][inf -inf 1e999][nan 0 0 0 1 0 0 0 1]\nts -nan\nfr 1" +
                                      zeros));
    ASSERT_EQ(2, parser.bodyCount());
    EXPECT_TRUE(std::isnan(parser.body(1)->quality));
    EXPECT_EQ(kInf, parser.body(1)->loc[0]);
    EXPECT_EQ(-kInf, parser.body(1)->loc[1]);
    EXPECT_EQ(kInf, parser.body(1)->loc[2]);
    EXPECT_TRUE(std::isnan(parser.timestamp()));
    EXPECT_EQ(UINT32_MAX, parser.frameCounter());
}

TEST(ParserHostile, UnterminatedAndBracketOnlyFrames) {
    OstrelParser parser;
    EXPECT_FALSE(parseText(parser, "6d 1 [0 1][1 2 3][1 0 0"));
    EXPECT_FALSE(parseText(parser, "6d 1 [0 1"));
    EXPECT_TRUE(parseText(parser, std::string(60000, '['))) << "no tag: an unknown line";
    EXPECT_FALSE(parseText(parser, "6d 9 " + std::string(60000, '[')));
    EXPECT_FALSE(parseText(parser, "6d 9 " + std::string(30000, '[') + std::string(30000, ']')));
    EXPECT_TRUE(parseText(parser, std::string(60000, '\n')));
    std::string manyLines;
    for (int i = 0; i < 10000; ++i) manyLines += "6d 0\n3d 0\n";
    EXPECT_TRUE(parseText(parser, manyLines));
}

// ---------------------------------------------------------------- allocation, locale

std::string typicalFrame() {
    std::string frame = "fr 100\nts 12.5\n6dcal 6\n6d 4";
    for (int id = 0; id < 4; ++id) frame += " [" + std::to_string(id) + " 1.0]" + pose(id * 10.5, 200.25, -3e2);
    frame += "\n6df 1 [0 1.0 33]" + pose(1, 2, 3);
    frame += "\n6df2 2 2 [0 1 8 2]" + pose(1, 2, 3) + "[5 0.5 -0.5][1 1 3 0]" + pose(4, 5, 6) + "[7]";
    frame += "\n6dmt 1 [0 1.0 1]" + pose(4, 5, 6);
    frame += "\n6dmt2 1 1 [0 1 2 1.5]" + pose(7, 8, 9) + "[3][1 2 3 4 5 6]";
    frame += "\n6dmtr 2 1 [1 0.5]" + pose(1, 1, 1);
    frame += "\nglcal 2\ngl 1 [1 1 0 1]" + pose(1, 1, 1) + pose(2, 2, 2) + "[1 2 3 4 5 6]";
    frame += "\n6dj 1 1 [0 1][0 1][1 2 3 4 5 6]" + kRot;
    frame += "\n6di 1 [1 2 0.1]" + pose(3, 3, 3);
    frame += "\n3d 3 [1 1][1 2 3][2 1][4 5 6][3 1][7 8 9]\n";
    return frame;
}

TEST(ParserAllocation, ParsingTheSameFrameAgainAllocatesNothing) {
    OstrelParser parser;
    const std::string frame = typicalFrame();
    ASSERT_TRUE(parseText(parser, frame));
    CountAllocations allocations;
    bool parsed = parseText(parser, frame);
    EXPECT_EQ(0, allocations.count());
    EXPECT_TRUE(parsed);
}

TEST(ParserAllocation, TablesThatShrinkAndGrowBackAllocateNothing) {
    OstrelParser parser;
    const std::string big = "6df 3 [0 1 0]" + pose(0, 0, 0) + "[1 1 0]" + pose(0, 0, 0) + "[2 1 0]" + pose(0, 0, 0) +
                            "\n6dj 3 0\n6dmtr 3 0";
    const std::string small = "6df 1 [0 1 0]" + pose(0, 0, 0) + "\n6dcal 1\n6dj 1 0\n6dmtr 1 0";
    ASSERT_TRUE(parseText(parser, big));
    ASSERT_TRUE(parseText(parser, small));
    long allocated = 0;
    bool parsed = false;
    {
        CountAllocations allocations;
        parsed = parseText(parser, big) && parseText(parser, small);
        allocated = allocations.count();
    }
    EXPECT_EQ(0, allocated);
    EXPECT_TRUE(parsed);
}

TEST(ParserLocale, CommaDecimalLocaleReadsTheSameRecords) {
    const std::string frame = typicalFrame();
    OstrelParser inC;
    ASSERT_TRUE(parseText(inC, frame));

    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed on this machine";
    }
    EXPECT_EQ(1.0, std::strtod("1.5", nullptr)) << "the C library now stops at the dot";
    OstrelParser inGerman;
    bool parsed = parseText(inGerman, frame);
    double value = 0;
    readDouble("1.5", value);
    std::setlocale(LC_ALL, previous.c_str());

    ASSERT_TRUE(parsed);
    EXPECT_EQ(1.5, value);
    EXPECT_EQ(inC.timestamp(), inGerman.timestamp());
    ASSERT_EQ(inC.bodyCount(), inGerman.bodyCount());
    for (int i = 0; i < inC.bodyCount(); ++i) EXPECT_TRUE(sameRecord(inC.body(i), inGerman.body(i))) << "body " << i;
    ASSERT_EQ(inC.gripwandCount(), inGerman.gripwandCount());
    for (int i = 0; i < inC.gripwandCount(); ++i) {
        EXPECT_TRUE(sameRecord(inC.gripwand(i), inGerman.gripwand(i))) << "wand " << i;
    }
    ASSERT_EQ(inC.measurementToolCount(), inGerman.measurementToolCount());
    EXPECT_TRUE(sameRecord(inC.measurementTool(0), inGerman.measurementTool(0)));
    EXPECT_TRUE(sameRecord(inC.hand(1), inGerman.hand(1)));
    EXPECT_TRUE(sameRecord(inC.jointModel(0), inGerman.jointModel(0)));
    EXPECT_TRUE(sameRecord(inC.inertial(1), inGerman.inertial(1)));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(sameRecord(inC.marker(i), inGerman.marker(i))) << "marker " << i;
    EXPECT_EQ(-300.0, inGerman.body(3)->loc[2]);
    EXPECT_EQ(31.5, inGerman.body(3)->loc[0]);
}

}  // namespace
