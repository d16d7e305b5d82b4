#include "framework/logger.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <regex>
#include <string>

#include "platform/thread.h"

namespace {

std::string capture(void (*write)(const CLogH&), const CLogH& log) {
    testing::internal::CaptureStdout();
    write(log);
    return testing::internal::GetCapturedStdout();
}

CLogH bareLogger(const char* name) {
    CLogH log;
    log.showDate = log.showTime = log.showThreadId = 0;
    log.setName(name);
    return log;
}

}  // namespace

TEST(Logger, DefaultsMatchTheHostInterface) {
    CLogH log;
    EXPECT_EQ(1, log.showDate);
    EXPECT_EQ(1, log.showTime);
    EXPECT_EQ(1, log.showThreadId);
    EXPECT_EQ(1, log.enabled);
    EXPECT_STREQ("MESSAGE", log.name);
    EXPECT_STREQ("INFO", log.labels[0]);
    EXPECT_STREQ("ERROR", log.labels[1]);
    EXPECT_STREQ("WARNING", log.labels[2]);
    EXPECT_STREQ("DEBUG", log.labels[3]);
    EXPECT_EQ(1, log.debugThreshold);
    EXPECT_EQ(0, log.debugLevel);
    EXPECT_EQ(0, log.ownerId);
}

TEST(Logger, HeadWithoutDateTimeOrThread) {
    CLogH log = bareLogger("CBase");
    EXPECT_EQ("CBase: ERROR: boom\n", capture([](const CLogH& l) { l.error("boom", true); }, log));
    EXPECT_EQ("CBase: INFO: open", capture([](const CLogH& l) { l.info("open", false); }, log));
}

namespace {

std::string captureCall(const std::function<void()>& write) {
    testing::internal::CaptureStdout();
    write();
    return testing::internal::GetCapturedStdout();
}

std::string threadPart() { return "[" + std::to_string(platform::currentThreadId()) + "]: "; }

}  // namespace

TEST(LoggerHead, DateTimeAndThreadId) {
    CLogH log;
    log.setName("CBase");
    std::string line = captureCall([&] { log.error("boom", true); });
    // "Dec 05 12:53:00 " in the C locale.
    std::regex head("^[A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} CBase\\[([0-9]+)\\]: ERROR: boom\n$");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, head)) << line;
    EXPECT_EQ(std::to_string(platform::currentThreadId()), match[1].str());
}

TEST(LoggerHead, EachFlagOnItsOwn) {
    CLogH log = bareLogger("CBase");
    log.showDate = 1;
    EXPECT_TRUE(std::regex_match(captureCall([&] { log.info("x", true); }),
                                 std::regex("^[A-Z][a-z]{2} [0-9]{2} CBase: INFO: x\n$")));
    log.showDate = 0;
    log.showTime = 1;
    EXPECT_TRUE(std::regex_match(captureCall([&] { log.info("x", true); }),
                                 std::regex("^[0-9]{2}:[0-9]{2}:[0-9]{2} CBase: INFO: x\n$")));
    log.showTime = 0;
    log.showThreadId = 1;
    EXPECT_EQ("CBase" + threadPart() + "INFO: x\n", captureCall([&] { log.info("x", true); }));
}

TEST(LoggerHead, NameIsCutAtNinetyNineCharacters) {
    CLogH log = bareLogger("x");
    std::string longName(150, 'n');
    log.setName(longName.c_str());
    EXPECT_EQ(std::string(99, 'n'), log.name);
    EXPECT_EQ(std::string(99, 'n') + ": INFO: hi\n", captureCall([&] { log.info("hi", true); }));
}

TEST(LoggerHead, AHostNameWithoutTerminatorStaysInItsField) {
    CLogH log = bareLogger("x");
    std::memset(log.name, 'h', sizeof log.name);
    std::memset(log.labels[CLogH::kInfo], 'L', sizeof log.labels[CLogH::kInfo]);
    EXPECT_EQ(std::string(100, 'h') + ": " + std::string(100, 'L') + ": hi\n",
              captureCall([&] { log.info("hi", true); }));
}

TEST(LoggerOutput, DisabledLoggerWritesNothing) {
    CLogH log;
    log.enabled = 0;
    log.debugLevel = 5;
    EXPECT_EQ("", captureCall([&] {
                  log.info("a", true);
                  log.error("b", true);
                  log.debug("c", true);
                  log.infof("%s\n", "d");
                  log.errorf("%s\n", "e");
              }));
}

TEST(LoggerOutput, PrintfFormsAddNoLineEnd) {
    CLogH log = bareLogger("zelostrel");
    EXPECT_EQ("zelostrel: ERROR: zelostrel: UDP Receive Error.\nzelostrel: INFO: port 5000",
              captureCall([&] {
                  log.errorf("zelostrel: UDP Receive Error.\n");
                  log.infof("port %d", 5000);
              }));
    // The open line is continued by the next head.
    EXPECT_EQ("zelostrel: INFO: azelostrel: INFO: b\n", captureCall([&] {
                  log.infof("a");
                  log.info("b", true);
              }));
}

TEST(LoggerOutput, OverLongFormattedTextIsCutAt255) {
    CLogH log = bareLogger("L");
    std::string longText(1000, 'z');
    EXPECT_EQ("L: INFO: " + std::string(255, 'z'), captureCall([&] { log.infof("%s", longText.c_str()); }));
    EXPECT_EQ("L: ERROR: " + std::string(255, 'y'),
              captureCall([&] { log.errorf("%s%s", std::string(200, 'y').c_str(), std::string(200, 'y').c_str()); }));
}

TEST(LoggerDebug, FilterCases) {
    CLogH log = bareLogger("CTraCommonH");
    const auto debugLine = [&] { return captureCall([&] { log.debug("d", true); }); };
    EXPECT_FALSE(log.isDebugActive());
    EXPECT_EQ("", debugLine());  // defaults: level 0
    log.debugLevel = 3;
    log.debugThreshold = 1;
    log.setOwnerId(7);
    EXPECT_EQ("CTraCommonH: DEBUG: d\n", debugLine());  // threshold not above the level
    log.debugThreshold = 3;
    EXPECT_EQ("CTraCommonH: DEBUG: d\n", debugLine());
    log.debugThreshold = 10;
    EXPECT_EQ("", debugLine());  // only its own owner id now
    log.setOwnerId(3);
    EXPECT_EQ("CTraCommonH: DEBUG: d\n", debugLine());
    log.debugLevel = 0;
    log.debugThreshold = 0;
    log.setOwnerId(0);
    EXPECT_EQ("", debugLine());  // level 0 is off, whatever else matches
}

TEST(LoggerOutput, StreamFormWithoutLineEndLeavesTheLineToTheCaller) {
    CLogH log = bareLogger("CBase");
    EXPECT_EQ("CBase: INFO: DEVICE NAME           : ",
              captureCall([&] { log.info("DEVICE NAME           : ", false); }));
    EXPECT_EQ("CBase: DEBUG: \n", captureCall([&] {
                  log.debugLevel = 1;
                  log.debug(nullptr, true);
              }));
}
