#include "calib/calib_lib.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "calib_test_support.h"

namespace {

using calib_test::captured;

const std::string kAddOne = CALIB_ADD_ONE_PATH;
const std::string kNoEntry = CALIB_NO_ENTRY_PATH;
const std::string kMissing = "/nonexistent-dir/libcalib_missing.so";

const std::string kNotLoaded = "T: ERROR: CDynamicLibH: Library has not been loaded.\n";

CLogH quietLogger(int32_t debugLevel = 0) { return calib_test::quietLogger("T", debugLevel); }

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++n;
    }
    return n;
}

size_t lookUps(const std::string& out) { return countOf(out, "\"getProcAddr\" called."); }

}  // namespace

TEST(CalibLibLoad, EmptyNameThenEvaluateReportsNotLoaded) {
    CLogH log = quietLogger();
    std::unique_ptr<CCalibH> calib;
    EXPECT_EQ("T: ERROR: CDynamicLibH: Library name is empty.\n",
              captured([&] { calib = std::make_unique<CCalibH>("", &log); }));
    TrackerPose pose{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(kNotLoaded, captured([&] { EXPECT_FALSE(calib->evaluate(pose)); }));
    EXPECT_EQ(1.0f, pose.x) << "the pose stays as it was";
    EXPECT_EQ(0u, calib->cachedSlots());
    EXPECT_EQ(kNotLoaded, captured([&] { EXPECT_EQ(nullptr, calib->getProcAddr("calib_evaluate")); }));
    EXPECT_TRUE(calib->unload()) << "unload without a library is fine";
    EXPECT_FALSE(calib->load(nullptr));
}

TEST(CalibLibLoad, MissingFileKeepsTheFixedTextAndAddsTheReasonOnlyAtDebug) {
    const std::string failure = "T: ERROR: CDynamicLibH: Can not load the library " + kMissing + "\n";
    CLogH log = quietLogger();
    CDynamicLibH loader(nullptr, &log);
    EXPECT_EQ(failure, captured([&] { EXPECT_FALSE(loader.load(kMissing.c_str())); }));
    EXPECT_FALSE(loader.isLoaded());
    EXPECT_TRUE(loader.load(kAddOne.c_str())) << "the loader stays usable";

    CLogH debugLog = quietLogger(3);
    CDynamicLibH debugLoader(nullptr, &debugLog);
    std::string out = captured([&] { debugLoader.load(kMissing.c_str()); });
    EXPECT_NE(std::string::npos, out.find(failure)) << out;
    size_t reason = out.find("T: DEBUG: CDynamicLibH: System reason: ");
    ASSERT_NE(std::string::npos, reason) << out;
    EXPECT_NE(std::string::npos, out.find("libcalib_missing.so", reason)) << out;

    // A disabled logger writes no head; the name after it still shows.
    CLogH silent = quietLogger(3);
    silent.enabled = 0;
    CDynamicLibH silentLoader(nullptr, &silent);
    out = captured([&] { silentLoader.load(kMissing.c_str()); });
    EXPECT_EQ(0u, out.find(kMissing + "\nSystem reason: ")) << out;
    EXPECT_EQ(kAddOne + " library loaded.\n", captured([&] { silentLoader.load(kAddOne.c_str()); }));
}

TEST(CalibLibLoad, SuccessLineOnlyWithDebugAndSecondLoadKeepsTheFirst) {
    CLogH log = quietLogger();
    CDynamicLibH loader(nullptr, &log);
    EXPECT_EQ("", captured([&] { EXPECT_TRUE(loader.load(kAddOne.c_str())); }));
    EXPECT_EQ("", captured([&] { EXPECT_FALSE(loader.load(kNoEntry.c_str())); }));
    EXPECT_NE(nullptr, loader.getProcAddr("calib_evaluate")) << "the first library stays";
}

TEST(CalibLibLoad, DebugTraceOfALoaderLifeAndLoggerNames) {
    CLogH log = quietLogger(3);
    std::string out = captured([&] {
        CCalibH calib(kAddOne.c_str(), &log);
        EXPECT_EQ(3, calib.logger().ownerId);
        EXPECT_STREQ("T", calib.logger().name) << "a handed-in logger keeps its name";
    });
    EXPECT_EQ("T: DEBUG: CDynamicLibH: \"constructor\" called.\n"
              "T: DEBUG: CDynamicLibH: \"init\" called.\n"
              "T: DEBUG: CDynamicLibH: \"load\" called.\n"
              "T: DEBUG: CDynamicLibH: " + kAddOne + " library loaded.\n"
              "T: DEBUG: CCalibH: \"init\" called.\n"
              "T: DEBUG: CCalibH: \"destructor\" called.\n"
              "T: DEBUG: CDynamicLibH: \"destructor\" called.\n"
              "T: DEBUG: CDynamicLibH: \"unload\" called.\n",
              out);

    CDynamicLibH loader;
    CCalibH calib(kAddOne.c_str());
    EXPECT_STREQ("CDynamicLibH", loader.logger().name);
    EXPECT_STREQ("CCalibH", calib.logger().name);
    EXPECT_EQ(3, calib.logger().ownerId);
}

TEST(CalibLibEvaluate, AddingLibraryMovesXByOne) {
    CLogH log = quietLogger();
    CCalibH calib(kAddOne.c_str(), &log);
    TrackerPose pose{0.5f, 2, 3, 90, -10, 45};
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(calib.evaluate(pose));
        EXPECT_EQ(0.5f + i, pose.x);
    }
    EXPECT_EQ(2.0f, pose.y);
    EXPECT_EQ(3.0f, pose.z);
    EXPECT_EQ(90.0f, pose.azim);
    EXPECT_EQ(-10.0f, pose.elev);
    EXPECT_EQ(45.0f, pose.roll);
}

