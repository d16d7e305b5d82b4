// CTraCommonH: slots, option lines with units, checks and messages, calibration, report.
#include "calib/tra_common.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/host_records.h"
#include "tests/support/output.h"

using test_support::capturedStdout;
using test_support::ConfigLines;

namespace {

const char *const kAddOne = CALIB_ADD_ONE_PATH, *const kNoEntry = CALIB_NO_ENTRY_PATH,
                  *const kMissing = "/nonexistent-dir/libcalib_missing.so";
constexpr float kInch = 0.083333336f, kMeter = 3.2808399f, kCentimetre = 0.0328084f;

// As the module base leaves it: `slots` slots, the first `outputs` at positions 1..
std::unique_ptr<CTraCommonH> makeHandler(uint32_t slots = 4, bool inputConnector = false, uint32_t outputs = 4,
                                         int32_t debugLevel = 0, bool enabled = true) {
    CLogH log = test_support::quietLogger("TRA", debugLevel);
    log.enabled = enabled;
    auto handler = std::make_unique<CTraCommonH>(&log);
    handler->inputConnector = inputConnector;
    handler->outputCount = outputs;
    handler->initTrackers(slots);
    for (uint32_t i = 1; i <= outputs; ++i) handler->setTracker(i, i, nullptr, nullptr, nullptr);
    return handler;
}
const auto words = ConfigLines::split;
std::string parse(CTraCommonH& handler, ConfigLines& lines, bool expected = true) {
    return capturedStdout([&] { EXPECT_EQ(expected, handler.parseOptions(lines.config())); });
}
std::string report(const CTraCommonH& handler, bool showCave = false) {
    return capturedStdout([&] { EXPECT_TRUE(handler.printSettings(showCave)); });
}
// What the option lines can change: the report, and a pose through every slot.
std::string state(CTraCommonH& handler) {
    std::ostringstream out;
    out << report(handler, true);
    for (uint32_t slot = 1; slot <= handler.trackerCount(); ++slot) {
        TrackerPose p{1, 2, 3, 10, 20, 30};
        out << capturedStdout([&] { out << handler.calibratePose(slot, p); }) << p.x << ' ' << p.y << ' ' << p.z << ' '
            << p.azim << ' ' << p.elev << ' ' << p.roll << ' ' << handler.tracker(slot)->order << '\n';
    }
    return out.str() + handler.calibLibraryName();
}
std::string error(const std::string& text) { return "TRA: ERROR: " + text + "\n"; }
std::string info(const std::string& text) { return "TRA: INFO: " + text + "\n"; }
std::string more(const std::string& text) { return info("                      :" + text); }
bool sameMatrix(const Matrix4& a, const Matrix4& b) { return std::memcmp(a.m, b.m, sizeof a.m) == 0; }

}  // namespace

TEST(TraCommon, LoggerSlotsKeywordsAndTheirDefaults) {
    std::unique_ptr<CTraCommonH> own;
    capturedStdout([&] { own = std::make_unique<CTraCommonH>(); });
    EXPECT_STREQ("CTraCommonH", own->logger().name);
    EXPECT_EQ(3, own->logger().ownerId);
    EXPECT_TRUE(own->inputConnector && !own->caveCoordinates && sameMatrix(matIdentity(), own->transmitterTransform()));
    CLogH log = test_support::quietLogger("TRA", 3);
    EXPECT_EQ("TRA: DEBUG: CTraCommonH: \"constructor\" called.\nTRA: DEBUG: CTraCommonH: \"destructor\" called.\n",
              capturedStdout([&] { CTraCommonH handler(&log); }));
    // Without slots or without a record nothing is read.
    ConfigLines offset{{"transmitteroffset", "1", "2", "3"}};
    log.debugLevel = 0;
    CTraCommonH slotless(&log);
    EXPECT_EQ(error("CTraCommonH: lookup is Null.") + error("CTraCommonH: config is empty."), capturedStdout([&] {
                  EXPECT_FALSE(slotless.parseOptions(offset.config()) || makeHandler()->parseOptions(nullptr));
              }));
    std::string keywords;
    for (size_t i = 0; i < 20 && CTraCommonH::optionKeyword(i) != nullptr; ++i)
        keywords += CTraCommonH::optionKeyword(i) + std::string(" ");
    EXPECT_EQ(
        "transmitteroffset transmitterrotation transmitterrotationmatrix sensoroffset sensortranslation "
        "sensorrotation sensorrotationmatrix calibration calib trackerorder unitorder order cavecoord "
        "cavecoordinates ",
        keywords);

    auto handler = makeHandler(4, false, 0), fresh = makeHandler(4, false, 0);
    EXPECT_FALSE(handler->initTrackers(0));
    EXPECT_EQ(4u, handler->trackerCount()) << "a count of 0 changes nothing";
    EXPECT_FALSE(handler->setTracker(0, 1, nullptr, nullptr, nullptr) ||
                 handler->setTracker(5, 1, nullptr, nullptr, nullptr));
    ConfigLines set("sensoroffset 2 1 2 3; sensorrotation 2 0 1 0 90; sensortranslation 2 4 5 6");
    parse(*handler, set);
    // A set-up again brings the slot back to the defaults.
    ASSERT_TRUE(handler->setTracker(2, 3, nullptr, nullptr, nullptr) &&
                fresh->setTracker(2, 3, nullptr, nullptr, nullptr));
    ConfigLines later("sensoroffset 2 0 0 1"), again("sensoroffset 2 0 0 1");  // finds no old translation
    parse(*handler, later), parse(*fresh, again);
    EXPECT_EQ(state(*fresh), state(*handler));
    ASSERT_TRUE(handler->initTrackers(2));
    EXPECT_EQ(0u, handler->tracker(2)->order) << "new slots start from the defaults";
}

