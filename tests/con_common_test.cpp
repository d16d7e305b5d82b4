// CConCommonH: controller maps, option lines and messages, mapping, tracker emulation, report.
#include "calib/con_common.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/host_records.h"
#include "tests/support/output.h"

using test_support::capturedStdout;
using test_support::ConfigLines;

namespace {

double fakeNow = 0.0;
double readFakeClock() noexcept { return fakeNow; }
const std::string kErr = "CON: ERROR: ", kInfo = "CON: INFO: ", kMore = kInfo + "                      :";
const auto words = ConfigLines::split;

// Controllers 1 and 2 with 8 valuators and 16 buttons; the emulation clock is the test's.
class ConCommon : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(handler.init(32, true));
        ASSERT_TRUE(handler.setControllerDefaults(1, 1, 8, 16) && handler.setControllerDefaults(2, 2, 8, 16));
        handler.setClockSource(&readFakeClock);
    }
    std::string parseOne(const std::string& line, bool taken = true) {
        ConfigLines lines;
        lines.addAt(7, words(line));
        const std::string out = capturedStdout([&] { EXPECT_EQ(taken, handler.parseOptions(lines.config())); });
        EXPECT_EQ(taken ? 1 : 0, lines.line(0).used) << line;
        return out;
    }
    std::string report() {
        return capturedStdout([&] { handler.printReport(); });
    }
    const ControllerMap& map(uint32_t c) { return *handler.controllerMap(c); }

    CLogH log = test_support::quietLogger("CON");
    CConCommonH handler{&log};
};

}  // namespace

// Controllers outside 1..32 are refused.
TEST_F(ConCommon, DefaultsLoggerAndBounds) {
    EXPECT_FALSE(map(1).emulation || handler.setControllerDefaults(0, 1, 1, 1) ||
                 handler.setControllerDefaults(33, 1, 1, 1));
    EXPECT_FALSE(handler.init(0, false));
    EXPECT_EQ(32u, handler.mapCount());
    EXPECT_TRUE(handler.controllerMap(32) != nullptr && handler.controllerMap(33) == nullptr);
    std::string keywords;
    for (size_t i = 0; i < 20 && CConCommonH::optionKeyword(i) != nullptr; ++i)
        keywords += CConCommonH::optionKeyword(i) + std::string(" ");
    EXPECT_EQ("emulatetracker valuatororder buttonorder valuatorscale controllerorder unitorder order ", keywords);

    CConCommonH own;
    EXPECT_STREQ("CConCommonH", own.log().name);
    CLogH host = test_support::quietLogger("host", 3);  // debug lines of owner id 3 only
    host.debugThreshold = 10;
    EXPECT_EQ("host: DEBUG: CConCommonH: \"constructor\" called.\nhost: DEBUG: CConCommonH: \"destructor\" called.\n",
              capturedStdout([&] { EXPECT_EQ(3, CConCommonH(&host).log().ownerId); }));
}

// Position p of an order list is output p; 0 leaves it empty; the largest own number becomes the count.
TEST_F(ConCommon, OrderLines) {
    EXPECT_EQ("", parseOne("ValuatorOrder 1 3 0 1") + parseOne("BUTTONORDER 2 16 0 1") + parseOne("valuatororder 0x2"));
    const uint32_t valuators[32] = {3, 0, 1};
    EXPECT_EQ(0, std::memcmp(valuators, map(1).valuatorOrder, sizeof valuators));
    EXPECT_EQ(
        (std::vector<uint32_t>{3, 16, 3, 0, 1, 0, 0}),
        (std::vector<uint32_t>{map(1).numValuators, map(2).numButtons, map(2).buttonOrder[0], map(2).buttonOrder[1],
                               map(2).buttonOrder[15], map(2).numValuators, map(2).valuatorOrder[0]}));
    ASSERT_TRUE(handler.init(32, false));
    ASSERT_TRUE(handler.setControllerDefaults(1, 1, 2, 2));
    EXPECT_EQ("", parseOne("buttonorder 1 32 0"));
    EXPECT_EQ(std::make_pair(32u, 1u), std::make_pair(map(1).numButtons, map(1).buttonOrder[31]));
    EXPECT_EQ(kErr + "Invalid ID found in Order option at line 7.\n", parseOne("buttonorder 1 33", false));
}

