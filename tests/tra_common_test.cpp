#include "calib/tra_common.h"

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <locale>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

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

const char* const kAddOne = CALIB_ADD_ONE_PATH;
const char* const kNoEntry = CALIB_NO_ENTRY_PATH;
const char* const kMissing = "/nonexistent-dir/libcalib_missing.so";

// The host's configuration record with texts that live as long as it does.
class Config {
public:
    ConfigLine& add(int lineNumber, const char* keyword, const std::vector<std::string>& args) {
        ConfigLine& line = config_.lines[config_.numLines++];
        line.lineNumber = lineNumber;
        line.keyword = keep(keyword);
        for (const std::string& arg : args) {
            line.args[line.argCount++] = keep(arg);
        }
        return line;
    }
    ConfigLine& line(int index) { return config_.lines[index]; }
    DeviceConfig* get() { return &config_; }

private:
    const char* keep(const std::string& text) { return texts_.emplace_back(text).c_str(); }

    DeviceConfig config_{};
    std::deque<std::string> texts_;
};

CLogH quietLogger(int32_t debugLevel = 0) {
    CLogH log;
    log.showDate = log.showTime = log.showThreadId = 0;
    log.setName("TRA");
    log.debugLevel = debugLevel;
    return log;
}

// A handler as the module base leaves it before option reading: `slots`
// slots, the first `outputs` of them at positions 1..outputs.
std::unique_ptr<CTraCommonH> makeHandler(uint32_t slots = 4, bool inputConnector = false, uint32_t outputs = 4,
                                         int32_t debugLevel = 0) {
    CLogH log = quietLogger(debugLevel);
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
    testing::internal::CaptureStdout();
    bool ok = handler.parseOptions(config.get());
    std::string out = testing::internal::GetCapturedStdout();
    if (result != nullptr) {
        *result = ok;
    }
    return out;
}

bool sameMatrix(const Matrix4& a, const Matrix4& b) { return std::memcmp(a.m, b.m, sizeof a.m) == 0; }