// Lengths in feet after their unit; zero offsets and axes count as given, a zero transmitter offset not.
TEST(TraCommon, WhatEachAcceptedLineStores) {
    auto h = makeHandler(10);
    ConfigLines lines(
        "SENSOROFFSET 1 0 0 10 cm; sensorOffset 3 1 -2 0.5 METERS; SensorTranslation 6 12 0 -24 inches; "
        "sensoroffset 7 0 0 0; sensorrotation 9 0 0 0 90; SensorRotationMatrix 0xa 1 0 0 0 0 1 0 -1 0; "
        "TRANSMITTERROTATIONMATRIX 0 0 -1 0 1 0 1 0 0; transmitterOffset 0 0 0 cm");
    EXPECT_EQ("", parse(*h, lines));
    EXPECT_EQ(std::vector<int>(8, 1), lines.used());
    const TrackerCalib &first = *h->tracker(1), &third = *h->tracker(3), &translated = *h->tracker(6);
    EXPECT_EQ(
        (std::vector<float>{10 * kCentimetre, 10 * kCentimetre, -2 * kMeter, 0.5f * kMeter, 12 * kInch, -24 * kInch}),
        (std::vector<float>{first.sensorOffset.m[11], first.sensorTransform.m[14], third.sensorOffset.m[7],
                            third.sensorOffset.m[11], translated.sensorTranslation[0],
                            translated.sensorTranslation[2]}));
    EXPECT_TRUE(translated.sensorTranslationSet && !translated.sensorOffsetSet);
    EXPECT_TRUE(h->tracker(7)->sensorOffsetSet && h->tracker(9)->sensorRotationSet);
    EXPECT_TRUE(sameMatrix(matIdentity(), h->tracker(9)->sensorTransform));
    EXPECT_TRUE(sameMatrix(matFromValues({1, 0, 0, 0, 0, 1, 0, -1, 0}), h->tracker(10)->sensorRotation));
    EXPECT_EQ(std::make_pair(-1.0f, 0.0f),
              std::make_pair(h->transmitterRotation().m[2], h->transmitterRotation().m[15]));
    EXPECT_FALSE(h->transmitterOffsetSet());
}

// The transforms are rebuilt whenever offset or rotation changes.
TEST(TraCommon, OffsetAndRotationInEitherOrder) {
    const Matrix4 expected = matTransform(matAxisAngle(1, 0, 0, -45), matTranslation(1, -1, 0));
    auto a = makeHandler(), b = makeHandler();
    ConfigLines first(
        "transmitteroffset 12 -12 0 inches; TransmitterRotation 2 0 0 -45; sensoroffset 2 1 -1 0; "
        "sensorrotation 2 1 0 0 -45");
    ConfigLines second(
        "transmitterrotation 1 0 0 -45; transmitteroffset 1 -1 0; sensorrotation 2 1 0 0 -45; "
        "sensoroffset 2 1 -1 0");
    EXPECT_EQ("", parse(*a, first) + parse(*b, second));
    EXPECT_TRUE(a->transmitterOffsetSet() && a->transmitterRotationSet());
    EXPECT_TRUE(sameMatrix(expected, a->transmitterTransform()) &&
                sameMatrix(expected, a->tracker(2)->sensorTransform));
    EXPECT_EQ(state(*a), state(*b));
}

