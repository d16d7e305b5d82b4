#include "calib/con_common.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "calib_test_support.h"

// The per-cycle path (mapping and emulation) allocating nothing is shown by
// the device's whole-cycle allocation test, which maps, scales and emulates.

namespace {

using calib_test::captured;
using calib_test::Config;

const std::string kErr = "CConCommonH: ERROR: ";

double fakeNow = 0.0;
double readFakeClock() noexcept { return fakeNow; }
void setFakeTime(int64_t seconds, uint16_t milliseconds) { fakeNow = double(seconds) + milliseconds * 0.001; }

// Everything but the emulation, which no failing line may create.
bool sameMap(const ControllerMap& a, const ControllerMap& b) {
    return a.outputId == b.outputId && a.numValuators == b.numValuators && a.numButtons == b.numButtons &&
           std::memcmp(a.valuatorOrder, b.valuatorOrder, sizeof a.valuatorOrder) == 0 &&
           std::memcmp(a.buttonOrder, b.buttonOrder, sizeof a.buttonOrder) == 0 &&
           std::memcmp(a.valuatorScale, b.valuatorScale, sizeof a.valuatorScale) == 0;
}

// Controllers 1 and 2 with 8 valuators and 16 buttons each, as the module
// base declares them; the emulation clock is the test's.
class ConCommon : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(handler.init(32, true));
        ASSERT_TRUE(handler.setControllerDefaults(1, 1, 8, 16));
        ASSERT_TRUE(handler.setControllerDefaults(2, 2, 8, 16));
        handler.setClockSource(&readFakeClock);
    }
    std::string parse(Config& config, bool expectTaken) {
        bool taken = !expectTaken;
        std::string out = captured([&] { taken = handler.parseOptions(config.get()); });
        EXPECT_EQ(expectTaken, taken) << out;
        return out;
    }
    // One line, numbered 7; what it printed. Its `used` flag tells whether it was taken.
    std::string parseOne(const char* keyword, const std::vector<std::string>& args, bool expectTaken) {
        Config config;
        config.add(7, keyword, args);
        std::string out = parse(config, expectTaken);
        EXPECT_EQ(expectTaken ? 1 : 0, config.line(0).used);
        return out;
    }
    std::string report() {
        return captured([&] { handler.printReport(); });
    }
    const ControllerMap& map(uint32_t c) { return *handler.controllerMap(c); }

    CLogH log = calib_test::quietLogger("CConCommonH");
    CConCommonH handler{&log};
};

}  // namespace

TEST_F(ConCommon, DefaultsMapEachValuatorAndButtonToItself) {
    const ControllerMap& m = map(1);
    EXPECT_EQ(1u, m.outputId);
    EXPECT_EQ(8u, m.numValuators);
    EXPECT_EQ(16u, m.numButtons);
    for (uint32_t k = 1; k <= 32; ++k) {
        EXPECT_EQ(k <= 8 ? k : 0u, m.valuatorOrder[k - 1]);
        EXPECT_EQ(k <= 16 ? k : 0u, m.buttonOrder[k - 1]);
        const float identity[4] = {0, 0, 1, 0};
        EXPECT_EQ(0, std::memcmp(identity, m.valuatorScale[k - 1], sizeof identity)) << k;
    }
    EXPECT_FALSE(m.emulation);
    EXPECT_FALSE(handler.setControllerDefaults(0, 1, 1, 1));
    EXPECT_FALSE(handler.setControllerDefaults(33, 1, 1, 1));
    ASSERT_TRUE(handler.setControllerDefaults(3, 3, 40, 99));  // the record holds 32 of each
    EXPECT_EQ(32u, map(3).numValuators);
    EXPECT_EQ(32u, map(3).numButtons);
    EXPECT_EQ(nullptr, handler.controllerMap(0));
    EXPECT_EQ(nullptr, handler.controllerMap(33));
    EXPECT_FALSE(handler.init(0, false));
    EXPECT_EQ(32u, handler.mapCount());
}

