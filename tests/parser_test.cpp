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
#include <tuple>
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

// Every field of a record as doubles, in order, so that whole records
// compare (and print) without the padding between their fields, which is
// not defined.
template <class... Fields>
std::vector<double> values(const Fields&... fields);
void addValues(std::vector<double>& out, double value) { out.push_back(value); }
void addValues(std::vector<double>& out, int32_t value) { out.push_back(value); }
void addValues(std::vector<double>& out, const FingerRecord& f) {
    for (double v : values(f.loc, f.rot, f.tipRadius, f.phalanxLength, f.phalanxAngle)) out.push_back(v);
}
void addValues(std::vector<double>& out, const JointRecord& j) {
    for (double v : values(j.id, j.quality, j.loc, j.angles, j.rot)) out.push_back(v);
}
template <class T, size_t N>
void addValues(std::vector<double>& out, const T (&array)[N]) {
    for (const T& element : array) addValues(out, element);
}
template <class... Fields>
std::vector<double> values(const Fields&... fields) {
    std::vector<double> out;
    (addValues(out, fields), ...);
    return out;
}
std::vector<double> valuesOf(const BodyRecord& r) { return values(r.id, r.quality, r.loc, r.rot); }
std::vector<double> valuesOf(const GripwandRecord& r) {
    return values(r.id, r.quality, r.buttonCount, r.buttons, r.joystickCount, r.joystick, r.loc, r.rot);
}
std::vector<double> valuesOf(const MeasurementToolRecord& r) {
    return values(r.id, r.quality, r.buttonCount, r.buttons, r.loc, r.rot, r.tipRadius, r.covariance);
}
std::vector<double> valuesOf(const MeasurementRefRecord& r) { return values(r.id, r.quality, r.loc, r.rot); }
std::vector<double> valuesOf(const HandRecord& r) {
    return values(r.id, r.quality, r.side, r.fingerCount, r.loc, r.rot, r.fingers);
}
std::vector<double> valuesOf(const JointModelRecord& r) { return values(r.id, r.jointCount, r.joints); }
std::vector<double> valuesOf(const InertialRecord& r) { return values(r.id, r.state, r.error, r.loc, r.rot); }
std::vector<double> valuesOf(const MarkerRecord& r) { return values(r.id, r.quality, r.loc); }

template <class Record>
void expectRecord(const Record& expected, const Record* actual) {
    ASSERT_NE(nullptr, actual);
    EXPECT_EQ(valuesOf(expected), valuesOf(*actual));
}

void expectResetBody(const BodyRecord* record, int32_t index) { expectRecord(BodyRecord{index, -1.0, {}, {}}, record); }

// Lines that break a rule, each on a fresh parser: the line fails and the
// cursor stands just behind the first occurrence of stopBehind.
struct FailingLine {
    std::string line;
    std::string stopBehind;
};

void expectFailures(const std::vector<FailingLine>& cases) {
    for (const FailingLine& c : cases) {
        OstrelParser parser;
        parser.beginFrame();
        LineResult result = parseOneLine(parser, c.line);
        EXPECT_FALSE(result.accepted) << c.line;
        const size_t at = c.line.find(c.stopBehind);
        ASSERT_NE(std::string::npos, at) << c.stopBehind;
        EXPECT_EQ(static_cast<long>(at + c.stopBehind.size()), result.stop) << c.line;
    }
}

template <class Record>
void expectSameTable(const OstrelParser& a, const OstrelParser& b, int32_t (OstrelParser::*count)() const noexcept,
                     const Record* (OstrelParser::*record)(int32_t) const noexcept) {
    ASSERT_EQ((a.*count)(), (b.*count)());
    for (int32_t i = 0; i < (a.*count)(); ++i) expectRecord(*(a.*record)(i), (b.*record)(i));
}

void expectSameTables(const OstrelParser& a, const OstrelParser& b) {
    EXPECT_EQ(a.frameCounter(), b.frameCounter());
    EXPECT_EQ(a.timestamp(), b.timestamp());
    expectSameTable(a, b, &OstrelParser::bodyCount, &OstrelParser::body);
    expectSameTable(a, b, &OstrelParser::gripwandCount, &OstrelParser::gripwand);
    expectSameTable(a, b, &OstrelParser::measurementToolCount, &OstrelParser::measurementTool);
    expectSameTable(a, b, &OstrelParser::measurementRefCount, &OstrelParser::measurementRef);
    expectSameTable(a, b, &OstrelParser::handCount, &OstrelParser::hand);
    expectSameTable(a, b, &OstrelParser::jointModelCount, &OstrelParser::jointModel);
    expectSameTable(a, b, &OstrelParser::inertialCount, &OstrelParser::inertial);
    expectSameTable(a, b, &OstrelParser::markerCount, &OstrelParser::marker);
}

