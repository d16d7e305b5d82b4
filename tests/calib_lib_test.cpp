#include "calib/calib_lib.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const kAddOne = CALIB_ADD_ONE_PATH;
const char* const kNoEntry = CALIB_NO_ENTRY_PATH;
const char* const kMissing = "/nonexistent-dir/libcalib_missing.so";

// Stable heads: no date, time or thread id.
CLogH quietLogger(int32_t debugLevel = 0) {
    CLogH log;
    log.showDate = log.showTime = log.showThreadId = 0;
    log.setName("T");
    log.debugLevel = debugLevel;
    return log;
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++n;
    }
    return n;
}

template <typename Action>
std::string captured(Action action) {
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(CalibLibLoad, EmptyNameThenEvaluateReportsNotLoaded) {
    CLogH log = quietLogger();
    std::unique_ptr<CCalibH> calib;
    EXPECT_EQ("T: ERROR: CDynamicLibH: Library name is empty.\n",
              captured([&] { calib = std::make_unique<CCalibH>("", &log); }));
    TrackerPose pose{1, 2, 3, 4, 5, 6};
    bool ok = true;
    EXPECT_EQ("T: ERROR: CDynamicLibH: Library has not been loaded.\n", captured([&] { ok = calib->evaluate(pose); }));
    EXPECT_FALSE(ok);
    EXPECT_EQ(1.0f, pose.x) << "the pose stays as it was";
    EXPECT_FALSE(calib->load(nullptr));
}

TEST(CalibLibLoad, MissingFileKeepsTheFixedTextAndAddsTheReasonOnlyAtDebug) {
    CLogH log = quietLogger();
    CDynamicLibH loader(nullptr, &log);
    bool ok = true;
    EXPECT_EQ(std::string("T: ERROR: CDynamicLibH: Can not load the library ") + kMissing + "\n",
              captured([&] { ok = loader.load(kMissing); }));
    EXPECT_FALSE(ok);
    EXPECT_FALSE(loader.isLoaded());

    CLogH debugLog = quietLogger(3);
    CDynamicLibH debugLoader(nullptr, &debugLog);
    std::string out = captured([&] { debugLoader.load(kMissing); });
    EXPECT_NE(std::string::npos,
              out.find(std::string("T: ERROR: CDynamicLibH: Can not load the library ") + kMissing + "\n"));
    size_t reason = out.find("T: DEBUG: CDynamicLibH: System reason: ");
    ASSERT_NE(std::string::npos, reason) << out;
    EXPECT_NE(std::string::npos, out.find("libcalib_missing.so", reason)) << out;

    // The loader stays usable.
    EXPECT_TRUE(loader.load(kAddOne));

    // A disabled logger writes no head; the name after it still shows.
    CLogH silent = quietLogger(3);
    silent.enabled = 0;
    CDynamicLibH silentLoader(nullptr, &silent);
    out = captured([&] { silentLoader.load(kMissing); });
    EXPECT_EQ(0u, out.find(std::string(kMissing) + "\nSystem reason: ")) << out;
    EXPECT_EQ(std::string(kAddOne) + " library loaded.\n", captured([&] { silentLoader.load(kAddOne); }));
}

TEST(CalibLibLoad, SuccessLineOnlyWithDebugAndSecondLoadKeepsTheFirst) {
    CLogH log = quietLogger();
    CDynamicLibH loader(nullptr, &log);
    bool ok = false;
    EXPECT_EQ("", captured([&] { ok = loader.load(kAddOne); }));
    EXPECT_TRUE(ok);
    EXPECT_EQ("", captured([&] { ok = loader.load(kNoEntry); }));
    EXPECT_FALSE(ok);
    EXPECT_NE(nullptr, loader.getProcAddr("calib_evaluate")) << "the first library stays";

    CLogH debugLog = quietLogger(3);
    CDynamicLibH debugLoader(nullptr, &debugLog);
    EXPECT_EQ(std::string("T: DEBUG: CDynamicLibH: \"load\" called.\n"
                          "T: DEBUG: CDynamicLibH: ") +
                  kAddOne + " library loaded.\n",
              captured([&] { debugLoader.load(kAddOne); }));
}

TEST(CalibLibLoad, DebugTraceOfALoaderLife) {
    CLogH log = quietLogger(3);
    std::string out = captured([&] {
        CCalibH calib(kAddOne, &log);
        EXPECT_EQ(3, calib.logger().ownerId);
        EXPECT_STREQ("T", calib.logger().name) << "a handed-in logger keeps its name";
    });
    EXPECT_EQ(std::string("T: DEBUG: CDynamicLibH: \"constructor\" called.\n"
                          "T: DEBUG: CDynamicLibH: \"init\" called.\n"
                          "T: DEBUG: CDynamicLibH: \"load\" called.\n"
                          "T: DEBUG: CDynamicLibH: ") +
                  kAddOne +
                  " library loaded.\n"
                  "T: DEBUG: CCalibH: \"init\" called.\n"
                  "T: DEBUG: CCalibH: \"destructor\" called.\n"
                  "T: DEBUG: CDynamicLibH: \"destructor\" called.\n"
                  "T: DEBUG: CDynamicLibH: \"unload\" called.\n",
              out);
}

TEST(CalibLibLoad, OwnLoggerNames) {
    testing::internal::CaptureStdout();
    CDynamicLibH loader;
    CCalibH calib(kAddOne);
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ("CDynamicLibH", loader.logger().name);
    EXPECT_STREQ("CCalibH", calib.logger().name);
    EXPECT_EQ(3, calib.logger().ownerId);
}

TEST(CalibLibEvaluate, AddingLibraryMovesXByOne) {
    CLogH log = quietLogger();
    CCalibH calib(kAddOne, &log);
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
    testing::internal::CaptureStdout();
    CCalibH calib(kNoEntry, &log);
    testing::internal::GetCapturedStdout();

    TrackerPose pose{};
    std::string out = captured([&] {
        for (int i = 0; i < 5; ++i) {
            EXPECT_FALSE(calib.evaluate(pose));
        }
    });
    EXPECT_EQ(5u, countOf(out, "\"getProcAddrCached\" called."));
    EXPECT_EQ(1u, countOf(out, "\"getProcAddr\" called.")) << out;
    EXPECT_EQ(0u, countOf(out, "ERROR")) << "a missing entry point is silent";
    EXPECT_EQ(2u, calib.cachedSlots());

    // Unload forgets the cache; the next library is looked up afresh.
    captured([&] { calib.unload(); });
    EXPECT_EQ(0u, calib.cachedSlots());
    EXPECT_FALSE(calib.isLoaded());
    out = captured([&] { EXPECT_FALSE(calib.evaluate(pose)); });
    EXPECT_EQ("T: DEBUG: CDynamicLibH: \"getProcAddrCached\" called.\n"
              "T: ERROR: CDynamicLibH: Library has not been loaded.\n",
              out);
    captured([&] { ASSERT_TRUE(calib.load(kAddOne)); });
    out = captured([&] { EXPECT_TRUE(calib.evaluate(pose)); });
    EXPECT_EQ(1u, countOf(out, "\"getProcAddr\" called."));
    EXPECT_EQ(1.0f, pose.x);
}

TEST(CalibLibCache, SlotGrowthAndRememberedResult) {
    CLogH log = quietLogger(3);
    testing::internal::CaptureStdout();
    CDynamicLibH loader(kAddOne, &log);
    testing::internal::GetCapturedStdout();

    CDynamicLibH::ProcAddress first = nullptr;
    std::string out = captured([&] { first = loader.getProcAddrCached("calib_evaluate", 5); });
    EXPECT_NE(nullptr, first);
    EXPECT_EQ(6u, loader.cachedSlots());
    EXPECT_EQ(1u, countOf(out, "\"getProcAddr\" called."));

    CDynamicLibH::ProcAddress second = nullptr;
    out = captured([&] { second = loader.getProcAddrCached("anything_else", 5); });
    EXPECT_EQ(first, second) << "the name is not compared again";
    EXPECT_EQ(0u, countOf(out, "\"getProcAddr\" called."));

    // A different slot with the same name looks up again; a wild slot is refused.
    EXPECT_EQ(first, loader.getProcAddrCached("calib_evaluate", 0));
    testing::internal::CaptureStdout();
    EXPECT_EQ(nullptr, loader.getProcAddrCached("calib_evaluate", 4000000000u));
    EXPECT_NE(std::string::npos,
              testing::internal::GetCapturedStdout().find("T: ERROR: CDynamicLibH: Procedure slot out of range.\n"));
    EXPECT_EQ(6u, loader.cachedSlots());
}

TEST(CalibLibCache, LookUpWithoutLibrary) {
    CLogH log = quietLogger();
    CDynamicLibH loader(nullptr, &log);
    EXPECT_EQ("T: ERROR: CDynamicLibH: Library has not been loaded.\n",
              captured([&] { EXPECT_EQ(nullptr, loader.getProcAddr("calib_evaluate")); }));
    EXPECT_EQ("T: ERROR: CDynamicLibH: Library has not been loaded.\n",
              captured([&] { EXPECT_EQ(nullptr, loader.getProcAddrCached("calib_evaluate", 1)); }));
    EXPECT_EQ(0u, loader.cachedSlots());
    EXPECT_TRUE(loader.unload()) << "unload without a library is fine";
}