TEST(ConCommonLogger, CopiesTheHandedLoggerOrNamesItsOwn) {
    CLogH host = calib_test::quietLogger("host");
    CConCommonH own;
    EXPECT_STREQ("CConCommonH", own.log().name);
    EXPECT_EQ(3, own.log().ownerId);
    host.debugLevel = 3;  // debug lines of the objects with owner id 3 only
    host.debugThreshold = 10;
    EXPECT_EQ("host: DEBUG: CConCommonH: \"constructor\" called.\nhost: DEBUG: CConCommonH: \"destructor\" called.\n",
              captured([&] {
                  CConCommonH traced(&host);
                  EXPECT_STREQ("host", traced.log().name);
                  EXPECT_EQ(3, traced.log().ownerId);
              }));
}

TEST_F(ConCommon, ParseNeedsMapsAndConfig) {
    CConCommonH empty(&log);
    Config config;
    EXPECT_EQ(kErr + "CConCommonH: config empty\n" + kErr + "CConCommonH: lookup Null\n", captured([&] {
                  EXPECT_FALSE(handler.parseOptions(nullptr));
                  EXPECT_FALSE(empty.parseOptions(config.get()));
              }));
}

// Position p of the list is output p; 0 leaves it empty; the largest own
// number becomes the count; an empty list drops them all.
TEST_F(ConCommon, OrdersReorderWithGapsAndEmptyLists) {
    EXPECT_EQ("", parseOne("ValuatorOrder", {"1", "3", "0", "1"}, true));
    EXPECT_EQ(3u, map(1).numValuators);
    const uint32_t valuators[32] = {3, 0, 1};
    EXPECT_EQ(0, std::memcmp(valuators, map(1).valuatorOrder, sizeof valuators));

    EXPECT_EQ("", parseOne("BUTTONORDER", {"2", "16", "0", "1"}, true));
    EXPECT_EQ(16u, map(2).numButtons);
    EXPECT_EQ(3u, map(2).buttonOrder[0]);
    EXPECT_EQ(1u, map(2).buttonOrder[15]);
    EXPECT_EQ(0u, map(2).buttonOrder[1]);

    EXPECT_EQ("", parseOne("valuatororder", {"0x2"}, true));
    EXPECT_EQ(0u, map(2).numValuators);
    EXPECT_EQ(0u, map(2).valuatorOrder[0]);

    // Without the limit to the counts an order may name up to 32.
    ASSERT_TRUE(handler.init(32, false));
    ASSERT_TRUE(handler.setControllerDefaults(1, 1, 2, 2));
    EXPECT_EQ("", parseOne("buttonorder", {"1", "32", "0"}, true));
    EXPECT_EQ(32u, map(1).numButtons);
    EXPECT_EQ(1u, map(1).buttonOrder[31]);
    EXPECT_NE("", parseOne("buttonorder", {"1", "33"}, false));
}

TEST_F(ConCommon, ValuatorScaleFactorCoefficientsAndAll) {
    EXPECT_EQ("", parseOne("valuatorscale", {"1", "2", "ALL"}, true));
    for (uint32_t k = 1; k <= 32; ++k) {
        EXPECT_EQ(2.0f, map(1).valuatorScale[k - 1][2]) << k;
    }
    EXPECT_EQ(-3.0f, handler.scaleValuator(1, 8, -1.5f));

    EXPECT_EQ("", parseOne("ValuatorScale", {"2", "[1,0,0,0]", "1", "3"}, true));
    EXPECT_EQ(0.125f, handler.scaleValuator(2, 1, 0.5f));
    EXPECT_EQ(-8.0f, handler.scaleValuator(2, 3, -2.0f));
    EXPECT_EQ(-2.0f, handler.scaleValuator(2, 2, -2.0f));  // not named: unchanged

    EXPECT_EQ("", parseOne("valuatorscale", {"2", "[0,2]", "2"}, true));  // fills from the left
    const float expected[4] = {0.0f, 2.0f, 0.0f, 0.0f};
    EXPECT_EQ(0, std::memcmp(expected, map(2).valuatorScale[1], sizeof expected));

    EXPECT_EQ("", parseOne("valuatorscale", {"2", "0", "4"}, true));  // a plain 0 is a constant 0
    EXPECT_EQ(0.0f, handler.scaleValuator(2, 4, 5.0f));

    EXPECT_EQ(0.0f, handler.scaleValuator(0, 1, 1.0f));
    EXPECT_EQ(0.0f, handler.scaleValuator(33, 1, 1.0f));
    EXPECT_EQ(0.0f, handler.scaleValuator(1, 33, 1.0f));
}