// A factor or four cubic coefficients for the valuators named or "all", evaluated in double.
TEST_F(ConCommon, ValuatorScales) {
    EXPECT_EQ("", parseOne("valuatorscale 1 2 ALL") + parseOne("ValuatorScale 2 [1,0,0,0] 1 3") +
                      parseOne("valuatorscale 2 [0,2] 2") + parseOne("valuatorscale 2 0 4"));
    EXPECT_EQ(2.0f, map(1).valuatorScale[31][2]);
    EXPECT_EQ((std::vector<float>{-3, 0.125f, -8, 8, 0, 0, 0, 0}),
              (std::vector<float>{handler.scaleValuator(1, 8, -1.5f), handler.scaleValuator(2, 1, 0.5f),
                                  handler.scaleValuator(2, 3, -2.0f), handler.scaleValuator(2, 2, -2.0f),
                                  handler.scaleValuator(2, 4, 5.0f), handler.scaleValuator(0, 1, 1.0f),
                                  handler.scaleValuator(33, 1, 1.0f), handler.scaleValuator(1, 33, 1.0f)}));
    EXPECT_EQ("", parseOne("valuatorscale 1 [0.5,0,2,-1] 1"));
    const float x = 1.1f;
    volatile float xf = x;
    const float inDouble = static_cast<float>(0.5 * double(x) * x * x + 2.0 * x - 1.0),
                inFloat = 0.5f * xf * xf * xf + 2.0f * xf - 1.0f;
    ASSERT_NE(inDouble, inFloat);
    EXPECT_EQ(inDouble, handler.scaleValuator(1, 1, x));
}

// Own valuator (button) k goes to its output, scaled, up to the 32nd; no map leaves the record alone.
TEST_F(ConCommon, MapToRecordUpToTheLastValuatorAndButton) {
    ASSERT_TRUE(handler.setControllerDefaults(3, 5, 40, 99));  // cut to the record's 32
    EXPECT_EQ(std::make_pair(32u, 32u), std::make_pair(map(3).numValuators, map(3).numButtons));
    EXPECT_EQ("", parseOne("valuatorscale 3 2 32"));
    handler.controllerBase = 2;
    float valuators[32] = {0.5f};
    int32_t buttons[32] = {1};
    valuators[31] = 1.25f, buttons[31] = 1;
    ConData record;
    record.clear();
    record.setCounts(32, 32);
    EXPECT_FALSE(handler.mapToRecord(0, valuators, 32, buttons, 32, record) ||
                 handler.mapToRecord(33, valuators, 32, buttons, 32, record));
    EXPECT_EQ(0u, record.id);
    ASSERT_TRUE(handler.mapToRecord(3, valuators, 32, buttons, 32, record));
    EXPECT_EQ(
        (std::vector<float>{7, 0.5f, 2.5f, 1, 1, 0}),
        (std::vector<float>{records::fromBE32(record.id) * 1.0f, record.getValuator(1), record.getValuator(32),
                            record.getButton(1) * 1.0f, record.getButton(32) * 1.0f, record.getButton(2) * 1.0f}));
    ASSERT_TRUE(handler.mapToRecord(3, valuators, 31, buttons, 31, record));
    EXPECT_EQ(std::make_pair(0.0f, 0), std::make_pair(record.getValuator(32), record.getButton(32)));
}