// A second calibration line replaces the first library; one that cannot load is still taken.
TEST(TraCommon, CalibrationLines) {
    auto h = makeHandler(4, false, 4, 3);
    ConfigLines lines{{"calibration", kAddOne, "room.cal", "-v", "3"}};
    EXPECT_NE(std::string::npos, parse(*h, lines).find(std::string("CDynamicLibH: ") + kAddOne + " library loaded."));
    EXPECT_EQ(words("room.cal -v 3"), h->calibArgs());
    ConfigLines replace{{"CALIB", kNoEntry}};
    const std::string out = parse(*h, replace);
    EXPECT_TRUE(h->calibLibrary()->isLoaded() && h->calibArgs().empty() && replace.used() == std::vector<int>{1});
    EXPECT_STREQ(kNoEntry, h->calibLibraryName());
    EXPECT_LT(out.find("CCalibH: \"destructor\" called."),
              out.find(std::string("CDynamicLibH: ") + kNoEntry + " library loaded."));

    auto missing = makeHandler();
    const std::string longest(255, 'a');
    ConfigLines failing{{"calibration", kMissing}, {"calibration", longest + "b"}, {"calibration", longest}};
    EXPECT_EQ(error(std::string("CDynamicLibH: Can not load the library ") + kMissing) +
                  error("Invalid string found for Calibration at line 2.") +
                  error("CDynamicLibH: Can not load the library " + longest),
              parse(*missing, failing, false));
    EXPECT_EQ((std::vector<int>{1, 0, 1}), failing.used());
    EXPECT_FALSE(missing->calibLibrary()->isLoaded());
    EXPECT_EQ(longest, missing->calibLibraryName());
}

// An order sets the output positions; CAVE lines are an input connector's, order lines fail there.
TEST(TraCommon, OrderAndCaveLines) {
    const std::pair<const char*, std::vector<uint32_t>> cases[] = {
        {"trackerorder 3 1", {2, 0, 1, 0}}, {"UnitOrder 2 2 99", {0, 2, 0, 0}}, {"order", {0, 0, 0, 0}}};
    for (const auto& [line, orders] : cases) {
        auto h = makeHandler(4, false, 2);
        ConfigLines lines{
            words(line), {"cavecoord", "maybe", "x"}, {"controllerorder", "1"}, {"sensoroffsets", "1", "2", "3", "4"}};
        EXPECT_EQ("", parse(*h, lines));
        EXPECT_EQ((std::vector<int>{1, 0, 0, 0}), lines.used());
        EXPECT_EQ(orders, (std::vector<uint32_t>{h->tracker(1)->order, h->tracker(2)->order, h->tracker(3)->order,
                                                 h->tracker(4)->order}));
    }
    auto input = makeHandler(4, true, 2);
    ConfigLines lines("order 2 1; CAVECoordinates YES; cavecoord off");
    EXPECT_EQ(error("Can not change the order on input connector at line 1."), parse(*input, lines, false));
    EXPECT_EQ((std::vector<int>{0, 1, 1}), lines.used());
    EXPECT_EQ(1u, input->tracker(1)->order);
    EXPECT_FALSE(input->caveCoordinates);
    lines.config()->numLines = 2;
    parse(*input, lines, false);
    EXPECT_TRUE(input->caveCoordinates);
}

