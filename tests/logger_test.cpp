#include "framework/logger.h"

#include <gtest/gtest.h>

#include <string>

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
