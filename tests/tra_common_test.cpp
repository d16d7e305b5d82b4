#include "calib/tra_common.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "calib_test_support.h"

// Counts heap allocations while `g_counting` is set, to show that the
// per-write path allocates nothing.
namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
}  // namespace

// The replacements below pair malloc with free by design; GCC cannot see
// that operator delete here is the partner of this operator new.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    if (g_counting) {
        ++g_allocations;
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using calib_test::captured;
using calib_test::Config;

const char* const kAddOne = CALIB_ADD_ONE_PATH;
const char* const kNoEntry = CALIB_NO_ENTRY_PATH;
const char* const kMissing = "/nonexistent-dir/libcalib_missing.so";

constexpr float kInch = 0.083333336f;
constexpr float kMeter = 3.2808399f;
constexpr float kCentimetre = 0.0328084f;

// A handler as the module base leaves it before option reading: `slots`
// slots, the first `outputs` of them at positions 1..outputs.
std::unique_ptr<CTraCommonH> makeHandler(uint32_t slots = 4, bool inputConnector = false, uint32_t outputs = 4,
                                         int32_t debugLevel = 0) {
    CLogH log = calib_test::quietLogger("TRA", debugLevel);
    auto handler = std::make_unique<CTraCommonH>(&log);
    handler->inputConnector = inputConnector;
    handler->outputCount = outputs;
    handler->initTrackers(slots);
    for (uint32_t i = 1; i <= outputs; ++i) {
        handler->setTracker(i, i, nullptr, nullptr, nullptr);
    }
    return handler;
}

std::string parse(CTraCommonH& handler, Config& config, bool* result = nullptr) {
    bool ok = false;
    std::string out = captured([&] { ok = handler.parseOptions(config.get()); });
    if (result != nullptr) {
        *result = ok;
    }
    return out;
}

bool sameMatrix(const Matrix4& a, const Matrix4& b) { return std::memcmp(a.m, b.m, sizeof a.m) == 0; }

bool sameSlot(const TrackerCalib& x, const TrackerCalib& y) {
    return x.order == y.order && sameMatrix(x.sensorOffset, y.sensorOffset) &&
           sameMatrix(x.sensorRotation, y.sensorRotation) && sameMatrix(x.sensorTransform, y.sensorTransform) &&
           std::memcmp(x.sensorTranslation, y.sensorTranslation, sizeof x.sensorTranslation) == 0 &&
           x.sensorOffsetSet == y.sensorOffsetSet && x.sensorRotationSet == y.sensorRotationSet &&
           x.sensorTranslationSet == y.sensorTranslationSet;
}

// Everything option lines can change.
void expectSameCalibration(const CTraCommonH& a, const CTraCommonH& b) {
    ASSERT_EQ(a.trackerCount(), b.trackerCount());
    for (uint32_t i = 1; i <= a.trackerCount(); ++i) {
        EXPECT_TRUE(sameSlot(*a.tracker(i), *b.tracker(i))) << "slot " << i;
    }
    EXPECT_TRUE(sameMatrix(a.transmitterOffset(), b.transmitterOffset()));
    EXPECT_TRUE(sameMatrix(a.transmitterRotation(), b.transmitterRotation()));
    EXPECT_TRUE(sameMatrix(a.transmitterTransform(), b.transmitterTransform()));
    EXPECT_EQ(a.transmitterOffsetSet(), b.transmitterOffsetSet());
    EXPECT_EQ(a.transmitterRotationSet(), b.transmitterRotationSet());
    EXPECT_EQ(a.caveCoordinates, b.caveCoordinates);
    EXPECT_EQ(a.calibLibrary() == nullptr, b.calibLibrary() == nullptr);
    EXPECT_STREQ(a.calibLibraryName(), b.calibLibraryName());
}

std::string error(const std::string& text) { return "TRA: ERROR: " + text + "\n"; }

std::vector<std::string> numbers(int first, int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        out.push_back(std::to_string(first + i));
    }
    return out;
}

}  // namespace

// --- Construction and slots --------------------------------------------------

TEST(TraCommonSlots, ConstructionLoggerAndDefaults) {
    std::unique_ptr<CTraCommonH> own;
    captured([&] { own = std::make_unique<CTraCommonH>(); });
    EXPECT_STREQ("CTraCommonH", own->logger().name);
    EXPECT_EQ(3, own->logger().ownerId);
    EXPECT_TRUE(own->inputConnector && !own->caveCoordinates);
    EXPECT_EQ(0u, own->trackerCount());
    EXPECT_TRUE(sameMatrix(matIdentity(), own->transmitterTransform()));

    CLogH log = calib_test::quietLogger("TRA", 3);
    EXPECT_EQ("TRA: DEBUG: CTraCommonH: \"constructor\" called.\nTRA: DEBUG: CTraCommonH: \"destructor\" called.\n",
              captured([&] { CTraCommonH handler(&log); }));
}