TEST_F(ConCommon, CubicIsEvaluatedInDoublePrecision) {
    EXPECT_EQ("", parseOne("valuatorscale", {"1", "[0.5,0,2,-1]", "1"}, true));
    const float x = 1.1f;
    const double v = x;
    const float inDouble = static_cast<float>(0.5 * v * v * v + 2.0 * v - 1.0);
    volatile float xf = x;
    const float inFloat = 0.5f * xf * xf * xf + 2.0f * xf - 1.0f;
    ASSERT_NE(inDouble, inFloat);  // the case tells the two apart
    EXPECT_EQ(inDouble, handler.scaleValuator(1, 1, x));
}

TEST_F(ConCommon, EmulateTrackerLines) {
    EXPECT_EQ("", parseOne("EmulateTracker", {"2", "[0,0,0,0,0,0]", "1", "2", "0", "0", "0", "0"}, true));
    const TrackerEmulation& e = *map(2).emulation;
    const uint32_t assign[6] = {1, 2, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(assign, e.valuatorAssign, sizeof assign));
    EXPECT_EQ(0u, e.resetButton);

    EXPECT_EQ("", parseOne("emulatetracker", {"1", "[1.5,-2,3]", "0", "0", "0", "8", "0", "0", "16"}, true));
    const TrackerEmulation& f = *map(1).emulation;
    const float pose[6] = {1.5f, -2.0f, 3.0f, 0.0f, 0.0f, 0.0f};
    EXPECT_EQ(0, std::memcmp(pose, f.initPose, sizeof pose));
    EXPECT_EQ(16u, f.resetButton);
    EXPECT_EQ(8u, f.valuatorAssign[3]);

    // Without a "[" the pose stays at zero, without a message.
    EXPECT_EQ("", parseOne("emulatetracker", {"1", "1,2,3", "0", "0", "0", "0", "0", "0"}, true));
    EXPECT_EQ(0.0f, map(1).emulation->initPose[0]);
    EXPECT_EQ(0u, map(1).emulation->resetButton);
}

