// The host's configuration reader and command line: pure functions, tested
// without files, modules or shared memory.
#include "host/host_config.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "host/device_config_record.h"
#include "host/host_options.h"
#include "tests/host_process_support.h"

using hostconfig::ConfigError;
using hostconfig::DeviceConfigRecord;
using hostconfig::ParseResult;
using hostconfig::parseHostConfig;

namespace {

std::string errorsOf(const ParseResult& result) {
    std::string text;
    for (const ConfigError& error : result.errors) {
        text += std::to_string(error.lineNumber) + ": " + error.message + "\n";
    }
    return text;
}

std::string deviceWithLines(int count) {
    std::string text = "device wall lib.so\n";
    for (int i = 0; i < count; ++i) {
        text += "line" + std::to_string(i) + " 1\n";
    }
    return text;
}

}  // namespace

TEST(HostConfigWords, BlanksTabsQuotesAndComments) {
    using Words = std::vector<std::string>;
    const std::pair<const char*, Words> lines[] = {
        {"  port\t 5000  ", {"port", "5000"}},
        {"name \"two words\" x", {"name", "two words", "x"}},
        {"a \"\" b", {"a", "", "b"}},
        {"a \"#not a comment\"", {"a", "#not a comment"}},
        {"a b# comment \"unclosed", {"a", "b"}},
        {"\"q\"# comment", {"q"}},
        {"   # only a comment", {}},
        {"", {}},
        // Brackets and signs are plain characters: option lines use them.
        {"valuatorscale 1 [0.5,0,2,-1] all", {"valuatorscale", "1", "[0.5,0,2,-1]", "all"}},
    };
    for (const auto& [line, expected] : lines) {
        Words words{"left over"};
        std::string error;
        EXPECT_TRUE(hostconfig::splitWords(line, words, error)) << error;
        EXPECT_EQ(expected, words) << line;
    }
    const std::pair<const char*, const char*> refused[] = {
        {"name \"open", "missing closing double quote"},
        {"name \"ab\"cd", "a closing double quote must end the word"},
        {"name ab\"cd\"", "a double quote may only start a word"},
    };
    for (const auto& [line, message] : refused) {
        Words words;
        std::string error;
        EXPECT_FALSE(hostconfig::splitWords(line, words, error));
        EXPECT_TRUE(words.empty());
        EXPECT_EQ(message, error);
    }
}

TEST(HostConfig, SectionsLinesAndLineNumbers) {
    const std::string text =
        "# lab set-up\n"
        "storage lab_1   # the name readers attach to\n"
        "\n"
        "device wall \"libs/my module.so\"\r\n"
        "  port 5000\n"
        "\t\"quoted keyword\" \"a b\" c#comment\n"
        "   # a comment inside the section\n"
        "  sensoroffset 1 0 0 10 cm\n"
        "device floor /opt/modules/floor.so\n"
        "  CAVECoordinates yes\n";
    ParseResult result = parseHostConfig(text, "/etc/track");
    ASSERT_TRUE(result.errors.empty()) << errorsOf(result);
    EXPECT_EQ("lab_1", result.config.storage);
    EXPECT_EQ(2, result.config.storageLine);
    ASSERT_EQ(2u, result.config.devices.size());

    const hostconfig::DeviceSection& wall = result.config.devices[0];
    EXPECT_EQ(4, wall.lineNumber);
    EXPECT_EQ("wall", wall.name);
    EXPECT_EQ("libs/my module.so", wall.library);
    EXPECT_EQ("/etc/track/libs/my module.so", wall.libraryPath);
    ASSERT_EQ(3u, wall.lines.size());
    EXPECT_EQ(5, wall.lines[0].lineNumber);
    EXPECT_EQ("port", wall.lines[0].keyword);
    EXPECT_EQ((std::vector<std::string>{"5000"}), wall.lines[0].args);
    EXPECT_EQ(6, wall.lines[1].lineNumber);
    EXPECT_EQ("quoted keyword", wall.lines[1].keyword);
    EXPECT_EQ((std::vector<std::string>{"a b", "c"}), wall.lines[1].args);
    EXPECT_EQ(8, wall.lines[2].lineNumber);
    EXPECT_EQ((std::vector<std::string>{"1", "0", "0", "10", "cm"}), wall.lines[2].args);

    const hostconfig::DeviceSection& floor = result.config.devices[1];
    EXPECT_EQ(9, floor.lineNumber);
    EXPECT_EQ("/opt/modules/floor.so", floor.libraryPath);
    ASSERT_EQ(1u, floor.lines.size());
    EXPECT_EQ(10, floor.lines[0].lineNumber);
}