// Initial pose, valuators for x y z azim elev roll, a reset button; numbered after the module's own.
TEST_F(ConCommon, EmulateTrackerLines) {
    EXPECT_EQ("", parseOne("EmulateTracker 2 [0,0,0,0,0,0] 1 2 0 0 0 0") +
                      parseOne("emulatetracker 1 [1.5,-2,3] 0 0 0 8 0 0 16"));
    const TrackerEmulation& f = *map(1).emulation;  // (a whole line's fields show in the report)
    EXPECT_EQ(std::make_tuple(8u, 16u, 0u), std::make_tuple(f.valuatorAssign[3], f.resetButton, f.trackerId));
    EXPECT_EQ((std::vector<float>{1.5f, -2, 3, 0, 0, 0}), std::vector<float>(f.initPose, f.initPose + 6));
    EXPECT_EQ("", parseOne("emulatetracker 1 1,2,3 0 0 0 0 0 0"));
    EXPECT_EQ(std::make_pair(0.0f, 0u), std::make_pair(map(1).emulation->initPose[0], map(1).emulation->resetButton));
    // Controller 5 is not the module's: it has no valuators, so only 0 fits it.
    EXPECT_EQ(kErr + "Invalid valuator ID found for EmulateTracker option at line 7.\n",
              parseOne("emulatetracker 5 [0,0,0,0,0,0] 1 0 0 0 0 0", false));
    EXPECT_EQ("", parseOne("emulatetracker 5 [0,0,0,0,0,0] 0 0 0 0 0 0"));
    EXPECT_EQ(0u, handler.assignEmulatedIds(0));
    EXPECT_EQ(3u, handler.assignEmulatedIds(3 + 1));
    EXPECT_EQ(
        (std::vector<uint32_t>{4, 5, 6}),
        (std::vector<uint32_t>{map(1).emulation->trackerId, map(2).emulation->trackerId, map(5).emulation->trackerId}));
}

// Each faulty line alone on line 7: the exact message, the line not consumed, the maps as before.
TEST_F(ConCommon, EveryFaultMessageAndNothingApplied) {
    const std::pair<const char*, std::string> cases[] = {
        {"buttonorder", "Incomplete option line found for Order at line 7."},
        {"valuatororder 33 1", "Invalid controller ID found for Order option at line 7."},
        {"buttonorder 1 x", "Invalid arg found for Order at line 7."},
        {"buttonorder 1 17", "Invalid ID found in Order option at line 7."},
        {"valuatorscale 0 2 1", "Invalid controller ID found for ValuatorScale option at line 7."},
        {"valuatorscale 1 2", "Incomplete option line found for ValuatorScale at line 7."},
        {"valuatorscale 1 [1,1e39,0,0] 1", "Invalid arg found for ValuatorScale at line 7."},
        {"valuatorscale 1 2 1 9", "Invalid valuator ID found for ValuatorScale option at line 7."},
        {"emulatetracker 33 0 1 2 0 0 0 0", "Invalid controller ID found for EmulateTracker option at line 7."},
        {"emulatetracker 2 [1e39,5,5,0,0,0] 1 2 0 0 0 0", "Invalid arg found for EmulateTracker at line 7."},
        {"emulatetracker 2 0 1 2 0 0 0", "Incomplete option line found for EmulateTracker at line 7."},
        {"emulatetracker 2 0 1 2 0 0 0 0 0 1", "Too many args found for EmulateTracker at line 7."},
        {"emulatetracker 2 0 9 2 0 0 0 0", "Invalid valuator ID found for EmulateTracker option at line 7."},
        {"emulatetracker 2 0 1 2 0 0 0 0 17", "Invalid button ID found for EmulateTracker option at line 7. Ignored."},
    };
    const std::string before = report();
    for (const auto& [line, message] : cases) {
        EXPECT_EQ(kErr + message + "\n", parseOne(line, false)) << line;
        EXPECT_EQ(before, report());
    }
}