// Each faulty line alone on line 12: the exact message, nothing stored, the line not consumed.
TEST(TraCommon, EveryFailureMessageAndNothingStored) {
    const char* const kinds[] = {"Incomplete option line", "Too many args",  "Invalid tracker ID",
                                 "Invalid unit",           "Invalid string", "Invalid arg"};
    const struct {
        const char *label, *texts[6];
    } cases[] = {
        {"TransmitterOffset", {"1 2", "1 2 3 feet x", 0, 0, "1 2 3 yards", "3e38 0 0 m"}},
        {"TransmitterRotation", {"0 1 0", "0 1 0 9 9", 0, 0, 0, "0 1 0 deg"}},
        {"TransmitterRotationMatrix", {"1 2 3 4 5 6 7 8", "1 2 3 4 5 6 7 8 9 10", 0, 0, 0, "1 0 0 0 1 0 0 0 one"}},
        {"SensorOffset", {"1 2 3", "1 2 3 4 cm x", "5 1 2 3", "1 2 3 4 yards", 0, "1 x 3 4"}},
        {"SensorRotation", {"1 0 1 0", "1 0 1 0 9 9", 0, 0, 0, "1 0 1 0 right"}},
        {"SensorRotationMatrix", {"1 1 0 0 0 1 0 0 0", "1 1 2 3 4 5 6 7 8 9 10", "0x10", 0, 0, "1 1 0 0 0 1 0 0 0 z"}},
        {"Calibration", {"", "1 2 3 4 5 6 7 8 9 10 11 12", 0, 0, 0, 0}},
        {"Order", {0, 0, "1 9", 0, 0, 0}},
        {"CAVECoord", {"", "yes no", 0, 0, "maybe", 0}},
    };
    for (const auto& [label, texts] : cases) {
        for (size_t kind = 0; kind < 6; ++kind) {
            if (texts[kind] == nullptr) continue;
            const std::string line = std::string(label) + " " + texts[kind];
            SCOPED_TRACE(line);
            auto h = makeHandler(4, line.rfind("CAVE", 0) == 0, 2);
            ConfigLines setup("sensoroffset 1 1 2 3; transmitterrotation 1 0 0 30; sensortranslation 2 0 1 0");
            if (!h->inputConnector) setup.add({"order", "2", "1"});
            parse(*h, setup);
            const std::string before = state(*h);
            ConfigLines lines;
            lines.addAt(12, words(line));
            EXPECT_EQ(error(std::string(kinds[kind]) + " found for " + label + " at line 12."),
                      parse(*h, lines, false));
            EXPECT_EQ(0, lines.line(0).used);
            EXPECT_EQ(before, state(*h));
        }
    }
}

// After a failing line later geometry lines are only checked; calibration and order lines still work.
TEST(TraCommon, GeometryLinesAfterAnErrorAreDropped) {
    auto h = makeHandler(4, false, 2);
    ConfigLines lines(
        "sensoroffset 0 1 2 3; sensoroffset 1 1 2 3 cm; transmitteroffset 1 2 3 yards; "
        "sensorrotation 1 0 1 0 angle; sensorrotationmatrix 2 1 0 0 0 1 0 0 0 1; "
        "sensortranslation 1 x 0 0; transmitterrotation 0 1; calibration " +
        std::string(kAddOne) + " a1; order 2 1; transmitterrotationmatrix 1 2 3 4 5 6 7 8 9");
    lines.config()->numLines = 1000;
    EXPECT_EQ(error("Invalid tracker ID found for SensorOffset at line 1.") +
                  error("Invalid arg found for SensorTranslation at line 6.") +
                  error("Incomplete option line found for TransmitterRotation at line 7."),
              parse(*h, lines, false));
    lines.config()->numLines = 10;
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 0, 0, 0, 1, 1, 0}), lines.used());
    EXPECT_EQ(std::make_tuple(size_t{1}, 2u), std::make_tuple(h->calibArgs().size(), h->tracker(1)->order));
    for (uint32_t slot : {1u, 2u}) {  // the library alone: no geometry, no normalising
        TrackerPose p{1, 2, 3, 190, 20, 30};
        ASSERT_TRUE(h->calibratePose(slot, p));
        EXPECT_EQ((std::vector<float>{2, 2, 3, 190, 20, 30}),
                  (std::vector<float>{p.x, p.y, p.z, p.azim, p.elev, p.roll}));
    }
}