// Every line kind, with numbers that need the decimal point.
std::string typicalFrame() {
    std::string frame = "fr 100\nts 12.5\n6dcal 6\n6d 4";
    for (int id = 0; id < 4; ++id) frame += " [" + std::to_string(id) + " 1.0]" + pose(id * 10.5, 200.25, -3e2);
    frame += "\n6df 1 [0 1.0 33]" + pose(1, 2, 3);
    frame += "\n6df2 2 2 [0 1 8 2]" + pose(1, 2, 3) + "[5 0.5 -0.5][1 1 3 0]" + pose(4, 5, 6) + "[7]";
    frame += "\n6dmt 1 [0 1.0 1]" + pose(4, 5, 6);
    frame += "\n6dmt2 1 1 [0 1 2 1.5]" + pose(7, 8, 9) + "[3][1 2 3 4 5 6]";
    frame += "\n6dmtr 2 1 [1 0.5]" + pose(1, 1, 1);
    frame += "\nglcal 2\ngl 1 [1 1 0 1]" + pose(1, 1, 1) + pose(2, 2, 2) + "[1.5 2 3 4 5 6]";
    frame += "\n6dj 1 1 [0 1][0 1][1 2 3 4 5 6.25]" + kRot;
    frame += "\n6di 1 [1 2 0.1]" + pose(3, 3, 3);
    frame += "\n3d 3 [1 1][1 2 3][2 1][4 5 6][3 1][7 8 9.5]\n";
    return frame;
}

// ---------------------------------------------------------------- readers

template <class T>
struct NumberCase {
    const char* text;
    T value;
    long stop;
};

template <class T>
void expectReads(const char* (*reader)(const char*, T&) noexcept, std::initializer_list<NumberCase<T>> cases) {
    for (const NumberCase<T>& c : cases) {
        T value{};
        const char* behind = reader(c.text, value);
        ASSERT_NE(nullptr, behind) << '"' << c.text << '"';
        EXPECT_EQ(c.stop, behind - c.text) << '"' << c.text << '"';
        const bool bothNaN = value != value && c.value != c.value;
        EXPECT_TRUE(value == c.value || bothNaN) << '"' << c.text << "\" read as " << value;
    }
}

TEST(FrameText, IntegersFollowTheBaseRuleAndClampAtTheirLimits) {
    expectReads<int32_t>(readInt, {
        {"42", 42, 2}, {"  -17x", -17, 5}, {"+5", 5, 2}, {"\t\r\n 9", 9, 5}, {"0x1F]", 31, 4}, {"0X1f", 31, 4},
        {"-0x10", -16, 5}, {"010", 8, 3}, {"007", 7, 3}, {"12.5", 12, 2},
        {"08", 0, 1},   // octal: the 8 is not a digit
        {"0x", 0, 1},   // no hex digit: the 0 alone
        {"0xg", 0, 1},
        {"2147483647", INT32_MAX, 10}, {"2147483648", INT32_MAX, 10}, {"-2147483648", INT32_MIN, 11},
        {"-99999999999999999999999", INT32_MIN, 24}, {"0xFFFFFFFFFFFFFFFFFFFF", INT32_MAX, 22},
    });
    expectReads<uint32_t>(readUInt, {
        {"4294967295", UINT32_MAX, 10}, {"4294967296", UINT32_MAX, 10}, {" 0x10", 16u, 5},
        {"-1", UINT32_MAX, 2},  // negated modulo 2^32, as strtoul
    });
}