// The module's own order keywords are not this handler's; a line in error does not stop later ones.
TEST_F(ConCommon, ForeignOrderKeywordsAndLaterLines) {
    ConfigLines lines(
        "controllerorder 2 1; unitorder 1; Order; sensoroffset 1 0 0 1; buttonorder 1 2 2; buttonorder 1 2 1");
    EXPECT_EQ(kErr + "Same ID found more than once in Order option at line 5.\n",
              capturedStdout([&] { EXPECT_FALSE(handler.parseOptions(lines.config())); }));
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 0, 1}), lines.used());
    EXPECT_EQ((std::vector<uint32_t>{1, 2, 2, 1}),
              (std::vector<uint32_t>{map(1).outputId, map(2).outputId, map(1).buttonOrder[0], map(1).buttonOrder[1]}));
    EXPECT_EQ(kErr + "CConCommonH: config empty\n" + kErr + "CConCommonH: lookup Null\n", capturedStdout([&] {
                  CConCommonH empty(&log);
                  EXPECT_FALSE(handler.parseOptions(nullptr) || empty.parseOptions(lines.config()));
              }));
}

// Controller 1 emulates tracker 4: x from valuator 1, azimuth from 2, button 5 resets. A write carries the
// controller's time words and the tracker's id, never touches the stamp; the first resets, later ones integrate.
TEST_F(ConCommon, EmulationSteps) {
    parseOne("emulatetracker 1 [1,2,3,350,20,30] 1 0 0 2 0 0 5");
    ASSERT_EQ(1u, handler.assignEmulatedIds(4));
    TraData tracker;
    std::memset(&tracker, 0xA5, sizeof tracker);
    const TimeStampBlock stamp = tracker.stamp;
    ConData controller;
    controller.clear();
    controller.setCounts(8, 16);
    const auto step = [&](double now, float rate1, float rate2, bool reset = false) {
        fakeNow = now;
        controller.setTime(static_cast<uint32_t>(now), 250000);  // a reset copies them too
        controller.setValuator(1, rate1), controller.setValuator(2, rate2), controller.setButton(5, reset);
        tracker.setId(9);
        EXPECT_TRUE(handler.applyEmulation(1, &tracker, &controller));
        EXPECT_EQ(std::make_tuple(4u, static_cast<uint32_t>(now), 250000u, 0),
                  std::make_tuple(records::fromBE32(tracker.id), records::fromBE32(tracker.seconds),
                                  records::fromBE32(tracker.microseconds),
                                  std::memcmp(&stamp, &tracker.stamp, sizeof stamp)));
        return std::vector<float>{tracker.getX(), tracker.getY(), tracker.getAzim(), tracker.getRoll()};
    };
    ASSERT_TRUE(handler.resetEmulation(1, &tracker, nullptr));
    EXPECT_EQ(0xA5A5A5A5u, tracker.seconds) << "without a controller record the time words stay";
    tracker.setX(7.0f);
    EXPECT_EQ((std::vector<float>{1, 2, 350, 30}), step(100.0, 0.5f, 0.0f));
    EXPECT_EQ((std::vector<float>{1.1f, 2, 345, 30}), step(100.2, 0.5f, -25.0f));
    EXPECT_FLOAT_EQ(0.2, handler.timeStep);
    EXPECT_EQ(1.0f, step(102.0, 1.0f, 0.0f, true)[0]) << "the reset button holds the initial pose";
    EXPECT_EQ(1.0f, step(105.0, 1.0f, 0.0f, true)[0]);
    EXPECT_EQ(1.5f, step(105.5, 1.0f, 0.0f)[0]) << "integration resumes from the release";
    EXPECT_EQ(1.5f, step(104.0, 1.0f, 0.0f)[0]) << "a clock set back is no step";
    EXPECT_EQ(0.0, handler.timeStep);
    // Beyond the record's range an angle drops whole turns, a position stops at the edge.
    tracker.setAzim(21470.0f);
    tracker.setX(21473.0f);
    const std::vector<float> far = step(105.0, 1000.0f, 10.0f);
    EXPECT_NEAR(240.0f, far[2], 1e-2f);
    EXPECT_NEAR(21474.0f, far[0], 1e-2f);
    EXPECT_FALSE(handler.applyEmulation(0, &tracker, &controller) || handler.applyEmulation(2, &tracker, &controller) ||
                 handler.applyEmulation(1, nullptr, &controller) || handler.applyEmulation(1, &tracker, nullptr) ||
                 handler.resetEmulation(2, &tracker, nullptr) || handler.resetEmulation(1, nullptr, nullptr));
    CConCommonH monotonic;
    EXPECT_NEAR(static_cast<double>(platform::monotonicNanos()) * 1e-9, monotonic.nowSeconds(), 1.0);
}