// Each faulty line alone, on line 7: the exact message, the line not
// consumed, and controllers 1 and 2 exactly as before.
TEST_F(ConCommon, EveryFaultMessageAndNothingApplied) {
    struct Case { const char* keyword; std::vector<std::string> args; const char* message; };
    const std::vector<std::string> emulation = {"2", "[1,0,0,0,0,0]", "1", "2", "0", "0", "0", "0"};
    auto emulationWith = [&](size_t index, const char* text) {
        std::vector<std::string> args = emulation;
        args.resize(std::max(args.size(), index + 1), "0");
        args[index] = text;
        return args;
    };
    const Case cases[] = {
        {"buttonorder", {}, "Incomplete option line found for Order at line 7."},
        {"buttonorder", {"0", "1"}, "Invalid controller ID found for Order option at line 7."},
        {"valuatororder", {"33", "1"}, "Invalid controller ID found for Order option at line 7."},
        {"buttonorder", {"x", "1"}, "Invalid controller ID found for Order option at line 7."},
        {"buttonorder", {"1", "2", "2"}, "Same ID found more than once in Order option at line 7."},
        {"buttonorder", {"1", "x"}, "Invalid arg found for Order at line 7."},
        {"buttonorder", {"1", "17"}, "Invalid ID found in Order option at line 7."},
        {"valuatororder", {"1", "9"}, "Invalid ID found in Order option at line 7."},
        {"valuatororder", {"1", "-1"}, "Invalid ID found in Order option at line 7."},
        {"valuatororder", {"1", "4294967297"}, "Invalid ID found in Order option at line 7."},
        {"valuatorscale", {}, "Incomplete option line found for ValuatorScale at line 7."},
        {"valuatorscale", {"0", "2", "1"}, "Invalid controller ID found for ValuatorScale option at line 7."},
        {"valuatorscale", {"1", "2"}, "Incomplete option line found for ValuatorScale at line 7."},
        {"valuatorscale", {"1", "[0,0,0,0]", "1"}, "Incomplete option line found for ValuatorScale at line 7."},
        {"valuatorscale", {"1", "[1,1e39,0,0]", "1"}, "Invalid arg found for ValuatorScale at line 7."},
        {"valuatorscale", {"1", "two", "1"}, "Invalid arg found for ValuatorScale at line 7."},
        {"valuatorscale", {"1", "2", "0"}, "Invalid valuator ID found for ValuatorScale option at line 7."},
        {"valuatorscale", {"1", "2", "1", "9"}, "Invalid valuator ID found for ValuatorScale option at line 7."},
        {"emulatetracker", {}, "Incomplete option line found for EmulateTracker at line 7."},
        {"emulatetracker", emulationWith(0, "33"), "Invalid controller ID found for EmulateTracker option at line 7."},
        {"emulatetracker", {"2"}, "Incomplete option line found for EmulateTracker at line 7."},
        {"emulatetracker", emulationWith(1, "[1e39,5,5,0,0,0]"), "Invalid arg found for EmulateTracker at line 7."},
        {"emulatetracker", {emulation.begin(), emulation.begin() + 7},
         "Incomplete option line found for EmulateTracker at line 7."},
        {"emulatetracker", emulationWith(9, "1"), "Too many args found for EmulateTracker at line 7."},
        {"emulatetracker", emulationWith(2, "9"), "Invalid valuator ID found for EmulateTracker option at line 7."},
        {"emulatetracker", emulationWith(7, "-1"), "Invalid valuator ID found for EmulateTracker option at line 7."},
        {"emulatetracker", emulationWith(8, "0"),
         "Invalid button ID found for EmulateTracker option at line 7. Ignored."},
        {"emulatetracker", emulationWith(8, "17"),
         "Invalid button ID found for EmulateTracker option at line 7. Ignored."},
    };
    CConCommonH pristine(&log);
    pristine.init(32, true);
    pristine.setControllerDefaults(1, 1, 8, 16);
    pristine.setControllerDefaults(2, 2, 8, 16);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keyword + (" " + std::to_string(c.args.size())));
        EXPECT_EQ(kErr + c.message + "\n", parseOne(c.keyword, c.args, false));
        for (uint32_t id : {1u, 2u}) {
            EXPECT_TRUE(sameMap(*pristine.controllerMap(id), map(id))) << "controller " << id;
            EXPECT_FALSE(map(id).emulation);
        }
    }
}

// Controller 5 is not defined by the module: only "no valuator" fits it.
// Emulations are numbered after the module's own 3 trackers.
TEST_F(ConCommon, EmulationsAreNumberedAfterTheModulesTrackers) {
    Config config{{"emulatetracker", {"5", "[0,0,0,0,0,0]", "1", "0", "0", "0", "0", "0"}},
                  {"emulatetracker", {"5", "[0,0,0,0,0,0]", "0", "0", "0", "0", "0", "0"}},
                  {"emulatetracker", {"2", "[0,0,0,0,0,0]", "1", "0", "0", "0", "0", "0"}}};
    EXPECT_EQ(kErr + "Invalid valuator ID found for EmulateTracker option at line 1.\n", parse(config, false));
    EXPECT_EQ(0, config.line(0).used);
    EXPECT_EQ(1, config.line(1).used);
    EXPECT_EQ(1, config.line(2).used);
    EXPECT_EQ(0u, handler.assignEmulatedIds(0));
    EXPECT_EQ(2u, handler.assignEmulatedIds(3 + 1));
    EXPECT_EQ(4u, map(2).emulation->trackerId);
    EXPECT_EQ(5u, map(5).emulation->trackerId);
}

// The order keywords of an input connector are not this handler's to take;
// a line in error does not stop the later ones.
TEST_F(ConCommon, ForeignOrderKeywordsAndLaterLines) {
    Config config{{"controllerorder", {"2", "1"}},
                  {"unitorder", {"1"}},
                  {"Order", {}},
                  {"sensoroffset", {"1", "0", "0", "1"}},
                  {"buttonorder", {"1", "2", "2"}},
                  {"buttonorder", {"1", "2", "1"}}};
    EXPECT_EQ(kErr + "Same ID found more than once in Order option at line 5.\n", parse(config, false));
    const int used[] = {0, 0, 0, 0, 0, 1};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(used[i], config.line(i).used) << "line " << i + 1;
    }
    EXPECT_EQ(1u, map(1).outputId);
    EXPECT_EQ(2u, map(2).outputId);
    EXPECT_EQ(2u, map(1).buttonOrder[0]);
    EXPECT_EQ(1u, map(1).buttonOrder[1]);
}