TEST(TraCommonSlots, InitAndSetTracker) {
    auto handler = makeHandler(4, false, 0);
    EXPECT_FALSE(handler->initTrackers(0));
    EXPECT_EQ(4u, handler->trackerCount()) << "a count of 0 changes nothing";
    EXPECT_FALSE(handler->setTracker(0, 1, nullptr, nullptr, nullptr));
    EXPECT_FALSE(handler->setTracker(5, 1, nullptr, nullptr, nullptr));

    const Matrix4 offset = matTranslation(1, 2, 3);
    const Matrix4 rotation = matAxisAngle(0, 1, 0, 90);
    const float translation[3] = {4, 5, 6};
    ASSERT_TRUE(handler->setTracker(2, 7, &offset, &rotation, translation));
    const TrackerCalib* slot = handler->tracker(2);
    EXPECT_EQ(7u, slot->order);
    EXPECT_TRUE(slot->sensorOffsetSet && slot->sensorRotationSet && slot->sensorTranslationSet);
    EXPECT_TRUE(sameMatrix(matTransform(rotation, offset), slot->sensorTransform));
    EXPECT_EQ(5.0f, slot->sensorTranslation[1]);
    // Absent items go back to their defaults.
    ASSERT_TRUE(handler->setTracker(2, 3, nullptr, nullptr, nullptr));
    EXPECT_TRUE(sameSlot(TrackerCalib{3}, *slot));

    ASSERT_TRUE(handler->initTrackers(2));
    EXPECT_EQ(2u, handler->trackerCount());
    EXPECT_TRUE(sameSlot(TrackerCalib{}, *handler->tracker(2))) << "new slots start from the defaults";
}

// --- Accepted forms -----------------------------------------------------------

TEST(TraCommonOptions, MissingSlotsOrConfig) {
    CLogH log = calib_test::quietLogger("TRA");
    CTraCommonH handler(&log);
    Config config;
    bool ok = true;
    EXPECT_EQ(error("CTraCommonH: lookup is Null."), parse(handler, config, &ok));
    EXPECT_FALSE(ok);
    handler.initTrackers(1);
    EXPECT_EQ(error("CTraCommonH: config is empty."), captured([&] { EXPECT_FALSE(handler.parseOptions(nullptr)); }));
}

// Any case, with and without unit words, ids in automatic base: every line
// is taken silently and consumed.
TEST(TraCommonOptions, EveryKeywordInItsAcceptedForms) {
    auto handler = makeHandler(10);
    Config config{
        {"SENSOROFFSET", {"1", "0", "0", "10", "cm"}},
        {"SensorOffset", {"0x2", "1", "2", "3"}},
        {"sensorOffset", {"3", "1", "-2", "0.5", "METERS"}},
        {"sensoroffset", {"4", "2", "0", "0", "m"}},
        {"sensoroffset", {"5", "2", "0", "0", "feet"}},
        {"SensorTranslation", {"6", "12", "0", "-24", "inches"}},
        {"sensoroffset", {"7", "0", "0", "0"}},
        {"sensoroffset", {"010", "1", "0", "0", "Inches"}},
        {"sensorrotation", {"9", "0", "0", "0", "90"}},
        {"SensorRotationMatrix", {"10", "1", "0", "0", "0", "0", "1", "0", "-1", "0"}},
        {"TRANSMITTERROTATIONMATRIX", {"0", "0", "-1", "0", "1", "0", "1", "0", "0"}},
        {"transmitterOffset", {"0", "0", "0", "cm"}},
    };
    bool ok = false;
    EXPECT_EQ("", parse(*handler, config, &ok));
    EXPECT_TRUE(ok);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(1, config.line(i).used) << "line " << i + 1;
    }
    auto offset = [&](uint32_t slot, int index) { return handler->tracker(slot)->sensorOffset.m[index]; };
    EXPECT_EQ(10 * kCentimetre, offset(1, 11));
    EXPECT_EQ(10 * kCentimetre, handler->tracker(1)->sensorTransform.m[14]);
    EXPECT_EQ(3.0f, offset(2, 11)) << "0x2 addresses slot 2";
    EXPECT_EQ(-2 * kMeter, offset(3, 7));
    EXPECT_EQ(0.5f * kMeter, offset(3, 11));
    EXPECT_EQ(2 * kMeter, offset(4, 3));
    EXPECT_EQ(2.0f, offset(5, 3));
    const TrackerCalib& translated = *handler->tracker(6);
    EXPECT_TRUE(translated.sensorTranslationSet && !translated.sensorOffsetSet);
    EXPECT_EQ(12 * kInch, translated.sensorTranslation[0]);
    EXPECT_EQ(-24 * kInch, translated.sensorTranslation[2]);
    EXPECT_TRUE(sameMatrix(matIdentity(), translated.sensorTransform)) << "no matrix is involved";
    EXPECT_TRUE(handler->tracker(7)->sensorOffsetSet) << "a zero offset is stored like any other";
    EXPECT_EQ(kInch, offset(8, 3)) << "010 is octal 8";
    EXPECT_TRUE(handler->tracker(9)->sensorRotationSet) << "a zero axis still counts as given";
    EXPECT_TRUE(sameMatrix(matAxisAngle(0, 0, 0, 90), handler->tracker(9)->sensorRotation));
    EXPECT_TRUE(sameMatrix(matFromValues({1, 0, 0, 0, 0, 1, 0, -1, 0}), handler->tracker(10)->sensorRotation));
    EXPECT_EQ(-1.0f, handler->transmitterRotation().m[2]);
    EXPECT_EQ(0.0f, handler->transmitterRotation().m[15]);
    EXPECT_FALSE(handler->transmitterOffsetSet()) << "a zero transmitter offset is taken but not set";
}