// Everything option lines can change, compared field by field.
void expectSameCalibration(const CTraCommonH& a, const CTraCommonH& b) {
    ASSERT_EQ(a.trackerCount(), b.trackerCount());
    for (uint32_t i = 1; i <= a.trackerCount(); ++i) {
        const TrackerCalib& x = *a.tracker(i);
        const TrackerCalib& y = *b.tracker(i);
        EXPECT_EQ(x.order, y.order) << "slot " << i;
        EXPECT_TRUE(sameMatrix(x.sensorOffset, y.sensorOffset)) << "slot " << i;
        EXPECT_TRUE(sameMatrix(x.sensorRotation, y.sensorRotation)) << "slot " << i;
        EXPECT_TRUE(sameMatrix(x.sensorTransform, y.sensorTransform)) << "slot " << i;
        EXPECT_EQ(0, std::memcmp(x.sensorTranslation, y.sensorTranslation, sizeof x.sensorTranslation));
        EXPECT_EQ(x.sensorOffsetSet, y.sensorOffsetSet) << "slot " << i;
        EXPECT_EQ(x.sensorRotationSet, y.sensorRotationSet) << "slot " << i;
        EXPECT_EQ(x.sensorTranslationSet, y.sensorTranslationSet) << "slot " << i;
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

struct GermanLocale {
    bool active = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    ~GermanLocale() { std::setlocale(LC_ALL, "C"); }
};

}  // namespace

// --- Construction and slots --------------------------------------------------

TEST(TraCommonSlots, ConstructionLoggerAndDefaults) {
    testing::internal::CaptureStdout();
    CTraCommonH own;
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ("CTraCommonH", own.logger().name);
    EXPECT_EQ(3, own.logger().ownerId);
    EXPECT_TRUE(own.inputConnector);
    EXPECT_FALSE(own.caveCoordinates);
    EXPECT_EQ(0u, own.trackerCount());
    EXPECT_TRUE(sameMatrix(matIdentity(), own.transmitterTransform()));

    CLogH log = quietLogger(3);
    testing::internal::CaptureStdout();
    { CTraCommonH handler(&log); }
    EXPECT_EQ("TRA: DEBUG: CTraCommonH: \"constructor\" called.\n"
              "TRA: DEBUG: CTraCommonH: \"destructor\" called.\n",
              testing::internal::GetCapturedStdout());
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

    ASSERT_TRUE(handler->setTracker(2, 3, nullptr, nullptr, nullptr));
    EXPECT_FALSE(slot->sensorOffsetSet || slot->sensorRotationSet || slot->sensorTranslationSet);
    EXPECT_TRUE(sameMatrix(matIdentity(), slot->sensorTransform));
    EXPECT_EQ(0.0f, slot->sensorTranslation[1]);

    ASSERT_TRUE(handler->initTrackers(2));
    EXPECT_EQ(2u, handler->trackerCount());
    EXPECT_EQ(0u, handler->tracker(2)->order) << "new slots start from the defaults";
}

TEST(TraCommonOptions, MissingSlotsOrConfig) {
    CLogH log = quietLogger();
    CTraCommonH handler(&log);
    Config config;
    bool ok = true;
    EXPECT_EQ(error("CTraCommonH: lookup is Null."), parse(handler, config, &ok));
    EXPECT_FALSE(ok);
    handler.initTrackers(1);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(handler.parseOptions(nullptr));
    EXPECT_EQ(error("CTraCommonH: config is empty."), testing::internal::GetCapturedStdout());
}

// --- Accepted forms -----------------------------------------------------------

TEST(TraCommonOptions, SensorLengthsWithUnitsAnyCaseAndAutomaticIds) {
    auto handler = makeHandler(10);
    Config config;
    config.add(1, "SENSOROFFSET", {"1", "0", "0", "10", "cm"});
    config.add(2, "SensorOffset", {"0x2", "1", "2", "3"});
    config.add(3, "sensoroffset", {"010", "1", "0", "0", "Inches"});
    config.add(4, "sensorOffset", {"3", "1", "-2", "0.5", "METERS"});
    config.add(5, "sensoroffset", {"4", "2", "0", "0", "m"});
    config.add(6, "sensoroffset", {"5", "2", "0", "0", "feet"});
    config.add(7, "SensorTranslation", {"6", "12", "0", "-24", "inches"});
    config.add(8, "sensoroffset", {"7", "0", "0", "0"});
    bool ok = false;
    EXPECT_EQ("", parse(*handler, config, &ok));
    EXPECT_TRUE(ok);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(1, config.line(i).used) << "line " << i;
    }
    EXPECT_EQ(10 * 0.0328084f, handler->tracker(1)->sensorOffset.m[11]);
    EXPECT_EQ(10 * 0.0328084f, handler->tracker(1)->sensorTransform.m[14]);
    EXPECT_TRUE(handler->tracker(1)->sensorOffsetSet);
    EXPECT_EQ(3.0f, handler->tracker(2)->sensorOffset.m[11]) << "0x2 addresses slot 2";
    EXPECT_EQ(0.083333336f, handler->tracker(8)->sensorOffset.m[3]) << "010 is octal 8";
    EXPECT_EQ(-2 * 3.2808399f, handler->tracker(3)->sensorOffset.m[7]);
    EXPECT_EQ(0.5f * 3.2808399f, handler->tracker(3)->sensorOffset.m[11]);
    EXPECT_EQ(2 * 3.2808399f, handler->tracker(4)->sensorOffset.m[3]);
    EXPECT_EQ(2.0f, handler->tracker(5)->sensorOffset.m[3]);
    const TrackerCalib* translated = handler->tracker(6);
    EXPECT_TRUE(translated->sensorTranslationSet);
    EXPECT_FALSE(translated->sensorOffsetSet);
    EXPECT_EQ(12 * 0.083333336f, translated->sensorTranslation[0]);
    EXPECT_EQ(-24 * 0.083333336f, translated->sensorTranslation[2]);
    EXPECT_TRUE(sameMatrix(matIdentity(), translated->sensorTransform)) << "no matrix is involved";
    EXPECT_TRUE(handler->tracker(7)->sensorOffsetSet) << "a zero offset is stored like any other";
}