TEST_F(ConCommon, NumbersReadAndPrintTheSameInAGermanLocale) {
    calib_test::GermanLocale german;
    if (!german.active) {
        GTEST_SKIP() << "de_DE.UTF-8 not installed";
    }
    parseOne("valuatorscale", {"1", "[0.5,0,2,-1]", "1"}, true);
    parseOne("valuatorscale", {"1", "1.5", "2"}, true);
    parseOne("emulatetracker", {"1", "[1.25,0,0,0,0,0]", "1", "0", "0", "0", "0", "0"}, true);
    EXPECT_EQ(1.5f, map(1).valuatorScale[1][2]);
    EXPECT_EQ(1.25f, map(1).emulation->initPose[0]);
    const std::string out = report();
    EXPECT_NE(std::string::npos, out.find(" 1->1(0.5X^3+2X-1) 2->2(1.5X)")) << out;
    EXPECT_NE(std::string::npos, out.find(" X=1.25 ")) << out;
}

TEST_F(ConCommon, MapToRecordScalesReordersAndDropsBeyondTheRecord) {
    parseOne("valuatororder", {"1", "3", "0", "1"}, true);
    parseOne("valuatorscale", {"1", "2", "1"}, true);
    parseOne("buttonorder", {"1", "2", "1", "3"}, true);
    handler.controllerBase = 4;
    ConData record{};
    record.clear();
    record.setCounts(3, 2);
    const float valuators[2] = {0.25f, 9.0f};  // shorter than the map: own valuator 3 reads 0
    const int32_t buttons[3] = {1, -5, 7};
    ASSERT_TRUE(handler.mapToRecord(1, valuators, 2, buttons, 3, record));
    EXPECT_EQ(5u, records::fromBE32(record.id));
    EXPECT_EQ(0.0f, record.getValuator(1));
    EXPECT_EQ(0.0f, record.getValuator(2));
    EXPECT_EQ(0.5f, record.getValuator(3));
    EXPECT_EQ(0, record.getButton(1));  // own 2, state -5
    EXPECT_EQ(1, record.getButton(2));  // own 1
    EXPECT_EQ(0x02, record.buttonBits[0]);  // own 3 goes to 3, beyond the record's 2
    EXPECT_FALSE(handler.mapToRecord(0, valuators, 2, buttons, 3, record));
}

// --- Emulation steps on real records --------------------------------------------

// Controller 1 emulates tracker 4 from the initial pose (1, 2, 3, 350, 20,
// 30): x follows output valuator 1, azimuth valuator 2, button 5 resets.
class Emulation : public ConCommon {
protected:
    void SetUp() override {
        ConCommon::SetUp();
        parseOne("emulatetracker", {"1", "[1,2,3,350,20,30]", "1", "0", "0", "2", "0", "0", "5"}, true);
        ASSERT_EQ(1u, handler.assignEmulatedIds(4));
        std::memset(&tracker, 0xA5, sizeof tracker);
        std::memcpy(stampBefore, &tracker.stamp, sizeof stampBefore);
        controller.clear();
        controller.setCounts(8, 16);
        controller.setTime(1000, 250000);
    }
    // One controller write at the given clock reading with valuators 1 and 2;
    // the tracker's time-stamp block is never touched.
    void step(int64_t seconds, uint16_t ms, float rate1, float rate2, bool reset = false) {
        setFakeTime(seconds, ms);
        controller.setValuator(1, rate1);
        controller.setValuator(2, rate2);
        controller.setButton(5, reset);
        ASSERT_TRUE(handler.applyEmulation(1, &tracker, &controller));
        EXPECT_EQ(0, std::memcmp(stampBefore, &tracker.stamp, sizeof stampBefore));
    }
    static float stored(float v) {
        TraData t{};
        t.setX(v);
        return t.getX();
    }