TEST(FrameText, DoublesInEveryNotationOutOfRangeAndOverLong) {
    const std::string big = "1" + std::string(299, '0');
    const std::string longFraction = "0.1" + std::string(5000, '0') + "1";
    expectReads<double>(readDouble, {
        {"1.5", 1.5, 3}, {" -2.5e3]", -2500.0, 7}, {"1e", 1.0, 1}, {"1e+", 1.0, 1}, {".5", 0.5, 2}, {"5.", 5.0, 2},
        {"+.25", 0.25, 4}, {"1,5", 1.0, 1}, {"0x1p3", 8.0, 5}, {"0x.8p1", 1.0, 6}, {"0x", 0.0, 1},
        {"007.5", 7.5, 5},  // no octal for doubles
        {"inf", kInf, 3}, {"-Infinity", -kInf, 9}, {"nan", kNaN, 3}, {"nan(12)", kNaN, 7},
        {"1e400", kInf, 5}, {"-1e400", -kInf, 6}, {"123456789e99999999999", kInf, 21}, {"1e-400", 0.0, 6},
        {"0.0000001e-99999999999", 0.0, 22}, {"4e-320", 4e-320, 6},  // subnormal, still in range
        {big.c_str(), 1e299, 300}, {longFraction.c_str(), 0.1, static_cast<long>(longFraction.size())},
    });
}

TEST(FrameText, WhatIsNoNumberStoresNothingAndReadersStopAtTheirEnd) {
    int32_t integer = 77;
    uint32_t unsignedInteger = 77;
    double number = 7.0;
    for (const char* text : {"", "   ", "abc", "- 5", "+-5", "--5", "x12", "]"}) {
        EXPECT_EQ(nullptr, readInt(text, integer)) << '"' << text << '"';
        EXPECT_EQ(nullptr, readUInt(text, unsignedInteger)) << '"' << text << '"';
    }
    for (const char* text : {"", ".", "+-1", "--1", "- 1", "e5", "in", "[1]", "x"}) {
        EXPECT_EQ(nullptr, readDouble(text, number)) << '"' << text << '"';
    }
    EXPECT_EQ(nullptr, readInt(nullptr, integer));
    EXPECT_EQ(77, integer);
    EXPECT_EQ(7.0, number);

    const char* text = "12345 6.25e10";
    EXPECT_EQ(text + 3, readInt(text, text + 3, integer));
    EXPECT_EQ(123, integer);
    EXPECT_EQ(text + 10, readDouble(text + 5, text + 10, number));
    EXPECT_EQ(6.25, number);
    EXPECT_EQ(nullptr, readInt(text + 5, text + 6, integer)) << "only blanks before the end";
}

TEST(FrameText, GroupsReadTheirTypesOrFail) {
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

    for (const char* broken : {"[1]", "[1 ] 2]", "[1 2", "[a]", "[1,2]", "no group"}) {
        EXPECT_EQ(nullptr, readGroup(broken, "ii", ints, doubles)) << broken;
    }
    EXPECT_EQ(nullptr, readGroup("[1 2]", "ix", ints, doubles)) << "unknown type letter";
    EXPECT_EQ(nullptr, readGroup("[1 2]", "ii", nullptr, doubles));
    EXPECT_EQ(nullptr, readGroup(nullptr, "", ints, doubles));
    const std::string unchanged = "[7 1.5 ]";
    text = unchanged;
    readGroup(text.c_str(), "idd", ints, doubles);
    EXPECT_EQ(unchanged, text);
}

TEST(FrameText, QuotedTextAndNextLine) {
    std::string_view quoted;
    const char* answer = "ostrel2 err 12 \"bad\" more";
    EXPECT_EQ(answer + 20, readQuoted(answer, quoted));
    EXPECT_EQ("bad", quoted);
    const char* empty = "\"\" x";
    EXPECT_EQ(empty + 2, readQuoted(empty, quoted));
    EXPECT_EQ("", quoted);
    EXPECT_EQ(nullptr, readQuoted("one \"quote", quoted));
    EXPECT_EQ(nullptr, readQuoted("none", quoted));

    const char* text = "fr 1\r\n\n6d 0";
    EXPECT_EQ(text + 7, nextLine(text, text, 12)) << "a run of CR and LF is one break";
    EXPECT_EQ(text + 7, nextLine(text, text + 2, 12)) << "from inside the line";
    EXPECT_EQ(nullptr, nextLine(text, text + 7, 12)) << "last line";
    const char* trailing = "a\n\r\n";
    EXPECT_EQ(nullptr, nextLine(trailing, trailing, 5));
    const char* cut = "a\nb";
    EXPECT_EQ(nullptr, nextLine(cut, cut, 2)) << "the buffer ends first";
    EXPECT_EQ(nullptr, nextLine(cut, nullptr, 4));
}