// Untouched slots pass bit-exact; geometry normalises the angles; a broken library blocks every write.
TEST(TraCommon, CalibratePose) {
    auto h = makeHandler(4, false, 2);
    h->storageBase = 3;
    ConfigLines lines{{"sensoroffset", "2", "0", "0", "0"}};
    parse(*h, lines);
    EXPECT_EQ((std::vector<uint32_t>{0, 4, 5, 3, 0}),
              (std::vector<uint32_t>{h->storageIndex(0), h->storageIndex(1), h->storageIndex(2), h->storageIndex(3),
                                     h->storageIndex(5)}));
    const TrackerPose in{1.0e-7f, -0.0f, 123456.78f, 270.0f, 100.0f, -720.5f};
    TrackerPose pose = in, normalised{0, 0, 0, 270, 0, 0};
    ASSERT_TRUE(h->calibratePose(1, pose) && h->calibratePose(2, normalised));
    EXPECT_EQ(0, std::memcmp(&in, &pose, sizeof pose));
    EXPECT_NEAR(-90.0f, normalised.azim, 1e-4f);
    EXPECT_FALSE(h->calibratePose(0, pose) || h->calibratePose(5, pose));

    auto turned = makeHandler();
    ConfigLines library("calibration " + std::string(kAddOne) + "; transmitterrotation 0 1 0 90");
    parse(*turned, library);
    TrackerPose origin{0, 0, 0, 0, 0, 0};  // (1,0,0) after the library, turned to (0,0,-1)
    ASSERT_TRUE(turned->calibratePose(1, origin));
    EXPECT_NEAR(0.0f, origin.x, 1e-6f);
    EXPECT_NEAR(-1.0f, origin.z, 1e-6f);
    EXPECT_NEAR(90.0f, origin.azim, 1e-4f);
    for (const char* failing : {kMissing, kNoEntry}) {
        auto broken = makeHandler();
        ConfigLines line{{"calibration", failing}};
        capturedStdout([&] { broken->parseOptions(line.config()); });
        TrackerPose kept{1, 2, 3, 4, 5, 6};
        capturedStdout([&] { EXPECT_FALSE(broken->calibratePose(1, kept) || broken->calibratePose(2, kept)); });
        EXPECT_EQ(1.0f, kept.x);
    }
}

// Matrices as rows of indices 4r + c; unplaced slots not shown; a disabled logger drops heads, labels; any locale.
TEST(TraCommon, ReportText) {
    test_support::GermanLocale german;
    const std::string orderHeader = info("TRACKER ORDER         : <Real tra> -> <Output tra>");
    auto plain = makeHandler(4, true, 2);
    plain->storageBase = 4;
    plain->caveCoordinates = true;
    EXPECT_EQ(info("CAVE COORDINATES      : Used") + orderHeader + more(" 1->5 2->6"), report(*plain, true));
    plain->caveCoordinates = false;
    EXPECT_EQ(0u, report(*plain, true).find(info("CAVE COORDINATES      : Unused")));
    EXPECT_EQ(orderHeader + more(" 1->5 2->6"), report(*plain));

    ConfigLines lines(
        "transmitteroffset 1.5 -2 0.25; transmitterrotationmatrix 1 0 0 0 0 1 0 -1 0; "
        "sensoroffset 2 0 0 10 cm; sensorrotation 2 0 0 1 90; sensorrotation 3 0 0 1 90; calib " +
        std::string(kAddOne) + " room.cal fast");
    const auto rows = [](const char* label, const std::string& tracker, const char* const* r) {
        return info(label + tracker + " [0][0]:" + r[0]) + more(tracker + " [1][0]:" + r[1]) +
               more(tracker + " [2][0]:" + r[2]) + "\n";
    };
    const char* swapped[] = {" 1.000 [0][1]: 0.000 [0][2]: 0.000", " 0.000 [1][1]: 0.000 [1][2]: 1.000",
                             " 0.000 [2][1]:-1.000 [2][2]: 0.000"};
    const char* turned[] = {" 0.000 [0][1]: 1.000 [0][2]: 0.000", "-1.000 [1][1]: 0.000 [1][2]: 0.000",
                            " 0.000 [2][1]: 0.000 [2][2]: 1.000"};
    const std::string expected =
        info("TRANSMITTER OFFSET    : X:1.5 Y:-2 Z:0.25") + rows("TRANSMITTER ROTATION  :", "", swapped) +
        rows("TRANSMITTER TRANSFORM :", "", swapped) + orderHeader + more(" 1->1 2->2") +
        info("SENSOR OFFSET         : 2 X:0.000 Y:0.000 Z:0.328") + rows("SENSOR ROTATION       :", " 2", turned) +
        rows("SENSOR TRANSFORM      :", " 2", turned) + info(std::string("CALIBRATION LIBRARY   : name:") + kAddOne) +
        more(" arg[0]:room.cal") + more(" arg[1]:fast");
    for (bool enabled : {true, false}) {
        auto h = makeHandler(3, false, 2, 0, enabled);
        parse(*h, lines);
        const std::regex heads("TRA: INFO: [A-Z ]*:( <Real tra> -> <Output tra>\n)?");
        EXPECT_EQ(enabled ? expected : std::regex_replace(expected, heads, ""), report(*h)) << enabled;
    }
}