TEST(CalibLibEvaluate, MissingEntryPointIsLookedUpOnceUntilUnload) {
    CLogH log = quietLogger(3);
    std::unique_ptr<CCalibH> calib;
    captured([&] { calib = std::make_unique<CCalibH>(kNoEntry.c_str(), &log); });
    TrackerPose pose{};
    std::string out = captured([&] {
        for (int i = 0; i < 5; ++i) {
            EXPECT_FALSE(calib->evaluate(pose));
        }
    });
    EXPECT_EQ(5u, countOf(out, "\"getProcAddrCached\" called."));
    EXPECT_EQ(1u, lookUps(out)) << out;
    EXPECT_EQ(0u, countOf(out, "ERROR")) << "a missing entry point is silent";
    EXPECT_EQ(2u, calib->cachedSlots());

    // Unload forgets the cache; the next library is looked up afresh.
    captured([&] { calib->unload(); });
    EXPECT_EQ(0u, calib->cachedSlots());
    EXPECT_FALSE(calib->isLoaded());
    EXPECT_EQ("T: DEBUG: CDynamicLibH: \"getProcAddrCached\" called.\n" + kNotLoaded,
              captured([&] { EXPECT_FALSE(calib->evaluate(pose)); }));
    captured([&] { ASSERT_TRUE(calib->load(kAddOne.c_str())); });
    EXPECT_EQ(1u, lookUps(captured([&] { EXPECT_TRUE(calib->evaluate(pose)); })));
    EXPECT_EQ(1.0f, pose.x);
}

TEST(CalibLibCache, SlotGrowthAndRememberedResult) {
    CLogH log = quietLogger(3);
    std::unique_ptr<CDynamicLibH> loader;
    captured([&] { loader = std::make_unique<CDynamicLibH>(kAddOne.c_str(), &log); });

    CDynamicLibH::ProcAddress first = nullptr;
    EXPECT_EQ(1u, lookUps(captured([&] { first = loader->getProcAddrCached("calib_evaluate", 5); })));
    EXPECT_NE(nullptr, first);
    EXPECT_EQ(6u, loader->cachedSlots());
    // The name is not compared again.
    EXPECT_EQ(0u, lookUps(captured([&] { EXPECT_EQ(first, loader->getProcAddrCached("anything_else", 5)); })));

    // A different slot with the same name looks up again; a wild slot is refused.
    captured([&] { EXPECT_EQ(first, loader->getProcAddrCached("calib_evaluate", 0)); });
    std::string out = captured([&] { EXPECT_EQ(nullptr, loader->getProcAddrCached("calib_evaluate", 4000000000u)); });
    EXPECT_NE(std::string::npos, out.find("T: ERROR: CDynamicLibH: Procedure slot out of range.\n")) << out;
    EXPECT_EQ(6u, loader->cachedSlots());
}