// ---------------------------------------------------------------- lines

class ParserLines : public testing::Test {
protected:
    void SetUp() override { parser.beginFrame(); }
    LineResult line(const std::string& text) { return parseOneLine(parser, text); }
    bool accepts(const std::string& text) { return line(text).accepted; }
    OstrelParser parser;
};

TEST(ParserRules, BrokenRulesFailTheLineBehindTheLastItemRead) {
    expectFailures({
        {"fr x", "fr "},
        {"ts x", "ts "},
        {"6d 2 [0 0.5]" + pose(4, 5, 6) + " [-1 0.5]" + pose(1, 1, 1), "[-1 0.5]"},
        {"6df 2 [0 1 1]" + pose(1, 1, 1), kRot},  // the second entry is missing
        {"6df 2 [1 1 1]" + pose(1, 1, 1), "[1 1 1]"},  // the id must equal its place
        {"6df2 2 1 [0 1 17 0]" + pose(0, 0, 0) + "[1]", "17 0]"},
        {"6df2 2 1 [0 1 0 9]" + pose(0, 0, 0) + "[1 1 1 1 1 1 1 1 1]", "0 9]"},
        {"6df2 1 2 [0 1 0 0]" + pose(0, 0, 0) + "[][1 1 0 0]" + pose(0, 0, 0) + "[]", "[1 1 0 0]"},  // > defined
        {"6dmt 1 [3 0.7 5]" + pose(7, 8, 9), "[3 0.7 5]"},
        {"6dmt2 1 1 [0 0.6 -1 2.5]" + pose(1, 2, 3) + "[][1 2 3 4 5 6]", "-1 2.5]"},
        {"6dmtr 3 1 [3 0.4]" + pose(1, 2, 3), "[3 0.4]"},
        {"6dmtr 3 1 [-1 0.4]" + pose(1, 2, 3), "[-1 0.4]"},
        {"gl 1 [0 0.9 1 6]" + pose(7, 8, 9), "1 6]"},
        {"6dj 2 1 [2 0]", "[2 0]"},
        {"6dj 2 1 [0 201]", "[0 201]"},
        {"6di 1 [-1 1 0.25]" + pose(1, 2, 3), "0.25]"},
        {"3d x", "3d "},
        // A table cannot take a negative size.
        {"6df -1", "-1"}, {"6df2 -1 0", "-1"}, {"6dmt -1", "-1"}, {"6dmt2 0 -1", "0 -1"}, {"6dmtr -1 0", "-1"},
        {"6dj -1 0", "-1"},
    });
}

TEST_F(ParserLines, FrameCounterAndTimestamp) {
    EXPECT_EQ(0u, OstrelParser().frameCounter());
    EXPECT_EQ(-1.0, OstrelParser().timestamp());
    LineResult result = line("fr 1234\n");
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(7, result.stop);
    EXPECT_EQ(1234u, parser.frameCounter());
    EXPECT_FALSE(accepts("fr x"));
    EXPECT_EQ(0u, parser.frameCounter());

    result = line("ts 12.5 ");
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(7, result.stop);
    EXPECT_EQ(12.5, parser.timestamp());
    EXPECT_FALSE(accepts("ts x"));
    EXPECT_EQ(-1.0, parser.timestamp());
    ASSERT_TRUE(parseText(parser, "fr 3"));
    EXPECT_EQ(-1.0, parser.timestamp()) << "a frame without ts";
}

TEST_F(ParserLines, BeginFrameClearsOnlyPerFrameValues) {
    ASSERT_TRUE(parseText(parser, "fr 3\nts 2\n6dcal 9\nglcal 1\n6df 1 [0 1 0]" + pose(1, 2, 3) + "\n6dmt 1 [0 1 0]" +
                                      pose(1, 2, 3)));
    parser.beginFrame();
    EXPECT_EQ(std::make_tuple(0u, -1.0, -1, -1, 0, 0), std::make_tuple(parser.frameCounter(), parser.timestamp(),
              parser.calibratedBodies(), parser.calibratedHands(), parser.count6df(), parser.count6dmt()));
    EXPECT_EQ(1, parser.gripwandCount()) << "the tables stay";
    EXPECT_EQ(7, parser.bodyCount());
}