    TraData tracker;
    ConData controller;
    unsigned char stampBefore[sizeof(TimeStampBlock)] = {};
};

TEST_F(Emulation, ResetAtSetUpThenFirstWriteResetsThenIntegrates) {
    ASSERT_TRUE(handler.resetEmulation(1, &tracker, nullptr));
    EXPECT_EQ(4u, records::fromBE32(tracker.id));
    EXPECT_EQ(0xA5A5A5A5u, tracker.seconds);  // no controller record: time words kept
    EXPECT_EQ(1.0f, tracker.getX());
    EXPECT_EQ(350.0f, tracker.getAzim());

    tracker.setX(7.0f);  // the first write resets rather than integrates
    step(100, 0, 0.5f, 0.0f);
    EXPECT_EQ(1.0f, tracker.getX());
    EXPECT_EQ(1000u, records::fromBE32(tracker.seconds));
    EXPECT_EQ(250000u, records::fromBE32(tracker.microseconds));

    float x = 1.0f;
    for (uint16_t ms : {200, 400, 600}) {
        step(100, ms, 0.5f, 0.0f);
        x = stored(x + 0.5f * 0.2f);
        EXPECT_EQ(x, tracker.getX()) << ms;
        EXPECT_FLOAT_EQ(0.2, handler.timeStep);
    }
    EXPECT_NEAR(1.3f, tracker.getX(), 1e-5);
    EXPECT_EQ(2.0f, tracker.getY());
    EXPECT_EQ(30.0f, tracker.getRoll());
}

TEST_F(Emulation, ResetButtonHoldsTheInitialPoseAndIntegrationResumesFromTheRelease) {
    step(100, 0, 0.0f, 0.0f);
    step(101, 0, 1.0f, 0.0f);
    EXPECT_EQ(2.0f, tracker.getX());
    step(102, 0, 1.0f, 0.0f, true);
    EXPECT_EQ(1.0f, tracker.getX());
    step(105, 0, 1.0f, 0.0f, true);
    EXPECT_EQ(1.0f, tracker.getX());
    step(105, 500, 1.0f, 0.0f);  // half a second after the last held write
    EXPECT_EQ(1.5f, tracker.getX());
}

TEST_F(Emulation, StaysInsideWhatTheRecordHolds) {
    step(100, 0, 0.0f, 0.0f);
    step(101, 0, 0.0f, 20.0f);  // a turn past 360 stays as it is
    EXPECT_EQ(370.0f, tracker.getAzim());
    tracker.setAzim(21470.0f);  // beyond the record's range only whole turns go
    step(102, 0, 0.0f, 10.0f);
    EXPECT_NEAR(240.0f, tracker.getAzim(), 1e-2);
    step(102, 500, 0.0f, -10.0f);
    EXPECT_NEAR(235.0f, tracker.getAzim(), 1e-2);
    tracker.setX(21473.0f);
    step(103, 0, 1000.0f, 0.0f);
    EXPECT_NEAR(21474.0f, tracker.getX(), 1e-2);
    step(102, 0, 1000.0f, 0.0f);  // clock set back: no step
    EXPECT_NEAR(21474.0f, tracker.getX(), 1e-2);
    EXPECT_EQ(0.0, handler.timeStep);
}

TEST_F(Emulation, RefusesMissingRecordsAndControllersWithoutEmulation) {
    EXPECT_FALSE(handler.applyEmulation(0, &tracker, &controller));
    EXPECT_FALSE(handler.applyEmulation(33, &tracker, &controller));
    EXPECT_FALSE(handler.applyEmulation(2, &tracker, &controller));
    EXPECT_FALSE(handler.applyEmulation(1, nullptr, &controller));
    EXPECT_FALSE(handler.applyEmulation(1, &tracker, nullptr));
    EXPECT_FALSE(handler.resetEmulation(2, &tracker, nullptr));
    EXPECT_FALSE(handler.resetEmulation(1, nullptr, nullptr));
    EXPECT_EQ(0, std::memcmp(stampBefore, &tracker.stamp, sizeof stampBefore));
    EXPECT_EQ(0xA5A5A5A5u, tracker.x);
}