TEST(TraCommonOptions, TransmitterOffsetAndRotationInEitherOrder) {
    auto a = makeHandler();
    Config first;
    first.add(1, "transmitteroffset", {"1", "-1", "0"});
    first.add(2, "TRANSMITTERROTATION", {"0", "1", "0", "90"});
    auto b = makeHandler();
    Config second;
    second.add(1, "TransmitterRotation", {"0", "2", "0", "90"});
    second.add(2, "transmitterOffset", {"12", "-12", "0", "inches"});
    EXPECT_EQ("", parse(*a, first));
    EXPECT_EQ("", parse(*b, second));
    EXPECT_TRUE(a->transmitterOffsetSet() && a->transmitterRotationSet());
    EXPECT_EQ(-1.0f, a->transmitterOffset().m[7]);
    EXPECT_TRUE(sameMatrix(matAxisAngle(0, 1, 0, 90), a->transmitterRotation()));
    EXPECT_TRUE(sameMatrix(matTransform(matAxisAngle(0, 1, 0, 90), matTranslation(1, -1, 0)), a->transmitterTransform()));
    EXPECT_EQ(12 * 0.083333336f, b->transmitterTransform().m[12]);
    EXPECT_TRUE(sameMatrix(a->transmitterRotation(), b->transmitterRotation()));
    EXPECT_EQ(1, second.line(1).used);
}