// The transforms are rebuilt whenever offset or rotation changes; an axis
// is normalised.
TEST(TraCommonOptions, OffsetAndRotationInEitherOrder) {
    const Matrix4 expected = matTransform(matAxisAngle(1, 0, 0, -45), matTranslation(1, -1, 0));
    auto a = makeHandler();
    Config first{{"transmitteroffset", {"12", "-12", "0", "inches"}},
                 {"TransmitterRotation", {"2", "0", "0", "-45"}},
                 {"sensoroffset", {"2", "1", "-1", "0"}},
                 {"sensorrotation", {"2", "1", "0", "0", "-45"}}};
    auto b = makeHandler();
    Config second{{"transmitterrotation", {"1", "0", "0", "-45"}},
                  {"transmitteroffset", {"1", "-1", "0"}},
                  {"sensorrotation", {"2", "1", "0", "0", "-45"}},
                  {"sensoroffset", {"2", "1", "-1", "0"}}};
    EXPECT_EQ("", parse(*a, first));
    EXPECT_EQ("", parse(*b, second));
    EXPECT_TRUE(a->transmitterOffsetSet() && a->transmitterRotationSet());
    EXPECT_TRUE(sameMatrix(expected, a->transmitterTransform()));
    EXPECT_TRUE(sameMatrix(expected, a->tracker(2)->sensorTransform));
    expectSameCalibration(*a, *b);
}