TEST(HostConfig, DefaultStorageAndLibraryFolders) {
    ParseResult result = parseHostConfig("device a lib.so\ndevice b ../b.so\n", "");
    ASSERT_TRUE(result.errors.empty()) << errorsOf(result);
    EXPECT_EQ("trackhost", result.config.storage);
    EXPECT_EQ(0, result.config.storageLine);
    EXPECT_TRUE(result.config.devices[0].lines.empty()) << "a device section may be empty";
    // Never a bare name: the loader would search the system folders for it.
    EXPECT_EQ("./lib.so", result.config.devices[0].libraryPath);
    EXPECT_EQ("./../b.so", result.config.devices[1].libraryPath);
    EXPECT_EQ("conf/lib.so", parseHostConfig("device a lib.so\n", "conf/").config.devices[0].libraryPath);
    EXPECT_EQ("/lib.so", parseHostConfig("device a lib.so\n", "/").config.devices[0].libraryPath);
}

TEST(HostConfig, AByteOrderMarkIsNotPartOfTheFirstWord) {
    // Editors on Windows start a UTF-8 file with one.
    ParseResult result = parseHostConfig("\xEF\xBB\xBFstorage lab\ndevice a a.so\n", "");
    EXPECT_EQ("", errorsOf(result));
    EXPECT_EQ("lab", result.config.storage);
}