TEST_F(ParserLines, BodiesGrowByIdAndResetPerLine) {
    ASSERT_TRUE(accepts("6d 2 [0 0.5]" + pose(1, 1, 1) + "[1 0.6]" + pose(2, 2, 2)));
    expectRecord(BodyRecord{1, 0.6, {2, 2, 2}, {1, 0, 0, 0, 1, 0, 0, 0, 1}}, parser.body(1));

    const std::string text = "6d 1 [5 0.9][1 2 3][1 0 0 0 1 0 0 0 1] tail";
    LineResult result = line(text);
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(static_cast<long>(text.size() - 5), result.stop);
    ASSERT_EQ(6, parser.bodyCount());
    for (int i = 0; i < 5; ++i) expectResetBody(parser.body(i), i);
    expectRecord(BodyRecord{5, 0.9, {1, 2, 3}, {1, 0, 0, 0, 1, 0, 0, 0, 1}}, parser.body(5));
    EXPECT_EQ(nullptr, parser.body(6));
    EXPECT_EQ(nullptr, parser.body(-1));
    EXPECT_TRUE(accepts("6d 0"));
    EXPECT_EQ(6, parser.bodyCount()) << "an empty line keeps the count";
    expectResetBody(parser.body(5), 5);

    // Ids take base prefixes; a second line of the kind resets again.
    ASSERT_TRUE(parseText(parser, "6d 1 [0 0.5]" + pose(1, 0, 0) + "\n6d 2 [0x1F 0.5]" + pose(1, 0, 0) + "[010 0.25]" +
                                      pose(2, 0, 0)));
    ASSERT_EQ(32, parser.bodyCount());
    EXPECT_EQ(0.5, parser.body(31)->quality);
    expectRecord(BodyRecord{8, 0.25, {2, 0, 0}, {1, 0, 0, 0, 1, 0, 0, 0, 1}}, parser.body(8));
    expectResetBody(parser.body(0), 0);

    EXPECT_FALSE(accepts("6d 2 [0 0.5]" + pose(4, 5, 6) + " [-1 0.5]" + pose(1, 1, 1)));
    expectRecord(BodyRecord{0, 0.5, {4, 5, 6}, {1, 0, 0, 0, 1, 0, 0, 0, 1}}, parser.body(0));  // stored before the failure
}

TEST_F(ParserLines, GripwandButtonWordAndJoystick) {
    EXPECT_TRUE(accepts("6df2 1 1 [0 1 16 0][0 0 0]" + kRot + "[0xFFFF]"));
    ASSERT_TRUE(accepts("6df 1 [0 1.0 33]" + pose(1, 2, 3)));
    EXPECT_EQ(1, parser.count6df());
    ASSERT_EQ(1, parser.gripwandCount());
    // Buttons 0 and 5 of the word (33), 8 to 15 kept; joystick from bits 4 to 7.
    expectRecord(GripwandRecord{0, 1.0, 8, {1, 0, 0, 0, 0, 1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1}, 2, {-1, 0}, {1, 2, 3},
                                {1, 0, 0, 0, 1, 0, 0, 0, 1}},
                 parser.gripwand(0));
    ASSERT_TRUE(accepts("6df 1 [0 1.0 0xC0]" + pose(0, 0, 0)));
    EXPECT_EQ(1.0, parser.gripwand(0)->joystick[0]);
    EXPECT_EQ(1.0, parser.gripwand(0)->joystick[1]);
    ASSERT_TRUE(accepts("6df 1 [0 1.0 0xF0]" + pose(0, 0, 0)));
    EXPECT_EQ(-1.0, parser.gripwand(0)->joystick[0]) << "left beats right";
    EXPECT_EQ(-1.0, parser.gripwand(0)->joystick[1]) << "down beats up";

    // The table follows the announced count; records that come back start all zero.
    ASSERT_TRUE(accepts("6df 2 [0 1 1]" + pose(1, 1, 1) + "[1 1 1]" + pose(2, 2, 2)));
    ASSERT_TRUE(accepts("6df 1 [0 1 1]" + pose(1, 1, 1)));
    EXPECT_EQ(1, parser.gripwandCount());
    EXPECT_EQ(nullptr, parser.gripwand(1));
    EXPECT_FALSE(accepts("6df 2 [0 1 1]" + pose(1, 1, 1)));
    expectRecord(GripwandRecord{}, parser.gripwand(1));
}