// A second calibration line destroys the first handler before it loads
// its own library; the arguments are the line's own.
TEST(TraCommonOptions, CalibrationLinesLoadAndReplace) {
    auto handler = makeHandler(4, false, 4, 3);
    Config config{{"calibration", {kAddOne, "room.cal", "-v", "3"}}};
    const std::string first = parse(*handler, config);
    EXPECT_EQ(1, config.line(0).used);
    EXPECT_EQ((std::vector<std::string>{"room.cal", "-v", "3"}), handler->calibArgs());
    EXPECT_STREQ("TRA", handler->calibLibrary()->logger().name) << "the loader copies the handler's logger";
    EXPECT_NE(std::string::npos, first.find(std::string("CDynamicLibH: ") + kAddOne + " library loaded.")) << first;

    Config replace{{"CALIB", {kNoEntry}}};
    bool ok = false;
    const std::string out = parse(*handler, replace, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(1, replace.line(0).used);
    ASSERT_NE(nullptr, handler->calibLibrary());
    EXPECT_TRUE(handler->calibLibrary()->isLoaded());
    EXPECT_STREQ(kNoEntry, handler->calibLibraryName());
    EXPECT_TRUE(handler->calibArgs().empty());
    size_t destroyed = out.find("CCalibH: \"destructor\" called.");
    ASSERT_NE(std::string::npos, destroyed) << out;
    EXPECT_LT(destroyed, out.find(std::string("CDynamicLibH: ") + kNoEntry + " library loaded.")) << out;
}

TEST(TraCommonOptions, CalibrationThatCannotLoadIsStillTakenLongNamesAreNot) {
    auto handler = makeHandler();
    const std::string longest(255, 'a');
    Config config{{"calibration", {kMissing}}, {"calibration", {longest + "b"}}};
    bool ok = true;
    EXPECT_EQ(error(std::string("CDynamicLibH: Can not load the library ") + kMissing) +
                  error("Invalid string found for Calibration at line 2."),
              parse(*handler, config, &ok));
    EXPECT_FALSE(ok);
    EXPECT_EQ(1, config.line(0).used);
    EXPECT_EQ(0, config.line(1).used);
    ASSERT_NE(nullptr, handler->calibLibrary());
    EXPECT_FALSE(handler->calibLibrary()->isLoaded());
    EXPECT_STREQ(kMissing, handler->calibLibraryName());

    Config fits{{"calibration", {longest}}};
    parse(*handler, fits);
    EXPECT_EQ(1, fits.line(0).used) << "255 characters fit";
    EXPECT_EQ(longest, handler->calibLibraryName());
}

TEST(TraCommonOptions, OrderOnOutputConnector) {
    struct Case { const char* keyword; std::vector<std::string> args; uint32_t orders[4]; };
    const Case cases[] = {
        {"trackerorder", {"3", "1"}, {2, 0, 1, 0}},
        {"UnitOrder", {"2", "2", "99"}, {0, 2, 0, 0}},  // a repeated id keeps its later position; 99 is beyond
        {"order", {}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keyword);
        auto handler = makeHandler(4, false, 2);
        Config config;
        config.add(1, c.keyword, c.args);
        EXPECT_EQ("", parse(*handler, config));
        EXPECT_EQ(1, config.line(0).used);
        for (uint32_t i = 1; i <= 4; ++i) {
            EXPECT_EQ(c.orders[i - 1], handler->tracker(i)->order) << "slot " << i;
        }
    }
}

TEST(TraCommonOptions, OrderOnInputConnectorFailsAndCaveLineIsRead) {
    auto handler = makeHandler(4, true, 2);
    Config config{{"order", {"2", "1"}}, {"CAVECoordinates", {"YES"}}, {"cavecoord", {"off"}}};
    bool ok = true;
    EXPECT_EQ(error("Can not change the order on input connector at line 1."), parse(*handler, config, &ok));
    EXPECT_FALSE(ok);
    EXPECT_EQ(0, config.line(0).used);
    EXPECT_EQ(1u, handler->tracker(1)->order);
    EXPECT_EQ(1, config.line(1).used);
    EXPECT_EQ(1, config.line(2).used);
    EXPECT_FALSE(handler->caveCoordinates);
    config.get()->numLines = 2;
    parse(*handler, config);
    EXPECT_TRUE(handler->caveCoordinates);
}

TEST(TraCommonOptions, CaveOnOutputConnectorAndForeignKeywordsAreLeftAlone) {
    auto handler = makeHandler(4, false, 2);
    Config config{{"cavecoord", {"maybe", "x"}},
                  {"port", {"5000"}},
                  {"valuatororder", {"1", "2"}},
                  {"controllerorder", {"1"}},
                  {"sensoroffsets", {"1", "2", "3", "4"}}};
    bool ok = false;
    EXPECT_EQ("", parse(*handler, config, &ok));
    EXPECT_TRUE(ok);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(0, config.line(i).used) << "line " << i;
    }
    EXPECT_FALSE(handler->caveCoordinates);
}

// --- Failures -------------------------------------------------------------------