TEST(HostConfig, EveryRefusalNamesItsLine) {
    struct Case {
        const char* text;
        const char* errors;
    };
    const Case cases[] = {
        {"port 5000\ndevice a a.so\n",
         "1: unknown directive \"port\" (only \"storage\" and \"device\" may come before the first device)\n"},
        {"storage\ndevice a a.so\n", "1: \"storage\" takes exactly one name\n"},
        {"storage a b\ndevice a a.so\n", "1: \"storage\" takes exactly one name\n"},
        {"storage one\nstorage two\ndevice a a.so\n", "2: \"storage\" given twice (first on line 1)\n"},
        {"device a a.so\nstorage late\n", "2: \"storage\" must come before the first device\n"},
        {"storage bad/name\ndevice a a.so\n",
         "1: invalid storage name \"bad/name\" (use 1 to 200 letters, digits, '.', '_' or '-')\n"},
        {"storage \"\"\ndevice a a.so\n",
         "1: invalid storage name \"\" (use 1 to 200 letters, digits, '.', '_' or '-')\n"},
        {"storage ..\ndevice a a.so\n",
         "1: invalid storage name \"..\" (use 1 to 200 letters, digits, '.', '_' or '-')\n"},
        {"device a\n", "1: \"device\" takes a name and a library\n"},
        {"device a b.so extra\n", "1: \"device\" takes a name and a library\n"},
        {"device \"\" b.so\n", "1: \"device\" takes a name and a library\n"},
        {"device a a.so\ndevice a b.so\n", "2: device name \"a\" already used on line 1\n"},
        {"device a a.so\nname \"open\n", "2: missing closing double quote\n"},
        {"# nothing\n\n", "0: no device configured (add a line \"device NAME LIBRARY\")\n"},
        {"", "0: no device configured (add a line \"device NAME LIBRARY\")\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.errors, errorsOf(parseHostConfig(c.text, "")));
    }
    // A NUL byte in the file (a binary file given by mistake).
    std::string withNul("device a a.so\nport 1\0\n", 22);
    EXPECT_EQ("2: the line holds a NUL character\n", errorsOf(parseHostConfig(withNul, "")));
}

TEST(HostConfig, AllFaultsAreReportedAtOnce) {
    ParseResult result = parseHostConfig(
        "bogus 1\n"
        "device a a.so\n"
        "  port 5000\n"
        "device b\n"
        "  lines of the refused device are not reported again\n"
        "device c c.so\n"
        "  x \"unclosed\n",
        "");
    EXPECT_EQ(
        "1: unknown directive \"bogus\" (only \"storage\" and \"device\" may come before the first device)\n"
        "4: \"device\" takes a name and a library\n"
        "7: missing closing double quote\n",
        errorsOf(result));
}

TEST(HostConfig, ThirtyTwoLinesPerDeviceAndSixtyFourArgumentsPerLineAtMost) {
    EXPECT_EQ("", errorsOf(parseHostConfig(deviceWithLines(32), "")));
    // Reported once, at the first line too many.
    EXPECT_EQ("34: device \"wall\" has more than 32 configuration lines\n",
              errorsOf(parseHostConfig(deviceWithLines(40), "")));
    // The limit is per device.
    EXPECT_EQ("", errorsOf(parseHostConfig(deviceWithLines(32) + "device floor f.so\nport 5001\n", "")));

    std::string line = "many";
    for (int i = 0; i < 64; ++i) {
        line += " a" + std::to_string(i);
    }
    ParseResult ok = parseHostConfig("device d d.so\n" + line + "\n", "");
    ASSERT_EQ("", errorsOf(ok));
    EXPECT_EQ(64u, ok.config.devices[0].lines[0].args.size());
    EXPECT_EQ("2: more than 64 arguments on one line\n",
              errorsOf(parseHostConfig("device d d.so\n" + line + " one-more\n", "")));
}

TEST(DeviceConfigRecord, CarriesNamesLineNumbersAndArguments) {
    std::string many = "many";
    for (int i = 0; i < 64; ++i) {
        many += " v" + std::to_string(i);
    }
    ParseResult parsed = parseHostConfig(
        "storage s\n"
        "device first a.so\n"
        "device wall b.so\n"
        "  port 5000\n"
        "\n"
        "  remote \"ctl host\" 50105\n"
        "  bare\n" +
            many + "\n",
        "");
    ASSERT_TRUE(parsed.errors.empty()) << errorsOf(parsed);
    DeviceConfigRecord holder(parsed.config.devices[1], 2);
    parsed = ParseResult{};  // the record must not depend on the parse result
    DeviceConfig* config = holder.record();

    EXPECT_EQ(2u, config->header);
    EXPECT_STREQ("wall", config->name);
    ASSERT_EQ(4u, config->numLines);
    EXPECT_EQ(4, config->lines[0].lineNumber);
    EXPECT_STREQ("port", config->lines[0].keyword);
    EXPECT_EQ(1, config->lines[0].argCount);
    EXPECT_STREQ("5000", config->lines[0].args[0]);
    EXPECT_EQ(6, config->lines[1].lineNumber);
    EXPECT_EQ(2, config->lines[1].argCount);
    EXPECT_STREQ("ctl host", config->lines[1].args[0]);
    EXPECT_STREQ("50105", config->lines[1].args[1]);
    EXPECT_EQ(7, config->lines[2].lineNumber);
    EXPECT_EQ(0, config->lines[2].argCount);
    EXPECT_EQ(64, config->lines[3].argCount);
    EXPECT_STREQ("v63", config->lines[3].args[63]);
    for (uint32_t i = 0; i < config->numLines; ++i) {
        EXPECT_EQ(0, config->lines[i].used);
        // Slots past the count hold empty texts, never null.
        for (int a = config->lines[i].argCount; a < ConfigLine::kMaxArgs; ++a) {
            ASSERT_NE(nullptr, config->lines[i].args[a]);
            EXPECT_STREQ("", config->lines[i].args[a]);
        }
    }
}

TEST(HostOptions, ReadsEveryOptionInEveryLocale) {
    // The host adopts the user's locale before it reads its command line.
    ASSERT_TRUE(hosttest::useGermanLocale()) << "a German locale is installed here";
    const char* argv[] = {"trackhost", "--debug", "3", "--cycles", "250", "--seconds", "1.5", "--grace", "0.5", "lab.conf"};
    host::HostOptions options;
    std::string error;
    bool ok = host::parseHostOptions(10, argv, options, error);
    std::setlocale(LC_ALL, "C");
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ("lab.conf", options.configPath);
    EXPECT_EQ(3, options.debugLevel);
    EXPECT_EQ(250u, options.cycles);
    EXPECT_DOUBLE_EQ(1.5, options.seconds);
    EXPECT_DOUBLE_EQ(0.5, options.graceSeconds);
    EXPECT_FALSE(options.help);
}

TEST(HostOptions, RefusesWhatItCannotUse) {
    struct Case {
        std::vector<const char*> argv;
        const char* error;
    };
    const Case cases[] = {
        {{"trackhost"}, "no configuration file given"},
        {{"trackhost", "--cycles"}, "--cycles needs a value"},
        {{"trackhost", "--cycles", "0", "c"}, "invalid value \"0\" for --cycles"},
        {{"trackhost", "--cycles", "-5", "c"}, "invalid value \"-5\" for --cycles"},
        {{"trackhost", "--cycles", "12x", "c"}, "invalid value \"12x\" for --cycles"},
        {{"trackhost", "--seconds", "0,5", "c"}, "invalid value \"0,5\" for --seconds"},
        {{"trackhost", "--seconds", "nan", "c"}, "invalid value \"nan\" for --seconds"},
        {{"trackhost", "--debug", "x", "c"}, "invalid value \"x\" for --debug"},
        {{"trackhost", "--grace", "3601", "c"}, "invalid value \"3601\" for --grace"},
        {{"trackhost", "--verbose", "c"}, "unknown option \"--verbose\""},
        {{"trackhost", "a.conf", "b.conf"}, "only one configuration file, please (got \"a.conf\" and \"b.conf\")"},
    };
    for (const Case& c : cases) {
        host::HostOptions options;
        std::string error;
        EXPECT_FALSE(host::parseHostOptions(static_cast<int>(c.argv.size()), c.argv.data(), options, error));
        EXPECT_EQ(c.error, error);
    }
    const char* help[] = {"trackhost", "--help"};
    host::HostOptions options;
    std::string error;
    EXPECT_TRUE(host::parseHostOptions(2, help, options, error));
    EXPECT_TRUE(options.help);
}