TEST_F(ParserLines, GripwandWithButtonAndJoystickCounts) {
    ASSERT_TRUE(accepts("6df2 2 1 [0 0.8 12 2]" + pose(1, 2, 3) + "[0xFFF 0.5 -0.5]"));
    EXPECT_EQ(0, parser.count6df()) << "only 6df sets it";
    ASSERT_EQ(2, parser.gripwandCount());
    expectRecord(GripwandRecord{0, 0.8, 12, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 2, {0.5, -0.5}, {1, 2, 3},
                                {1, 0, 0, 0, 1, 0, 0, 0, 1}},
                 parser.gripwand(0));
    expectRecord(GripwandRecord{}, parser.gripwand(1));  // no entry: left as it was

    // Without buttons and joystick the entry still needs its "[]": else the
    // group reader takes the next "[" of the following line, swallowing it.
    EXPECT_TRUE(accepts("6df2 1 1 [0 1 0 0]" + pose(1, 1, 1) + "[]"));
    const std::string frame = "6df2 1 1 [0 1 0 0]" + pose(1, 1, 1) + "\n6d 1 [0 1]" + pose(2, 2, 2) + "\nfr 4";
    ASSERT_TRUE(parseText(parser, frame));
    EXPECT_EQ(0, parser.bodyCount());
    EXPECT_EQ(4u, parser.frameCounter());
    EXPECT_EQ(static_cast<long>(frame.find("[0 1]") + 5), line(frame).stop);
}

TEST_F(ParserLines, MeasurementTools) {
    ASSERT_TRUE(accepts("6dmt2 5 1 [0 0.6 16 2.5]" + pose(0, 0, 0) + "[0xFFFF][1 2 3 4 5 6]"));
    ASSERT_TRUE(accepts("6dmt 1 [0 0.7 5]" + pose(7, 8, 9)));
    EXPECT_EQ(1, parser.count6dmt());
    expectRecord(MeasurementToolRecord{0, 0.7, 4, {1, 0, 1}, {7, 8, 9}, {1, 0, 0, 0, 1, 0, 0, 0, 1}, 0.0, {}},
                 parser.measurementTool(0));

    parser.beginFrame();
    const std::string text = "6dmt2 3 2 [0 0.6 17 2.5]" + pose(1, 2, 3) + "[0x1FFFF][1 2 3 4 5 6]" + "[1 0.4 0 1.5]" +
                             pose(4, 5, 6) + "[][0 0 0 0 0 0]";
    LineResult result = line(text);
    ASSERT_TRUE(result.accepted);
    EXPECT_EQ(static_cast<long>(text.size()), result.stop);
    EXPECT_EQ(0, parser.count6dmt()) << "only 6dmt sets it";
    ASSERT_EQ(2, parser.measurementToolCount()) << "the entries set the size, not the defined count";
    // 17 buttons are cut to 16.
    expectRecord(MeasurementToolRecord{0, 0.6, 16, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {1, 2, 3},
                                       {1, 0, 0, 0, 1, 0, 0, 0, 1}, 2.5, {1, 2, 3, 4, 5, 6}},
                 parser.measurementTool(0));
    expectRecord(MeasurementToolRecord{1, 0.4, 0, {}, {4, 5, 6}, {1, 0, 0, 0, 1, 0, 0, 0, 1}, 1.5, {}},
                 parser.measurementTool(1));
}

TEST_F(ParserLines, ToolReferences) {
    ASSERT_TRUE(accepts("6dmtr 3 1 [2 0.4]" + pose(1, 2, 3)));
    ASSERT_EQ(3, parser.measurementRefCount());
    expectRecord(MeasurementRefRecord{1, -1.0, {}, {}}, parser.measurementRef(1));
    expectRecord(MeasurementRefRecord{2, 0.4, {1, 2, 3}, {1, 0, 0, 0, 1, 0, 0, 0, 1}}, parser.measurementRef(2));
    ASSERT_TRUE(accepts("6dmtr 3 0"));
    // Reset keeps the pose.
    expectRecord(MeasurementRefRecord{2, -1.0, {1, 2, 3}, {1, 0, 0, 0, 1, 0, 0, 0, 1}}, parser.measurementRef(2));
}