// Each line alone, on line 12 of a handler with 4 slots (output connector,
// 2 outputs) that already holds a calibration: the message is exact, the
// handler is unchanged and the line stays unconsumed.
TEST(TraCommonOptions, EveryFailureMessageAndNothingStored) {
    struct FailingLine {
        const char* keyword;
        std::vector<std::string> args;
        const char* message;  // after the logger's head, without the line end
    };
    const std::vector<FailingLine> cases = {
        {"transmitteroffset", {"1", "2"}, "Incomplete option line found for TransmitterOffset at line 12."},
        {"transmitteroffset", {"1", "2", "3", "feet", "x"}, "Too many args found for TransmitterOffset at line 12."},
        {"transmitteroffset", {"1", "2", "3", "yards"}, "Invalid string found for TransmitterOffset at line 12."},
        {"transmitteroffset", {"1", "two", "3"}, "Invalid arg found for TransmitterOffset at line 12."},
        {"transmitteroffset", {"1", "1e39", "3"}, "Invalid arg found for TransmitterOffset at line 12."},
        {"transmitteroffset", {"3e38", "0", "0", "m"}, "Invalid arg found for TransmitterOffset at line 12."},
        {"transmitterrotation", {"0", "1", "0"}, "Incomplete option line found for TransmitterRotation at line 12."},
        {"transmitterrotation", {"0", "1", "0", "9", "9"}, "Too many args found for TransmitterRotation at line 12."},
        {"transmitterrotation", {"0", "y", "0", "90"}, "Invalid arg found for TransmitterRotation at line 12."},
        {"transmitterrotation", {"0", "1", "0", "deg"}, "Invalid arg found for TransmitterRotation at line 12."},
        {"transmitterrotationmatrix", numbers(1, 8),
         "Incomplete option line found for TransmitterRotationMatrix at line 12."},
        {"transmitterrotationmatrix", numbers(1, 10), "Too many args found for TransmitterRotationMatrix at line 12."},
        {"transmitterrotationmatrix", {"1", "0", "0", "0", "1", "0", "0", "0", "one"},
         "Invalid arg found for TransmitterRotationMatrix at line 12."},
        {"sensoroffset", {}, "Incomplete option line found for SensorOffset at line 12."},
        {"sensoroffset", {"0"}, "Invalid tracker ID found for SensorOffset at line 12."},
        {"sensoroffset", {"0", "1", "2", "3"}, "Invalid tracker ID found for SensorOffset at line 12."},
        {"sensoroffset", {"5", "1", "2", "3"}, "Invalid tracker ID found for SensorOffset at line 12."},
        {"sensoroffset", {"-1", "1", "2", "3"}, "Invalid tracker ID found for SensorOffset at line 12."},
        {"sensoroffset", {"one", "1", "2", "3"}, "Invalid tracker ID found for SensorOffset at line 12."},
        {"sensoroffset", {"1", "2", "3"}, "Incomplete option line found for SensorOffset at line 12."},
        {"sensoroffset", {"1", "2", "3", "4", "cm", "x"}, "Too many args found for SensorOffset at line 12."},
        {"sensoroffset", {"1", "2", "3", "4", "yards"}, "Invalid unit found for SensorOffset at line 12."},
        {"sensoroffset", {"1", "x", "3", "4"}, "Invalid arg found for SensorOffset at line 12."},
        {"sensortranslation", {"7", "1", "2", "3"}, "Invalid tracker ID found for SensorTranslation at line 12."},
        {"sensortranslation", {"1", "1", "2"}, "Incomplete option line found for SensorTranslation at line 12."},
        {"sensortranslation", {"1", "1", "2", "3", "mm"}, "Invalid unit found for SensorTranslation at line 12."},
        {"sensortranslation", {"1", "1", "-3e38", "3", "meters"},
         "Invalid arg found for SensorTranslation at line 12."},
        {"sensorrotation", {}, "Incomplete option line found for SensorRotation at line 12."},
        {"sensorrotation", {"9", "0", "1", "0", "90"}, "Invalid tracker ID found for SensorRotation at line 12."},
        {"sensorrotation", {"1", "0", "1", "0"}, "Incomplete option line found for SensorRotation at line 12."},
        {"sensorrotation", {"1", "0", "1", "0", "9", "9"}, "Too many args found for SensorRotation at line 12."},
        {"sensorrotation", {"1", "0", "1", "0", "right"}, "Invalid arg found for SensorRotation at line 12."},
        {"sensorrotationmatrix", {}, "Incomplete option line found for SensorRotationMatrix at line 12."},
        {"sensorrotationmatrix", {"0x10"}, "Invalid tracker ID found for SensorRotationMatrix at line 12."},
        {"sensorrotationmatrix", {"1", "1", "0", "0", "0", "1", "0", "0", "0"},
         "Incomplete option line found for SensorRotationMatrix at line 12."},
        {"sensorrotationmatrix", numbers(1, 11), "Too many args found for SensorRotationMatrix at line 12."},
        {"sensorrotationmatrix", {"1", "1", "0", "0", "0", "1", "0", "0", "0", "z"},
         "Invalid arg found for SensorRotationMatrix at line 12."},
        {"calibration", {}, "Incomplete option line found for Calibration at line 12."},
        {"calib", numbers(1, 12), "Too many args found for Calibration at line 12."},
        {"calibration", {std::string(256, 'n')}, "Invalid string found for Calibration at line 12."},
        {"trackerorder", {"1", "9"}, "Invalid tracker ID found for Order at line 12."},
        {"order", {"0", "1"}, "Invalid tracker ID found for Order at line 12."},
        {"cavecoord", {}, "Incomplete option line found for CAVECoord at line 12."},
        {"cavecoord", {"yes", "no"}, "Too many args found for CAVECoord at line 12."},
        {"cavecoordinates", {"maybe"}, "Invalid string found for CAVECoord at line 12."},
    };
    for (const FailingLine& c : cases) {
        SCOPED_TRACE(std::string(c.keyword) + " with " + std::to_string(c.args.size()) + " args");
        const bool cave = std::strncmp(c.keyword, "cave", 4) == 0;
        auto handler = makeHandler(4, cave, 2);
        auto before = makeHandler(4, cave, 2);
        Config setup;
        setup.add(1, "sensoroffset", {"1", "1", "2", "3"});
        setup.add(2, "transmitterrotation", {"1", "0", "0", "30"});
        setup.add(3, "order", {"2", "1"});
        parse(*handler, setup);
        parse(*before, setup);

        Config config;
        config.add(12, c.keyword, c.args);
        bool ok = true;
        EXPECT_EQ(error(c.message), parse(*handler, config, &ok));
        EXPECT_FALSE(ok);
        EXPECT_EQ(0, config.line(0).used);
        expectSameCalibration(*before, *handler);
    }
}

