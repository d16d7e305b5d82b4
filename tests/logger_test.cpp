#include "framework/logger.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "platform/thread.h"
#include "shared_storage_fixture.h"
#include "stdout_capture.h"

using test_support::capturedStdout;
using test_support::quietLogger;

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

// "Dec 05 12:53:00 " in the C locale, then the name, "[thread id]: " or ": ".
TEST(LoggerHead, EachFlagOnItsOwnAndAllTogether) {
    const std::string thread = "\\[" + std::to_string(platform::currentThreadId()) + "\\]: ";
    const std::string date = "[A-Z][a-z]{2} [0-9]{2} ";
    const std::string time = "[0-9]{2}:[0-9]{2}:[0-9]{2} ";
    const struct {
        uint8_t showDate, showTime, showThreadId;
        std::string head;
    } cases[] = {
        {0, 0, 0, "CBase: "}, {1, 0, 0, date + "CBase: "}, {0, 1, 0, time + "CBase: "},
        {0, 0, 1, "CBase" + thread}, {1, 1, 1, date + time + "CBase" + thread},
    };
    for (const auto& c : cases) {
        CLogH log;
        log.setName("CBase");
        log.showDate = c.showDate;
        log.showTime = c.showTime;
        log.showThreadId = c.showThreadId;
        const std::string line = capturedStdout([&] { log.error("boom", true); });
        EXPECT_TRUE(std::regex_match(line, std::regex("^" + c.head + "ERROR: boom\n$"))) << line;
    }
}

TEST(LoggerHead, NameIsCutAtNinetyNineCharacters) {
    CLogH log = quietLogger("x");
    log.setName(std::string(150, 'n').c_str());
    EXPECT_EQ(std::string(99, 'n'), log.name);
    EXPECT_EQ(std::string(99, 'n') + ": INFO: hi\n", capturedStdout([&] { log.info("hi", true); }));
    // A host's logger may fill a field without a terminator: never read past it.
    std::memset(log.name, 'h', sizeof log.name);
    std::memset(log.labels[CLogH::kInfo], 'L', sizeof log.labels[CLogH::kInfo]);
    EXPECT_EQ(std::string(100, 'h') + ": " + std::string(100, 'L') + ": hi\n",
              capturedStdout([&] { log.info("hi", true); }));
}

TEST(LoggerOutput, DisabledLoggerWritesNothing) {
    CLogH log;
    log.enabled = 0;
    log.debugLevel = 5;
    EXPECT_EQ("", capturedStdout([&] {
                  log.info("a", true);
                  log.error("b", true);
                  log.debug("c", true);
                  log.infof("%s\n", "d");
                  log.errorf("%s\n", "e");
              }));
}

TEST(LoggerOutput, LineEndsBelongToTheCaller) {
    CLogH log = quietLogger("zelostrel");
    EXPECT_EQ("zelostrel: ERROR: zelostrel: UDP Receive Error.\nzelostrel: INFO: port 5000",
              capturedStdout([&] {
                  log.errorf("zelostrel: UDP Receive Error.\n");
                  log.infof("port %d", 5000);
              }));
    // The open line is continued by the next head.
    EXPECT_EQ("zelostrel: INFO: azelostrel: INFO: b\n", capturedStdout([&] {
                  log.infof("a");
                  log.info("b", true);
              }));
    EXPECT_EQ("zelostrel: INFO: DEVICE NAME           : ",
              capturedStdout([&] { log.info("DEVICE NAME           : ", false); }));
    log.debugLevel = 1;
    EXPECT_EQ("zelostrel: DEBUG: \n", capturedStdout([&] { log.debug(nullptr, true); }));
}

TEST(LoggerOutput, OverLongFormattedTextIsCutAt255) {
    CLogH log = quietLogger("L");
    const std::string longText(1000, 'z');
    const std::string half(200, 'y');
    EXPECT_EQ("L: INFO: " + std::string(255, 'z'), capturedStdout([&] { log.infof("%s", longText.c_str()); }));
    EXPECT_EQ("L: ERROR: " + std::string(255, 'y'),
              capturedStdout([&] { log.errorf("%s%s", half.c_str(), half.c_str()); }));
}

TEST(LoggerDebug, FilterCases) {
    const struct {
        int32_t level, threshold, owner;
        bool writes;
    } cases[] = {
        {0, 1, 0, false},   // the defaults: level 0 is off
        {3, 1, 7, true},    // threshold not above the level
        {3, 3, 7, true},
        {3, 10, 7, false},  // only its own owner id now
        {3, 10, 3, true},
        {0, 0, 0, false},   // level 0 is off, whatever else matches
    };
    for (const auto& c : cases) {
        CLogH log = quietLogger("CTraCommonH");
        log.debugLevel = c.level;
        log.debugThreshold = c.threshold;
        log.setOwnerId(c.owner);
        EXPECT_EQ(c.writes, log.isDebugActive());
        EXPECT_EQ(c.writes ? "CTraCommonH: DEBUG: d\n" : "", capturedStdout([&] { log.debug("d", true); }))
            << c.level << " " << c.threshold << " " << c.owner;
    }
}