TEST_F(ParserLines, HandsWithFingers) {
    std::string fingers;
    for (int f = 0; f < 2; ++f) fingers += pose(f, 0, 0) + "[1 2 3 4 5 6]";
    ASSERT_TRUE(accepts("gl 1 [1 0.9 1 2]" + pose(7, 8, 9) + fingers));
    ASSERT_EQ(2, parser.handCount());
    expectRecord(HandRecord{0, -1.0, 0, 0, {}, {}, {}}, parser.hand(0));
    // Each finger: tip radius, then length and angle from the outer phalanx inwards.
    const FingerRecord first{{0, 0, 0}, {1, 0, 0, 0, 1, 0, 0, 0, 1}, 1, {2, 4, 6}, {3, 5}};
    const FingerRecord second{{1, 0, 0}, {1, 0, 0, 0, 1, 0, 0, 0, 1}, 1, {2, 4, 6}, {3, 5}};
    expectRecord(HandRecord{1, 0.9, 1, 2, {7, 8, 9}, {1, 0, 0, 0, 1, 0, 0, 0, 1}, {first, second}}, parser.hand(1));
}

TEST_F(ParserLines, JointModels) {
    const std::string joints = "[3 0.5][1 2 3 10 20 30]" + kRot + "[4 0.6][4 5 6 40 50 60]" + kRot;
    ASSERT_TRUE(accepts("6dj 2 1 [1 2]" + joints));
    ASSERT_EQ(2, parser.jointModelCount());
    expectRecord(JointModelRecord{0, 0, {}}, parser.jointModel(0));
    expectRecord(JointModelRecord{1, 2,
                                  {{3, 0.5, {1, 2, 3}, {10, 20, 30}, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
                                   {4, 0.6, {4, 5, 6}, {40, 50, 60}, {1, 0, 0, 0, 1, 0, 0, 0, 1}}}},
                 parser.jointModel(1));
    ASSERT_TRUE(accepts("6dj 2 0"));
    expectRecord(JointModelRecord{1, 0, {}}, parser.jointModel(1));  // reset at the start of the line
}

TEST_F(ParserLines, InertialBodies) {
    ASSERT_TRUE(accepts("6di 1 [2 1 0.25]" + pose(1, 2, 3)));
    ASSERT_EQ(3, parser.inertialCount());
    expectRecord(InertialRecord{1, 0, 0.0, {}, {}}, parser.inertial(1));
    expectRecord(InertialRecord{2, 1, 0.25, {1, 2, 3}, {1, 0, 0, 0, 1, 0, 0, 0, 1}}, parser.inertial(2));
    ASSERT_TRUE(accepts("6di 0"));
    expectRecord(InertialRecord{2, 0, 0.0, {}, {}}, parser.inertial(2));
}

TEST_F(ParserLines, MarkersInEntryOrder) {
    ASSERT_TRUE(accepts("3d 2 [7 1.0][1 2 3][9 1.0][4 5 6]"));
    ASSERT_EQ(2, parser.markerCount());
    expectRecord(MarkerRecord{7, 1.0, {1, 2, 3}}, parser.marker(0));
    expectRecord(MarkerRecord{9, 1.0, {4, 5, 6}}, parser.marker(1));
    ASSERT_TRUE(accepts("3d 1 [-4 0.5][1 1 1]"));
    EXPECT_EQ(1, parser.markerCount());
    EXPECT_EQ(-4, parser.marker(0)->id) << "marker ids are not checked";
    EXPECT_FALSE(accepts("3d x"));
    EXPECT_EQ(0, parser.markerCount());
}

// A negative entry count is an empty line, and a negative button, joystick,
// finger or joint count of an entry is none; only a table size cannot be
// negative (those fail, see above). The marker count follows its line.
TEST_F(ParserLines, NegativeCountsAreEmpty) {
    for (const char* text : {"6d -5", "gl -1", "6di -2", "6df2 0 -3", "6dmtr 0 -1", "6dj 0 -1", "3d -5"}) {
        EXPECT_TRUE(accepts(text)) << text;
    }
    EXPECT_EQ(-5, parser.markerCount());
    EXPECT_EQ(nullptr, parser.marker(0));
    ASSERT_TRUE(accepts("6df2 1 1 [0 1 -1 -2]" + pose(1, 2, 3) + "[]"));
    ASSERT_TRUE(accepts("gl 1 [0 0.9 1 -1]" + pose(7, 8, 9)));
    ASSERT_TRUE(accepts("6dj 1 1 [0 -3]"));
    EXPECT_EQ(0, parser.gripwand(0)->buttonCount);
    EXPECT_EQ(0, parser.gripwand(0)->joystickCount);
    EXPECT_EQ(0, parser.hand(0)->fingerCount);
    EXPECT_EQ(0, parser.jointModel(0)->jointCount);
}

// ---------------------------------------------------------------- frames

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

// ---------------------------------------------------------------- hostile input

TEST(ParserHostile, HugeIdsAndCountsFailTheLineAndAllocateNothing) {
    const std::string bodyId = std::to_string(OstrelParser::maxRecords<BodyRecord>());  // one beyond the last
    const std::string bodies = std::to_string(OstrelParser::maxRecords<BodyRecord>() + 1);
    const std::string models = std::to_string(OstrelParser::maxRecords<JointModelRecord>() + 1);
    const std::vector<FailingLine> lines = {
        {"6d 1 [2147483647 1]" + pose(0, 0, 0), "[2147483647 1]"},
        {"6d 1 [99999999999 1]" + pose(0, 0, 0), "[99999999999 1]"},
        {"gl 1 [2000000000 1 0 0]" + pose(0, 0, 0), "0 0]"},
        {"6di 1 [2000000000 1 1]" + pose(0, 0, 0), "1 1]"},
        {"6df 2000000000", "2000000000"}, {"6df2 2000000000 0", "2000000000"}, {"6dmt 2000000000", "2000000000"},
        {"6dmt2 0 2000000000", "2000000000"}, {"6dmtr 2000000000 0", "2000000000"}, {"6dj 2000000000 0", "2000000000"},
        {"3d 2147483647", "2147483647"}, {"6dcal 2000000000", "2000000000"}, {"glcal 2000000000", "2000000000"},
        // Just beyond the bound.
        {"6d 1 [" + bodyId + " 1]", " 1]"}, {"6dj " + models + " 0", models}, {"6dcal " + bodies, bodies},
    };
    long allocated = 0;
    {
        CountAllocations allocations;
        expectFailures(lines);
        allocated = allocations.count();
    }
    EXPECT_EQ(0, allocated) << "nothing grew";
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

// Once the tables have grown, parsing allocates nothing, also when tables
// shrink and grow back; a second parse of the same frame, resetting only
// what the first one wrote, leaves the same records as a fresh parser.
TEST(ParserAllocation, ParsingAgainAllocatesNothing) {
    const std::string typical = typicalFrame();
    const std::string big = "6df 3 [0 1 0]" + pose(0, 0, 0) + "[1 1 0]" + pose(0, 0, 0) + "[2 1 0]" + pose(0, 0, 0) +
                            "\n6dj 3 0\n6dmtr 3 0";
    const std::string small = "6df 1 [0 1 0]" + pose(0, 0, 0) + "\n6dcal 1\n6dj 1 0\n6dmtr 1 0";
    OstrelParser once;
    OstrelParser again;
    ASSERT_TRUE(parseText(once, typical));
    ASSERT_TRUE(parseText(again, big) && parseText(again, small) && parseText(again, typical));
    long allocated = 0;
    bool parsed = false;
    {
        CountAllocations allocations;
        parsed = parseText(again, big) && parseText(again, small) && parseText(again, typical);
        allocated = allocations.count();
    }
    EXPECT_EQ(0, allocated);
    ASSERT_TRUE(parsed);
    expectSameTables(once, again);
}

TEST(ParserLocale, CommaDecimalLocaleReadsTheSameRecords) {
    const std::string frame = typicalFrame();
    OstrelParser inC;
    ASSERT_TRUE(parseText(inC, frame));

    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed on this machine";
    }
    const double libraryReads = std::strtod("1.5", nullptr);
    OstrelParser inGerman;
    const bool parsed = parseText(inGerman, frame);
    std::setlocale(LC_ALL, previous.c_str());

    EXPECT_EQ(1.0, libraryReads) << "the C library stopped at the dot";
    ASSERT_TRUE(parsed);
    expectSameTables(inC, inGerman);
    EXPECT_EQ(12.5, inGerman.timestamp());
    EXPECT_EQ(-300.0, inGerman.body(3)->loc[2]);
    EXPECT_EQ(31.5, inGerman.body(3)->loc[0]);
}

}  // namespace