// After one failing line, later geometry lines are checked and dropped;
// calibration, order and CAVE lines still work.
TEST(TraCommonOptions, GeometryLinesAfterAnErrorAreDropped) {
    auto handler = makeHandler(4, false, 2);
    Config config{
        {"sensoroffset", {"0", "1", "2", "3"}},
        {"sensoroffset", {"1", "1", "2", "3", "cm"}},
        {"transmitteroffset", {"1", "2", "3", "yards"}},   // unit not examined
        {"sensorrotation", {"1", "0", "1", "0", "angle"}},  // angle not examined
        {"sensorrotationmatrix", {"2", "1", "0", "0", "0", "1", "0", "0", "0", "1"}},
        {"sensortranslation", {"1", "x", "0", "0"}},  // numbers still checked
        {"transmitterrotation", {"0", "1"}},          // count still checked
        {"calibration", {kAddOne, "a1"}},
        {"order", {"2", "1"}},
        {"transmitterrotationmatrix", numbers(1, 9)},
    };
    bool ok = true;
    EXPECT_EQ(error("Invalid tracker ID found for SensorOffset at line 1.") +
                  error("Invalid arg found for SensorTranslation at line 6.") +
                  error("Incomplete option line found for TransmitterRotation at line 7."),
              parse(*handler, config, &ok));
    EXPECT_FALSE(ok);
    const int used[] = {0, 0, 0, 0, 0, 0, 0, 1, 1, 0};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(used[i], config.line(i).used) << "line " << i + 1;
    }
    EXPECT_TRUE(sameSlot(TrackerCalib{2}, *handler->tracker(1)));
    EXPECT_TRUE(sameSlot(TrackerCalib{1}, *handler->tracker(2)));
    EXPECT_FALSE(handler->transmitterOffsetSet() || handler->transmitterRotationSet());
    ASSERT_NE(nullptr, handler->calibLibrary());
    EXPECT_EQ(1u, handler->calibArgs().size());

    // The CAVE line too, on an input connector.
    auto input = makeHandler(4, true, 2);
    Config cave{{"sensoroffset", {"9", "1", "2", "3"}}, {"cavecoord", {"on"}}};
    parse(*input, cave);
    EXPECT_TRUE(input->caveCoordinates);
    EXPECT_EQ(1, cave.line(1).used);
}

TEST(TraCommonOptions, HostileCountsStayInsideTheRecord) {
    auto handler = makeHandler();
    Config config{{"sensoroffset", {"1", "1", "2", "3"}}};
    ConfigLine& line = config.line(0);
    line.argCount = 5000;
    config.get()->numLines = 1000;
    bool ok = true;
    EXPECT_EQ(error("Too many args found for SensorOffset at line 1."), parse(*handler, config, &ok));
    EXPECT_FALSE(ok);
    line.argCount = -4;
    EXPECT_EQ(error("Incomplete option line found for SensorOffset at line 1."), parse(*handler, config));
    line.lineNumber = -1;
    EXPECT_EQ(error("Incomplete option line found for SensorOffset at line 4294967295."), parse(*handler, config));
}

// --- Per tracker write ------------------------------------------------------------

// The record goes to order + base. Untouched slots pass bit-exact; any
// flag sends a slot through the geometry, which normalises its angles.
TEST(TraCommonWrite, StorageIndexAndPassThrough) {
    auto handler = makeHandler(4, false, 2);
    handler->storageBase = 3;
    Config config{{"sensoroffset", {"2", "0", "0", "0"}}};
    parse(*handler, config);
    EXPECT_EQ(4u, handler->storageIndex(1));
    EXPECT_EQ(5u, handler->storageIndex(2));
    EXPECT_EQ(3u, handler->storageIndex(3)) << "order 0 plus the base";
    EXPECT_EQ(0u, handler->storageIndex(0));
    EXPECT_EQ(0u, handler->storageIndex(5));
    const TrackerPose in{1.0e-7f, -0.0f, 123456.78f, 270.0f, 100.0f, -720.5f};
    TrackerPose pose = in;
    ASSERT_TRUE(handler->calibratePose(1, pose));
    EXPECT_EQ(0, std::memcmp(&in, &pose, sizeof pose));
    TrackerPose normalised{0, 0, 0, 270, 0, 0};
    ASSERT_TRUE(handler->calibratePose(2, normalised));
    EXPECT_NEAR(-90.0f, normalised.azim, 1e-4f);
    EXPECT_FALSE(handler->calibratePose(0, pose));
    EXPECT_FALSE(handler->calibratePose(5, pose));
}