// Steps are timed on the monotonic clock, which no one sets forward.
TEST(ConCommonClock, StepsAreTimedOnTheMonotonicClock) {
    CConCommonH handler;
    const double monotonic = static_cast<double>(platform::monotonicNanos()) * 1e-9;
    EXPECT_NEAR(monotonic, handler.nowSeconds(), 1.0);
    handler.setClockSource(&readFakeClock);
    setFakeTime(1700000000, 123);
    EXPECT_DOUBLE_EQ(1700000000.123, handler.nowSeconds());
    handler.setClockSource(nullptr);
    EXPECT_NEAR(monotonic, handler.nowSeconds(), 1.0);
}

// --- Report ------------------------------------------------------------------------

TEST_F(ConCommon, ReportText) {
    handler.controllerBase = 2;
    parseOne("valuatorscale", {"1", "[0.5,0,2,-1]", "2"}, true);
    parseOne("valuatororder", {"2", "2", "1"}, true);
    parseOne("buttonorder", {"2", "3", "0", "1"}, true);
    parseOne("emulatetracker", {"2", "[1,2.5,0,90,0,-45]", "1", "0", "2", "0", "0", "0", "3"}, true);
    handler.assignEmulatedIds(4);
    const std::string info = "CConCommonH: INFO: ";
    const std::string more = info + "                      :";
    EXPECT_EQ(info + "CONTROLLER ORDER      : <Real con> -> <Output con>\n" +  //
                  more + " 1->3 2->4\n" +                                      //
                  info + "VALUATOR ORDER(SCALE) : <Real val> -> <Output val>\n" +
                  more + " 1: 1->1(1X) 2->2(0.5X^3+2X-1) 3->3(1X) 4->4(1X) 5->5(1X) 6->6(1X) 7->7(1X) 8->8(1X)\n" +
                  info + "BUTTON ORDER          : <Real but> -> <Output but>\n" +
                  more + " 1: 1->1 2->2 3->3 4->4 5->5 6->6 7->7 8->8 9->9 10->10 11->11 12->12 13->13 14->14 "
                         "15->15 16->16\n" +
                  info + "VALUATOR ORDER(SCALE) : <Real val> -> <Output val>\n" +  //
                  more + " 2: 1->2(1X) 2->1(1X)\n" +                               //
                  info + "BUTTON ORDER          : <Real but> -> <Output but>\n" +  //
                  more + " 2: 1->3 3->1\n" +                                       //
                  info + "TRACKER EMULATION     : 2->tracker[4]\n" +               //
                  more + " 2: Init Values: X=1 Y=2.5 Z=0\n" +                      //
                  more + " 2: Init Values: Azim=90 Elev=0 Roll=-45\n" +            //
                  more + " 2: Val Assign : 1->X 2->Z\n" +                          //
                  more + " 2: Reset But  : 3\n",
              report());
}

TEST(ConCommonReport, SingleControllerAndCancellingCoefficients) {
    CLogH log = calib_test::quietLogger("CConCommonH");
    CConCommonH handler(&log);
    ASSERT_TRUE(handler.init(1, true));
    ASSERT_TRUE(handler.setControllerDefaults(1, 1, 2, 0));
    Config config{{"valuatorscale", {"1", "[1,-1,2,0]", "1"}},
                  {"valuatorscale", {"1", "0", "2"}},
                  {"emulatetracker", {"1", "[0,0,0,0,0,0]", "0", "0", "0", "0", "0", "0"}}};
    ASSERT_TRUE(handler.parseOptions(config.get()));
    handler.assignEmulatedIds(1);
    const std::string info = "CConCommonH: INFO: ";
    const std::string more = info + "                      :";
    EXPECT_EQ(info + "CONTROLLER ORDER      : <Real con> -> <Output con>\n" + more + " 1->1\n" + info +
                  "VALUATOR ORDER(SCALE) : <Real val> -> <Output val>\n" + more + " 1->1(1X^3-1X^2+2X) 2->2()\n" +
                  info + "TRACKER EMULATION     : As tracker[1]\n" + more + " Init Values: X=0 Y=0 Z=0\n" + more +
                  " Init Values: Azim=0 Elev=0 Roll=0\n" + more + " Val Assign :\n",
              captured([&] { handler.printReport(); }));
}