// Numbers read and print the same in a comma-decimal locale.
TEST_F(ConCommon, ReportText) {
    test_support::GermanLocale german;
    handler.controllerBase = 2;
    for (const char* line : {"valuatorscale 1 [0.5,0,2,-1] 2", "valuatororder 2 2 1", "buttonorder 2 3 0 1",
                             "emulatetracker 2 [1,2.5,0,90,0,-45] 1 0 2 0 0 0 3"})
        parseOne(line);
    handler.assignEmulatedIds(4);
    EXPECT_EQ(
        kInfo + "CONTROLLER ORDER      : <Real con> -> <Output con>\n" + kMore + " 1->3 2->4\n" + kInfo +
            "VALUATOR ORDER(SCALE) : <Real val> -> <Output val>\n" + kMore +
            " 1: 1->1(1X) 2->2(0.5X^3+2X-1) 3->3(1X) 4->4(1X) 5->5(1X) 6->6(1X) 7->7(1X) 8->8(1X)\n" + kInfo +
            "BUTTON ORDER          : <Real but> -> <Output but>\n" + kMore +
            " 1: 1->1 2->2 3->3 4->4 5->5 6->6 7->7 8->8 9->9 10->10 11->11 12->12 13->13 14->14 15->15 16->16\n" +
            kInfo + "VALUATOR ORDER(SCALE) : <Real val> -> <Output val>\n" + kMore + " 2: 1->2(1X) 2->1(1X)\n" + kInfo +
            "BUTTON ORDER          : <Real but> -> <Output but>\n" + kMore + " 2: 1->3 3->1\n" + kInfo +
            "TRACKER EMULATION     : 2->tracker[4]\n" + kMore + " 2: Init Values: X=1 Y=2.5 Z=0\n" + kMore +
            " 2: Init Values: Azim=90 Elev=0 Roll=-45\n" + kMore + " 2: Val Assign : 1->X 2->Z\n" + kMore +
            " 2: Reset But  : 3\n",
        report());
    // One controller: no numbers; cancelling coefficients keep their signs.
    CConCommonH single(&log);
    ASSERT_TRUE(single.init(1, true) && single.setControllerDefaults(1, 1, 2, 32));
    ConfigLines lines(
        "valuatorscale 1 [1,-1,2,0] 1; valuatorscale 1 0 2; buttonorder 1 32; emulatetracker 1 0 0 0 0 0 0 0");
    ASSERT_TRUE(single.parseOptions(lines.config()));
    single.assignEmulatedIds(1);
    EXPECT_EQ(kInfo + "CONTROLLER ORDER      : <Real con> -> <Output con>\n" + kMore + " 1->1\n" + kInfo +
                  "VALUATOR ORDER(SCALE) : <Real val> -> <Output val>\n" + kMore + " 1->1(1X^3-1X^2+2X) 2->2()\n" +
                  kInfo + "BUTTON ORDER          : <Real but> -> <Output but>\n" + kMore + " 32->1\n" + kInfo +
                  "TRACKER EMULATION     : As tracker[1]\n" + kMore + " Init Values: X=0 Y=0 Z=0\n" + kMore +
                  " Init Values: Azim=0 Elev=0 Roll=0\n" + kMore + " Val Assign :\n",
              capturedStdout([&] { single.printReport(); }));
}