TEST(TraCommonWrite, LibraryCorrectsBeforeTheGeometry) {
    auto handler = makeHandler();
    Config config{{"calibration", {kAddOne}}, {"transmitterrotation", {"0", "1", "0", "90"}}};
    parse(*handler, config);
    // (0,0,0) becomes (1,0,0) in the library, then turns to (0,0,-1).
    TrackerPose pose{0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(handler->calibratePose(1, pose));
    EXPECT_NEAR(0.0f, pose.x, 1e-6f);
    EXPECT_NEAR(-1.0f, pose.z, 1e-6f);
    EXPECT_NEAR(90.0f, pose.azim, 1e-4f);

    auto plain = makeHandler();
    Config libraryOnly{{"calibration", {kAddOne}}};
    parse(*plain, libraryOnly);
    TrackerPose moved{2.5f, 1, 1, 270, 0, 0};
    ASSERT_TRUE(plain->calibratePose(3, moved));
    EXPECT_EQ(3.5f, moved.x);
    EXPECT_EQ(270.0f, moved.azim) << "no geometry, no normalising";
}

TEST(TraCommonWrite, FailedLibraryBlocksTheWrite) {
    for (const char* library : {kMissing, kNoEntry}) {
        SCOPED_TRACE(library);
        auto handler = makeHandler();
        Config config{{"calibration", {library}}};
        parse(*handler, config);
        TrackerPose pose{1, 2, 3, 4, 5, 6};
        captured([&] {
            EXPECT_FALSE(handler->calibratePose(1, pose));
            EXPECT_FALSE(handler->calibratePose(2, pose));
        });
        EXPECT_EQ(1.0f, pose.x);
    }
}

TEST(TraCommonWrite, PerWritePathAllocatesNothing) {
    auto handler = makeHandler(4, false, 4);
    Config config{{"calibration", {kAddOne}},
                  {"transmitteroffset", {"1", "2", "3"}},
                  {"sensorrotation", {"2", "1", "0", "0", "30"}},
                  {"sensortranslation", {"3", "0", "1", "0"}}};
    parse(*handler, config);
    TrackerPose pose{0.1f, 0.2f, 0.3f, 10, 20, 30};
    ASSERT_TRUE(handler->calibratePose(1, pose));  // first look-up grows the cache

    g_allocations = 0;
    g_counting = true;
    bool ok = true;
    for (int i = 0; i < 1000; ++i) {
        TrackerPose p{0.1f * i, 0.2f, 0.3f, float(i % 360), 20, 30};
        ok = handler->calibratePose(1 + i % 4, p) && ok;
        (void)handler->storageIndex(1 + i % 4);
    }
    g_counting = false;
    EXPECT_TRUE(ok);
    EXPECT_EQ(0, g_allocations.load());
}

// --- Report --------------------------------------------------------------------------

namespace {

std::string report(const CTraCommonH& handler, bool showCave = true) {
    return captured([&] { EXPECT_TRUE(handler.printSettings(showCave)); });
}

const char kHead[] = "TRA: INFO: ";
std::string info(const std::string& text) { return kHead + text + "\n"; }
std::string more(const std::string& text) { return info("                      :" + text); }

const std::string kOrderHeader = info("TRACKER ORDER         : <Real tra> -> <Output tra>");

}  // namespace

TEST(TraCommonReport, CaveLineWithTrackerOrder) {
    struct Case { uint32_t outputs; uint32_t base; bool cave; bool showCave; std::string expected; };
    const Case cases[] = {
        {1, 0, false, true, info("CAVE COORDINATES      : Unused") + kOrderHeader + more(" 1->1")},
        {2, 4, true, true, info("CAVE COORDINATES      : Used") + kOrderHeader + more(" 1->5 2->6")},
        {0, 0, true, false, kOrderHeader + more("")},
    };
    for (const Case& c : cases) {
        auto handler = makeHandler(4, true, c.outputs);
        handler->storageBase = c.base;
        handler->caveCoordinates = c.cave;
        EXPECT_EQ(c.expected, report(*handler, c.showCave));
    }
}

TEST(TraCommonReport, NineValueTransmitterRotation) {
    auto handler = makeHandler(2, false, 1);
    Config config{{"transmitterrotationmatrix", {"1", "0", "0", "0", "0", "1", "0", "-1", "0"}}};
    parse(*handler, config);
    const std::string rows = " [0][0]: 1.000 [0][1]: 0.000 [0][2]: 0.000\n" +
                             more(" [1][0]: 0.000 [1][1]: 0.000 [1][2]: 1.000") +
                             more(" [2][0]: 0.000 [2][1]:-1.000 [2][2]: 0.000") + "\n";
    EXPECT_EQ(kHead + std::string("TRANSMITTER ROTATION  :") + rows + kHead + "TRANSMITTER TRANSFORM :" + rows +
                  kOrderHeader + more(" 1->1"),
              report(*handler, false));
}

TEST(TraCommonReport, OffsetsFollowTheStreamFormatInForce) {
    // Without a matrix before it, an offset prints in the general format.
    auto plain = makeHandler(2, false, 2);
    Config offsets{{"transmitteroffset", {"1.5", "-2", "0.25"}}, {"sensoroffset", {"2", "0", "0", "10", "cm"}}};
    parse(*plain, offsets);
    const std::string out = report(*plain, false);
    EXPECT_EQ(0u, out.find(info("TRANSMITTER OFFSET    : X:1.5 Y:-2 Z:0.25"))) << out;
    // The transmitter transform block before the sensor lines leaves fixed
    // notation with 3 decimals in force; slot 1 has nothing to print.
    EXPECT_NE(std::string::npos, out.find(info("SENSOR OFFSET         : 2 X:0.000 Y:0.000 Z:0.328") +
                                          info("SENSOR TRANSFORM      : 2 [0][0]: 1.000 [0][1]: 0.000 [0][2]: 0.000") +
                                          more(" 2 [1][0]: 0.000 [1][1]: 1.000 [1][2]: 0.000") +
                                          more(" 2 [2][0]: 0.000 [2][1]: 0.000 [2][2]: 1.000") + "\n"))
        << out;
    EXPECT_EQ(std::string::npos, out.find("SENSOR ROTATION")) << out;
}

// Rows show index 4r + c, so the axis-angle matrix appears transposed to
// its column-major reading; cos(90 degrees) in float is a tiny positive.
TEST(TraCommonReport, SensorRotationRowsCarryTheTrackerNumber) {
    auto handler = makeHandler(3, false, 2);
    Config config{{"sensorrotation", {"2", "0", "0", "1", "90"}},
                  {"sensorrotation", {"3", "0", "0", "1", "90"}}};  // slot 3 has no order: not printed
    parse(*handler, config);
    const std::string out = report(*handler, false);
    EXPECT_NE(std::string::npos, out.find(info("SENSOR ROTATION       : 2 [0][0]: 0.000 [0][1]: 1.000 [0][2]: 0.000") +
                                          more(" 2 [1][0]:-1.000 [1][1]: 0.000 [1][2]: 0.000") +
                                          more(" 2 [2][0]: 0.000 [2][1]: 0.000 [2][2]: 1.000") + "\n" +
                                          info("SENSOR TRANSFORM      : 2 [0][0]: 0.000 [0][1]: 1.000 [0][2]: 0.000")))
        << out;
    EXPECT_EQ(std::string::npos, out.find(": 3 [")) << out;
}

TEST(TraCommonReport, CalibrationLibraryWithArguments) {
    auto handler = makeHandler(1, true, 1);
    Config config{{"calib", {kAddOne, "room.cal", "fast"}}};
    parse(*handler, config);
    EXPECT_EQ(kOrderHeader + more(" 1->1") + info(std::string("CALIBRATION LIBRARY   : name:") + kAddOne) +
                  more(" arg[0]:room.cal") + more(" arg[1]:fast"),
              report(*handler, false));
}

// Option lines and the report read and write numbers the same way in a
// German host locale.
TEST(TraCommonReport, HostLocaleChangesNoNumber) {
    calib_test::GermanLocale german;
    if (!german.active) {
        GTEST_SKIP() << "de_DE.UTF-8 not installed";
    }
    auto handler = makeHandler(1, false, 1);
    Config config{{"transmitteroffset", {"1.5", "1000", "0"}}, {"sensoroffset", {"1", "0.25", "0", "0"}}};
    EXPECT_EQ("", parse(*handler, config));
    const std::string out = report(*handler, false);
    EXPECT_EQ(0u, out.find(info("TRANSMITTER OFFSET    : X:1.5 Y:1000 Z:0"))) << out;
    EXPECT_NE(std::string::npos, out.find(info("SENSOR OFFSET         : 1 X:0.250 Y:0.000 Z:0.000"))) << out;
}

// A disabled logger writes no head; what follows a head is written
// straight to the output, as with every open line of the module.
TEST(TraCommonReport, DisabledLoggerLeavesTheTextAfterItsHeads) {
    CLogH silent = calib_test::quietLogger("TRA");
    silent.enabled = 0;
    CTraCommonH quiet(&silent);
    quiet.initTrackers(1);
    quiet.setTracker(1, 1, nullptr, nullptr, nullptr);
    Config config{{"transmitteroffset", {"1", "2", "3"}}, {"calibration", {kAddOne, "x"}}, {"sensoroffset", {}}};
    EXPECT_EQ("Incomplete option line found for SensorOffset at line 3.\n", parse(quiet, config));
    EXPECT_EQ(std::string(" X:1 Y:2 Z:3\n"
                          " [0][0]: 1.000 [0][1]: 0.000 [0][2]: 0.000\n"
                          " [1][0]: 0.000 [1][1]: 1.000 [1][2]: 0.000\n"
                          " [2][0]: 0.000 [2][1]: 0.000 [2][2]: 1.000\n"
                          "\n"
                          " 1->1\n"
                          " name:") +
                  kAddOne + "\n arg[0]:x\n",
              report(quiet));
}