TEST(TraCommonOptions, ZeroTransmitterOffsetIsTakenButNotSet) {
    auto handler = makeHandler();
    Config config;
    config.add(1, "transmitteroffset", {"0", "0", "0", "cm"});
    bool ok = false;
    EXPECT_EQ("", parse(*handler, config, &ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ(1, config.line(0).used);
    EXPECT_FALSE(handler->transmitterOffsetSet());
}

TEST(TraCommonOptions, RotationsAndMatrices) {
    auto handler = makeHandler();
    Config config;
    config.add(1, "sensorrotation", {"1", "0", "0", "0", "90"});
    config.add(2, "sensorrotation", {"2", "1", "0", "0", "-45"});
    config.add(3, "SensorRotationMatrix", {"3", "1", "0", "0", "0", "0", "1", "0", "-1", "0"});
    config.add(4, "transmitterrotationmatrix", {"0", "0", "-1", "0", "1", "0", "1", "0", "0"});
    config.add(5, "sensoroffset", {"2", "0", "0", "1"});
    EXPECT_EQ("", parse(*handler, config));
    const TrackerCalib* zeroAxis = handler->tracker(1);
    EXPECT_TRUE(zeroAxis->sensorRotationSet) << "a zero axis still counts as given";
    EXPECT_TRUE(sameMatrix(matAxisAngle(0, 0, 0, 90), zeroAxis->sensorRotation));
    EXPECT_EQ(1.0f, zeroAxis->sensorRotation.m[0]);
    const TrackerCalib* tilted = handler->tracker(2);
    EXPECT_TRUE(sameMatrix(matTransform(matAxisAngle(1, 0, 0, -45), matTranslation(0, 0, 1)), tilted->sensorTransform));
    const float q[9] = {1, 0, 0, 0, 0, 1, 0, -1, 0};
    EXPECT_TRUE(sameMatrix(matFromValues(q), handler->tracker(3)->sensorRotation));
    EXPECT_EQ(-1.0f, handler->transmitterRotation().m[2]);
    EXPECT_EQ(1.0f, handler->transmitterTransform().m[15]);
    EXPECT_FALSE(handler->transmitterOffsetSet());
}

TEST(TraCommonOptions, NumbersIgnoreAGermanLocale) {
    GermanLocale german;
    if (!german.active) {
        GTEST_SKIP() << "de_DE.UTF-8 not installed";
    }
    auto handler = makeHandler();
    Config config;
    config.add(1, "sensoroffset", {"1", "0.5", "0", "0"});
    config.add(2, "transmitterrotation", {"0", "1", "0", "22.5"});
    EXPECT_EQ("", parse(*handler, config));
    EXPECT_EQ(0.5f, handler->tracker(1)->sensorOffset.m[3]);
    EXPECT_TRUE(sameMatrix(matAxisAngle(0, 1, 0, 22.5f), handler->transmitterRotation()));
}

TEST(TraCommonOptions, CalibrationLinesLoadAndReplace) {
    auto handler = makeHandler(4, false, 4, 3);
    Config config;
    config.add(1, "calibration", {kAddOne, "room.cal", "-v", "3"});
    config.add(2, "CALIB", {kNoEntry});
    testing::internal::CaptureStdout();
    bool ok = handler->parseOptions(config.get());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ok);
    EXPECT_EQ(1, config.line(0).used);
    EXPECT_EQ(1, config.line(1).used);
    ASSERT_NE(nullptr, handler->calibLibrary());
    EXPECT_TRUE(handler->calibLibrary()->isLoaded());
    EXPECT_STREQ(kNoEntry, handler->calibLibraryName());
    EXPECT_TRUE(handler->calibArgs().empty()) << "the second line's arguments replace the first's";
    // The first handler is gone before the second library loads.
    size_t destroyed = out.find("CCalibH: \"destructor\" called.");
    size_t secondLoad = out.find(std::string("CDynamicLibH: ") + kNoEntry + " library loaded.");
    ASSERT_NE(std::string::npos, destroyed) << out;
    ASSERT_NE(std::string::npos, secondLoad) << out;
    EXPECT_LT(destroyed, secondLoad);

    auto withArgs = makeHandler();
    Config one;
    one.add(1, "calibration", {kAddOne, "room.cal", "-v", "3"});
    EXPECT_EQ("", parse(*withArgs, one));
    EXPECT_EQ((std::vector<std::string>{"room.cal", "-v", "3"}), withArgs->calibArgs());
    EXPECT_STREQ("TRA", withArgs->calibLibrary()->logger().name) << "the loader copies the handler's logger";
}

TEST(TraCommonOptions, CalibrationThatCannotLoadIsStillTaken) {
    auto handler = makeHandler();
    Config config;
    config.add(3, "calibration", {kMissing});
    bool ok = false;
    EXPECT_EQ(error(std::string("CDynamicLibH: Can not load the library ") + kMissing), parse(*handler, config, &ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ(1, config.line(0).used);
    ASSERT_NE(nullptr, handler->calibLibrary());
    EXPECT_FALSE(handler->calibLibrary()->isLoaded());
}

TEST(TraCommonOptions, LibraryNameLengthLimit) {
    auto handler = makeHandler();
    Config config;
    const std::string longest(255, 'a');
    config.add(4, "calibration", {longest + "b"});
    config.add(5, "calibration", {longest});
    std::string out = parse(*handler, config);
    EXPECT_EQ(0, out.find(error("Invalid string found for Calibration at line 4."))) << out;
    EXPECT_EQ(0, config.line(0).used);
    EXPECT_EQ(1, config.line(1).used) << "255 characters fit";
    EXPECT_EQ(longest, handler->calibLibraryName());
}

TEST(TraCommonOptions, OrderOnOutputConnector) {
    auto handler = makeHandler(4, false, 2);
    Config config;
    config.add(1, "trackerorder", {"3", "1"});
    EXPECT_EQ("", parse(*handler, config));
    EXPECT_EQ(1, config.line(0).used);
    EXPECT_EQ(2u, handler->tracker(1)->order);
    EXPECT_EQ(0u, handler->tracker(2)->order);
    EXPECT_EQ(1u, handler->tracker(3)->order);
    EXPECT_EQ(0u, handler->tracker(4)->order);

    Config repeated;
    repeated.add(1, "UnitOrder", {"2", "2", "99"});  // beyond outputCount: ignored
    EXPECT_EQ("", parse(*handler, repeated));
    EXPECT_EQ(0u, handler->tracker(1)->order);
    EXPECT_EQ(2u, handler->tracker(2)->order) << "a repeated id keeps its later position";
    EXPECT_EQ(0u, handler->tracker(3)->order);

    Config empty;
    empty.add(1, "order", {});
    EXPECT_EQ("", parse(*handler, empty));
    EXPECT_EQ(1, empty.line(0).used);
    for (uint32_t i = 1; i <= 4; ++i) {
        EXPECT_EQ(0u, handler->tracker(i)->order);
    }
}

TEST(TraCommonOptions, OrderOnInputConnectorFailsAndCaveLineIsRead) {
    auto handler = makeHandler(4, true, 2);
    Config config;
    config.add(9, "order", {"2", "1"});
    config.add(10, "cavecoord", {"off"});
    config.add(11, "CAVECoordinates", {"YES"});
    bool ok = true;
    EXPECT_EQ(error("Can not change the order on input connector at line 9."), parse(*handler, config, &ok));
    EXPECT_FALSE(ok);
    EXPECT_EQ(0, config.line(0).used);
    EXPECT_EQ(1u, handler->tracker(1)->order);
    EXPECT_EQ(1, config.line(1).used);
    EXPECT_EQ(1, config.line(2).used);
    EXPECT_TRUE(handler->caveCoordinates);

    Config off;
    off.add(1, "cavecoord", {"off"});
    EXPECT_EQ("", parse(*handler, off));
    EXPECT_FALSE(handler->caveCoordinates);
}

TEST(TraCommonOptions, CaveAndForeignKeywordsAreLeftAlone) {
    auto handler = makeHandler(4, false, 2);
    Config config;
    config.add(1, "cavecoord", {"maybe", "x"});
    config.add(2, "port", {"5000"});
    config.add(3, "valuatororder", {"1", "2"});
    config.add(4, "controllerorder", {"1"});
    config.add(5, "sensoroffsets", {"1", "2", "3", "4"});
    bool ok = false;
    EXPECT_EQ("", parse(*handler, config, &ok));
    EXPECT_TRUE(ok);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(0, config.line(i).used) << "line " << i;
    }
    EXPECT_FALSE(handler->caveCoordinates);
}

// --- Failures -------------------------------------------------------------------

struct FailingLine {
    const char* keyword;
    std::vector<std::string> args;
    const char* message;  // after the logger's head, without the line end
};

// Each line alone, on line 12 of a handler with 4 slots (output connector,
// 2 outputs) that already holds a calibration: the message is exact, the
// handler is unchanged and the line stays unconsumed.
TEST(TraCommonOptions, EveryFailureMessageAndNothingStored) {
    const std::vector<FailingLine> cases = {
        {"transmitteroffset", {"1", "2"}, "Incomplete option line found for TransmitterOffset at line 12."},
        {"transmitteroffset", {"1", "2", "3", "feet", "x"}, "Too many args found for TransmitterOffset at line 12."},
        {"transmitteroffset", {"1", "2", "3", "yards"}, "Invalid string found for TransmitterOffset at line 12."},
        {"transmitteroffset", {"1", "two", "3"}, "Invalid arg found for TransmitterOffset at line 12."},
        {"transmitteroffset", {"1", "1e39", "3"}, "Invalid arg found for TransmitterOffset at line 12."},
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
    Config config;
    config.add(1, "sensoroffset", {"0", "1", "2", "3"});
    config.add(2, "sensoroffset", {"1", "1", "2", "3", "cm"});
    config.add(3, "transmitteroffset", {"1", "2", "3", "yards"});  // unit not examined
    config.add(4, "sensorrotation", {"1", "0", "1", "0", "angle"});  // angle not examined
    config.add(5, "sensorrotationmatrix", {"2", "1", "0", "0", "0", "1", "0", "0", "0", "1"});
    config.add(6, "sensortranslation", {"1", "x", "0", "0"});  // numbers still checked
    config.add(7, "transmitterrotation", {"0", "1"});          // count still checked
    config.add(8, "calibration", {kAddOne, "a1"});
    config.add(9, "order", {"2", "1"});
    config.add(10, "transmitterrotationmatrix", numbers(1, 9));
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
    EXPECT_FALSE(handler->tracker(1)->sensorOffsetSet);
    EXPECT_FALSE(handler->tracker(1)->sensorRotationSet);
    EXPECT_FALSE(handler->tracker(2)->sensorRotationSet);
    EXPECT_FALSE(handler->transmitterOffsetSet());
    EXPECT_FALSE(handler->transmitterRotationSet());
    ASSERT_NE(nullptr, handler->calibLibrary());
    EXPECT_EQ(1u, handler->calibArgs().size());
    EXPECT_EQ(2u, handler->tracker(1)->order);
    EXPECT_EQ(1u, handler->tracker(2)->order);

    // The CAVE line too, on an input connector.
    auto input = makeHandler(4, true, 2);
    Config cave;
    cave.add(1, "sensoroffset", {"9", "1", "2", "3"});
    cave.add(2, "cavecoord", {"on"});
    parse(*input, cave);
    EXPECT_TRUE(input->caveCoordinates);
    EXPECT_EQ(1, cave.line(1).used);
}

TEST(TraCommonOptions, HostileCountsStayInsideTheRecord) {
    auto handler = makeHandler();
    Config config;
    ConfigLine& line = config.add(1, "sensoroffset", {"1", "1", "2", "3"});
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

TEST(TraCommonWrite, StorageIndexIsOrderPlusBase) {
    auto handler = makeHandler(4, false, 2);
    handler->storageBase = 3;
    EXPECT_EQ(4u, handler->storageIndex(1));
    EXPECT_EQ(5u, handler->storageIndex(2));
    EXPECT_EQ(3u, handler->storageIndex(3)) << "order 0 plus the base";
    EXPECT_EQ(0u, handler->storageIndex(0));
    EXPECT_EQ(0u, handler->storageIndex(5));
    TrackerPose pose{};
    EXPECT_FALSE(handler->calibratePose(0, pose));
    EXPECT_FALSE(handler->calibratePose(5, pose));
}

TEST(TraCommonWrite, UncalibratedValuesPassBitExact) {
    auto handler = makeHandler();
    const TrackerPose in{1.0e-7f, -0.0f, 123456.78f, 270.0f, 100.0f, -720.5f};
    TrackerPose pose = in;
    ASSERT_TRUE(handler->calibratePose(1, pose));
    EXPECT_EQ(0, std::memcmp(&in, &pose, sizeof pose));
}

TEST(TraCommonWrite, AnySetFlagNormalises) {
    auto handler = makeHandler();
    Config config;
    config.add(1, "sensoroffset", {"2", "0", "0", "0"});
    parse(*handler, config);
    TrackerPose untouched{0, 0, 0, 270, 0, 0};
    ASSERT_TRUE(handler->calibratePose(1, untouched));
    EXPECT_EQ(270.0f, untouched.azim) << "slot 1 has nothing set";
    TrackerPose pose{0, 0, 0, 270, 0, 0};
    ASSERT_TRUE(handler->calibratePose(2, pose));
    EXPECT_NEAR(-90.0f, pose.azim, 1e-4f);
}

TEST(TraCommonWrite, LibraryCorrectsBeforeTheGeometry) {
    auto handler = makeHandler();
    Config config;
    config.add(1, "calibration", {kAddOne});
    config.add(2, "transmitterrotation", {"0", "1", "0", "90"});
    parse(*handler, config);
    // (0,0,0) becomes (1,0,0) in the library, then turns to (0,0,-1).
    TrackerPose pose{0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(handler->calibratePose(1, pose));
    EXPECT_NEAR(0.0f, pose.x, 1e-6f);
    EXPECT_NEAR(-1.0f, pose.z, 1e-6f);
    EXPECT_NEAR(90.0f, pose.azim, 1e-4f);

    auto plain = makeHandler();
    Config libraryOnly;
    libraryOnly.add(1, "calibration", {kAddOne});
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
        Config config;
        config.add(1, "calibration", {library});
        parse(*handler, config);
        TrackerPose pose{1, 2, 3, 4, 5, 6};
        testing::internal::CaptureStdout();
        EXPECT_FALSE(handler->calibratePose(1, pose));
        EXPECT_FALSE(handler->calibratePose(2, pose));
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(1.0f, pose.x);
    }
}

TEST(TraCommonWrite, PerWritePathAllocatesNothing) {
    auto handler = makeHandler(4, false, 4);
    Config config;
    config.add(1, "calibration", {kAddOne});
    config.add(2, "transmitteroffset", {"1", "2", "3"});
    config.add(3, "sensorrotation", {"2", "1", "0", "0", "30"});
    config.add(4, "sensortranslation", {"3", "0", "1", "0"});
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
    testing::internal::CaptureStdout();
    EXPECT_TRUE(handler.printSettings(showCave));
    return testing::internal::GetCapturedStdout();
}

const char kHead[] = "TRA: INFO: ";
std::string info(const std::string& text) { return kHead + text + "\n"; }

}  // namespace

TEST(TraCommonReport, NothingCalibratedOneOrderedSlot) {
    auto handler = makeHandler(4, true, 1);
    EXPECT_EQ(info("CAVE COORDINATES      : Unused") +
                  info("TRACKER ORDER         : <Real tra> -> <Output tra>") + info("                      : 1->1"),
              report(*handler));
    handler->caveCoordinates = true;
    EXPECT_EQ(info("CAVE COORDINATES      : Used"), report(*handler).substr(0, 40));
}

TEST(TraCommonReport, StorageBaseShiftsTheOutputNumbers) {
    auto handler = makeHandler(4, true, 2);
    handler->storageBase = 4;
    EXPECT_EQ(info("CAVE COORDINATES      : Unused") +
                  info("TRACKER ORDER         : <Real tra> -> <Output tra>") +
                  info("                      : 1->5 2->6"),
              report(*handler));

    auto none = makeHandler(4, true, 0);
    EXPECT_EQ(info("TRACKER ORDER         : <Real tra> -> <Output tra>") + info("                      :"),
              report(*none, false));
}

TEST(TraCommonReport, NineValueTransmitterRotation) {
    auto handler = makeHandler(2, false, 1);
    Config config;
    config.add(1, "transmitterrotationmatrix", {"1", "0", "0", "0", "0", "1", "0", "-1", "0"});
    parse(*handler, config);
    const std::string rows = " [0][0]: 1.000 [0][1]: 0.000 [0][2]: 0.000\n";
    const std::string block1 = kHead + std::string("TRANSMITTER ROTATION  :") + rows + kHead +
                               "                      : [1][0]: 0.000 [1][1]: 0.000 [1][2]: 1.000\n" + kHead +
                               "                      : [2][0]: 0.000 [2][1]:-1.000 [2][2]: 0.000\n\n";
    const std::string block2 = kHead + std::string("TRANSMITTER TRANSFORM :") + rows + kHead +
                               "                      : [1][0]: 0.000 [1][1]: 0.000 [1][2]: 1.000\n" + kHead +
                               "                      : [2][0]: 0.000 [2][1]:-1.000 [2][2]: 0.000\n\n";
    EXPECT_EQ(block1 + block2 + info("TRACKER ORDER         : <Real tra> -> <Output tra>") +
                  info("                      : 1->1"),
              report(*handler, false));
}

TEST(TraCommonReport, OffsetsFollowTheStreamFormatInForce) {
    // Without a matrix before it, an offset prints in the general format.
    auto plain = makeHandler(2, false, 2);
    Config offsets;
    offsets.add(1, "transmitteroffset", {"1.5", "-2", "0.25"});
    offsets.add(2, "sensoroffset", {"2", "0", "0", "10", "cm"});
    parse(*plain, offsets);
    const std::string out = report(*plain, false);
    EXPECT_EQ(0u, out.find(info("TRANSMITTER OFFSET    : X:1.5 Y:-2 Z:0.25"))) << out;
    // The transmitter transform block before the sensor lines leaves fixed
    // notation with 3 decimals in force; slot 1 has nothing to print.
    EXPECT_NE(std::string::npos, out.find(info("SENSOR OFFSET         : 2 X:0.000 Y:0.000 Z:0.328"))) << out;
    EXPECT_NE(std::string::npos,
              out.find(info("SENSOR TRANSFORM      : 2 [0][0]: 1.000 [0][1]: 0.000 [0][2]: 0.000") +
                       info("                      : 2 [1][0]: 0.000 [1][1]: 1.000 [1][2]: 0.000") +
                       info("                      : 2 [2][0]: 0.000 [2][1]: 0.000 [2][2]: 1.000") + "\n"))
        << out;
    EXPECT_EQ(std::string::npos, out.find("SENSOR ROTATION")) << out;

    auto sensorOnly = makeHandler(2, false, 2);
    Config sensor;
    sensor.add(1, "sensoroffset", {"1", "0", "0", "10", "cm"});
    parse(*sensorOnly, sensor);
    EXPECT_NE(std::string::npos, report(*sensorOnly).find(info("SENSOR OFFSET         : 1 X:0 Y:0 Z:0.328084")));
}

// Rows show index 4r + c, so the axis-angle matrix appears transposed to
// its column-major reading; cos(90 degrees) in float is a tiny positive.
TEST(TraCommonReport, SensorRotationRowsCarryTheTrackerNumber) {
    auto handler = makeHandler(3, false, 2);
    Config config;
    config.add(1, "sensorrotation", {"2", "0", "0", "1", "90"});
    config.add(2, "sensorrotation", {"3", "0", "0", "1", "90"});  // slot 3 has no order: not printed
    parse(*handler, config);
    const std::string out = report(*handler, false);
    EXPECT_NE(std::string::npos,
              out.find(info("SENSOR ROTATION       : 2 [0][0]: 0.000 [0][1]: 1.000 [0][2]: 0.000") +
                       info("                      : 2 [1][0]:-1.000 [1][1]: 0.000 [1][2]: 0.000") +
                       info("                      : 2 [2][0]: 0.000 [2][1]: 0.000 [2][2]: 1.000") + "\n" +
                       info("SENSOR TRANSFORM      : 2 [0][0]: 0.000 [0][1]: 1.000 [0][2]: 0.000")))
        << out;
    EXPECT_EQ(std::string::npos, out.find(": 3 [")) << out;
}

TEST(TraCommonReport, CalibrationLibraryWithArguments) {
    auto handler = makeHandler(1, true, 1);
    Config config;
    config.add(1, "calib", {kAddOne, "room.cal", "fast"});
    parse(*handler, config);
    EXPECT_EQ(info("TRACKER ORDER         : <Real tra> -> <Output tra>") + info("                      : 1->1") +
                  info(std::string("CALIBRATION LIBRARY   : name:") + kAddOne) +
                  info("                      : arg[0]:room.cal") + info("                      : arg[1]:fast"),
              report(*handler, false));
}

TEST(TraCommonReport, HostLocaleDoesNotChangeTheNumbers) {
    std::locale german;
    try {
        german = std::locale("de_DE.UTF-8");
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "de_DE.UTF-8 not installed";
    }
    auto handler = makeHandler(1, false, 1);
    Config config;
    config.add(1, "transmitteroffset", {"1.5", "1000", "0"});
    config.add(2, "sensoroffset", {"1", "0.25", "0", "0"});
    parse(*handler, config);
    std::locale previous = std::locale::global(german);
    const std::string out = report(*handler, false);
    std::locale::global(previous);
    EXPECT_EQ(0u, out.find(info("TRANSMITTER OFFSET    : X:1.5 Y:1000 Z:0"))) << out;
    EXPECT_NE(std::string::npos, out.find(info("SENSOR OFFSET         : 1 X:0.250 Y:0.000 Z:0.000"))) << out;
}

// A disabled logger writes no head; what follows a head is written
// straight to the output, as with every open line of the module.
TEST(TraCommonReport, DisabledLoggerLeavesTheTextAfterItsHeads) {
    CLogH silent = quietLogger();
    silent.enabled = 0;
    CTraCommonH quiet(&silent);
    quiet.initTrackers(1);
    quiet.setTracker(1, 1, nullptr, nullptr, nullptr);
    Config config;
    config.add(1, "transmitteroffset", {"1", "2", "3"});
    config.add(2, "calibration", {kAddOne, "x"});
    config.add(3, "sensoroffset", {});
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
