// CLogH's lines: head, label and message, their ends, and the debug filter.
#include "framework/logger.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "tests/support/host_records.h"
#include "tests/support/output.h"

using test_support::capturedStdout;
using test_support::quietLogger;

TEST(Logger, NamesAreCutAndHostFieldsNeverOverread) {
    CLogH log = quietLogger("x");
    log.setName(std::string(150, 'n').c_str());
    EXPECT_EQ(std::string(99, 'n') + ": INFO: hi\n", capturedStdout([&] { log.info("hi", true); }));
    std::memset(log.name, 'h', sizeof log.name);  // a host's field without a terminator
    std::memset(log.labels[CLogH::kInfo], 'L', sizeof log.labels[CLogH::kInfo]);
    EXPECT_EQ(std::string(100, 'h') + ": " + std::string(100, 'L') + ": hi\n",
              capturedStdout([&] { log.info("hi", true); }));
}

// Printf forms carry their own line end, cut at 255 characters; stream forms add it on request.
TEST(Logger, LineEndsBelongToTheCaller) {
    CLogH log = quietLogger("zelostrel", 1);
    const std::string half(200, 'y');
    EXPECT_EQ(
        "zelostrel: ERROR: UDP Receive Error.\nzelostrel: INFO: port 5000zelostrel: INFO: b\n"
        "zelostrel: INFO: NAME : zelostrel: DEBUG: \nzelostrel: ERROR: " +
            std::string(255, 'y') + "zelostrel: INFO: " + std::string(255, 'z'),
        capturedStdout([&] {
            log.errorf("UDP Receive Error.\n");
            log.infof("port %d", 5000);
            log.info("b", true);
            log.info("NAME : ", false);
            log.debug(nullptr, true);
            log.errorf("%s%s", half.c_str(), half.c_str());
            log.infof("%s", std::string(1000, 'z').c_str());
        }));
    log.enabled = 0;
    log.debugLevel = 5;
    EXPECT_EQ("", capturedStdout([&] {
                  log.info("a", true), log.error("b", true), log.debug("c", true);
                  log.infof("%s\n", "d"), log.errorf("%s\n", "e");
              }));
}

// The head's stamp, local date ("%b %d") and time ("%X"), comes before the name.
TEST(Logger, HeadStampsDateAndTime) {
    CLogH log = quietLogger("x");
    log.showDate = log.showTime = 1;
    const std::string line = capturedStdout([&] { log.info("hi", true); });
    EXPECT_TRUE(
        std::regex_match(line, std::regex("[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} x: INFO: hi\n")))
        << line;
}

TEST(Logger, DebugFilter) {
    const std::tuple<int32_t, int32_t, int32_t, bool> cases[] = {{0, 1, 0, false},  {3, 1, 7, true},  {3, 3, 7, true},
                                                                 {3, 10, 7, false}, {3, 10, 3, true}, {0, 0, 0, false},
                                                                 {3, 4, 7, false}};
    for (const auto& [level, threshold, owner, writes] : cases) {
        CLogH log = quietLogger("T", level);
        log.debugThreshold = threshold;
        log.setOwnerId(owner);
        EXPECT_EQ(writes, log.isDebugActive());
        EXPECT_EQ(writes ? "T: DEBUG: d\n" : "", capturedStdout([&] { log.debug("d", true); }))
            << level << " " << threshold << " " << owner;
    }
}
