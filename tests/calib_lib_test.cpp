// The calibration loader with real libraries: one moves x by one, one lacks the entry point, one is missing.
#include "calib/calib_lib.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/host_records.h"
#include "tests/support/output.h"

using test_support::capturedStdout;

namespace {

const std::string kAddOne = CALIB_ADD_ONE_PATH, kNoEntry = CALIB_NO_ENTRY_PATH,
                  kMissing = "/nonexistent-dir/libcalib_missing.so";
const std::string kNotLoaded = "T: ERROR: CDynamicLibH: Library has not been loaded.\n";
size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}
size_t lookUps(const std::string& out) { return countOf(out, "\"getProcAddr\" called."); }

}  // namespace

// The whole life of a loader at debug level, and its logger's name without one.
TEST(CalibLib, TheLoadersLifeAndItsLogger) {
    CLogH log = test_support::quietLogger("T", 3);
    EXPECT_EQ(
        "T: DEBUG: CDynamicLibH: \"constructor\" called.\nT: DEBUG: CDynamicLibH: \"init\" called.\n"
        "T: DEBUG: CDynamicLibH: \"load\" called.\nT: DEBUG: CDynamicLibH: " +
            kAddOne +
            " library loaded.\n"
            "T: DEBUG: CCalibH: \"init\" called.\nT: DEBUG: CCalibH: \"destructor\" called.\n"
            "T: DEBUG: CDynamicLibH: \"destructor\" called.\nT: DEBUG: CDynamicLibH: \"unload\" called.\n",
        capturedStdout([&] {
            CCalibH calib(kAddOne.c_str(), &log);
            EXPECT_EQ(3, calib.logger().ownerId);
            EXPECT_STREQ("T", calib.logger().name);
        }));
    EXPECT_EQ(std::make_pair(std::string("CCalibH"), 3),
              std::make_pair(std::string(CCalibH(kAddOne.c_str()).logger().name), CCalibH("").logger().ownerId));
}

// The fixed failure text ("Can not load" is tra_common_test's), the system's reason at debug level; a second load keeps
// the first library.
TEST(CalibLib, LoadFailuresAndASecondLoad) {
    CLogH log = test_support::quietLogger("T");
    std::unique_ptr<CCalibH> empty;
    EXPECT_EQ("T: ERROR: CDynamicLibH: Library name is empty.\n",
              capturedStdout([&] { empty = std::make_unique<CCalibH>("", &log); }));
    TrackerPose pose{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(kNotLoaded + kNotLoaded, capturedStdout([&] {
                  EXPECT_FALSE(empty->evaluate(pose));
                  EXPECT_EQ(nullptr, empty->getProcAddr("calib_evaluate"));
              }));
    EXPECT_TRUE(empty->unload() && !empty->load(nullptr) && pose.x == 1.0f);
    CDynamicLibH loader(nullptr, &log);
    EXPECT_EQ("", capturedStdout([&] { EXPECT_TRUE(loader.load(kAddOne.c_str()) && !loader.load(kNoEntry.c_str())); }));
    EXPECT_NE(nullptr, loader.getProcAddr("calib_evaluate")) << "the first library stays";
    CLogH debugLog = test_support::quietLogger("T", 3);
    debugLog.enabled = 0;  // no heads: the name and the reason still show
    CDynamicLibH silent(nullptr, &debugLog);
    EXPECT_EQ(0u, capturedStdout([&] { silent.load(kMissing.c_str()); }).find(kMissing + "\nSystem reason: "));
}

// calib_evaluate corrects the six values in place; a missing one is looked up once, remembered, forgotten on unload.
TEST(CalibLib, EvaluateAndTheLookUpCache) {
    CLogH log = test_support::quietLogger("T", 3);
    std::unique_ptr<CCalibH> calib;
    capturedStdout([&] { calib = std::make_unique<CCalibH>(kNoEntry.c_str(), &log); });
    TrackerPose pose{0.5f, 2, 3, 90, -10, 45};
    std::string out = capturedStdout([&] {
        for (int i = 0; i < 5; ++i) EXPECT_FALSE(calib->evaluate(pose));
    });
    EXPECT_EQ(std::make_tuple(size_t{5}, size_t{1}, size_t{0}, 2u),
              std::make_tuple(countOf(out, "\"getProcAddrCached\" called."), lookUps(out), countOf(out, "ERROR"),
                              calib->cachedSlots()));
    capturedStdout([&] { calib->unload(); });
    EXPECT_EQ(std::make_pair(0u, false), std::make_pair(calib->cachedSlots(), calib->isLoaded()));
    EXPECT_EQ("T: DEBUG: CDynamicLibH: \"getProcAddrCached\" called.\n" + kNotLoaded,
              capturedStdout([&] { EXPECT_FALSE(calib->evaluate(pose)); }));
    capturedStdout([&] { ASSERT_TRUE(calib->load(kAddOne.c_str())); });
    for (int i = 1; i <= 2; ++i)
        EXPECT_EQ(size_t(i == 1), lookUps(capturedStdout([&] { EXPECT_TRUE(calib->evaluate(pose)); })));
    EXPECT_EQ((std::vector<float>{2.5f, 2, 3, 90, -10, 45}),
              (std::vector<float>{pose.x, pose.y, pose.z, pose.azim, pose.elev, pose.roll}));
    // Slots are the caller's: a slot grows the cache, keeps its result whatever name comes later; wild ones fail.
    CDynamicLibH::ProcAddress first = nullptr;
    EXPECT_EQ(1u, lookUps(capturedStdout([&] { first = calib->getProcAddrCached("calib_evaluate", 5); })));
    EXPECT_EQ(std::make_pair(true, 6u), std::make_pair(first != nullptr, calib->cachedSlots()));
    EXPECT_EQ(0u, lookUps(capturedStdout([&] { EXPECT_EQ(first, calib->getProcAddrCached("anything_else", 5)); })));
    EXPECT_NE(std::string::npos, capturedStdout([&] {
                                     EXPECT_EQ(nullptr, calib->getProcAddrCached("calib_evaluate", 4000000000u));
                                 }).find("T: ERROR: CDynamicLibH: Procedure slot out of range.\n"));
}
