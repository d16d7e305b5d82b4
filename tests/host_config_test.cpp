// The host's configuration reader, the record it hands a module, and its command line: pure functions.
#include "host/host_config.h"

#include <gtest/gtest.h>

#include <string>

#include "host/device_config_record.h"
#include "host/host_options.h"
#include "tests/host_process_support.h"
#include "tests/support/output.h"

using hostconfig::parseHostConfig;

namespace {

// A parse as text: the storage and its line, each device with its line, name, library as written and as resolved, each
// of its lines as "number keyword|arg|arg"; then every error as "number: message".
std::string described(std::string_view text, std::string_view folder = "", bool errorsOnly = false) {
    hostconfig::ParseResult result = parseHostConfig(text, folder);
    if (errorsOnly) result.config.devices.clear();
    std::string out = errorsOnly ? "" : result.config.storage + "@" + std::to_string(result.config.storageLine) + "\n";
    for (const hostconfig::DeviceSection& device : result.config.devices) {
        out += std::to_string(device.lineNumber) + " " + device.name + " " + device.library + " -> " +
               device.libraryPath + "\n";
        for (const hostconfig::DeviceLine& line : device.lines) {
            out += "  " + std::to_string(line.lineNumber) + " " + line.keyword;
            for (const std::string& arg : line.args) out += "|" + arg;
            out += "\n";
        }
    }
    for (const hostconfig::ConfigError& error : result.errors)
        out += std::to_string(error.lineNumber) + ": " + error.message + "\n";
    return out;
}

std::string deviceWithLines(int count, int arguments = 1) {
    std::string line = "line0", text = "device wall lib.so\n";
    for (int a = 0; a < arguments; ++a) line += " v" + std::to_string(a);
    for (int i = 0; i < count; ++i) text += line + "\n";
    return text;
}

}  // namespace

TEST(HostConfig, SectionsLinesNumbersAndLibraryFolders) {
    EXPECT_EQ(
        "lab_1@2\n"
        "4 wall libs/my module.so -> /etc/track/libs/my module.so\n  5 port|5000\n  6 quoted keyword|a b|c\n"
        "  8 sensoroffset|1|0|0|10|cm\n  9 a||#not a comment|q\n10 floor /opt/floor.so -> /opt/floor.so\n"
        "  11 CAVECoordinates|yes\n",
        described(
            "# lab set-up\nstorage lab_1   # the name readers attach to\n\n"
            "device wall \"libs/my module.so\"\r\n  port 5000\n\t\"quoted keyword\" \"a b\" c#comment\n"
            "   # a comment inside the section\n  sensoroffset 1 0 0 10 cm\n a  \"\" \"#not a comment\"\t\"q\"# \"x\n"
            "device floor /opt/floor.so\n  CAVECoordinates yes\n",
            "/etc/track"));
    // Never a bare library name (the loader would search the system's folders); a byte order mark is not a word's.
    EXPECT_EQ("trackhost@0\n1 a lib.so -> ./lib.so\n2 b ../b.so -> ./../b.so\n",
              described("device a lib.so\ndevice b ../b.so\n"));
    EXPECT_EQ("trackhost@0\n1 a lib.so -> conf/lib.so\n", described("device a lib.so\n", "conf/"));
    EXPECT_EQ("lab@1\n2 a a.so -> ./a.so\n", described("\xEF\xBB\xBFstorage lab\ndevice a a.so\n"));
}

TEST(HostConfig, EveryRefusalNamesItsLineAndAllAreReportedAtOnce) {
    const std::string badName = "invalid storage name \"%\" (use 1 to 200 letters, digits, '.', '_' or '-')\n";
    auto invalid = [&](const std::string& name) { return "1: " + badName.substr(0, 22) + name + badName.substr(23); };
    const std::pair<std::string, std::string> cases[] = {
        {"port 5000\ndevice a a.so\n",
         "1: unknown directive \"port\" (only \"storage\" and \"device\" may come before the first device)\n"},
        {"storage\ndevice a a.so\n", "1: \"storage\" takes exactly one name\n"},
        {"storage one\nstorage two\ndevice a a.so\n", "2: \"storage\" given twice (first on line 1)\n"},
        {"device a a.so\nstorage late\n", "2: \"storage\" must come before the first device\n"},
        {"storage bad/name\ndevice a a.so\n", invalid("bad/name")},
        {"storage \"\"\ndevice a a.so\n", invalid("")},
        {"storage ..\ndevice a a.so\n", invalid("..")},
        {"device a\n", "1: \"device\" takes a name and a library\n"},
        {"device \"\" b.so\n", "1: \"device\" takes a name and a library\n"},
        {"device a a.so\ndevice a b.so\n", "2: device name \"a\" already used on line 1\n"},
        {"device a a.so\nname \"open\n", "2: missing closing double quote\n"},
        {"device a a.so\nname \"ab\"cd\n", "2: a closing double quote must end the word\n"},
        {"device a a.so\nname ab\"cd\"\n", "2: a double quote may only start a word\n"},
        {"", "0: no device configured (add a line \"device NAME LIBRARY\")\n"},
        {std::string("device a a.so\nport 1\0\n", 22),
         "2: the line holds a NUL character\n"},  // a binary file by mistake
        {"bogus 1\ndevice a a.so\n  port 5000\ndevice b\n  lines of a refused device are not reported again\n"
         "device c c.so\n  x \"unclosed\n",
         "1: unknown directive \"bogus\" (only \"storage\" and \"device\" may come before the first device)\n"
         "4: \"device\" takes a name and a library\n7: missing closing double quote\n"},
        // At most 32 lines a device (said once), 64 arguments a line.
        {deviceWithLines(32) + "device floor f.so\nport 5001\n", ""},
        {deviceWithLines(40), "34: device \"wall\" has more than 32 configuration lines\n"},
        {deviceWithLines(1, 64), ""},
        {deviceWithLines(1, 65), "2: more than 64 arguments on one line\n"},
    };
    for (const auto& [text, errors] : cases) EXPECT_EQ(errors, described(text, "", true)) << text;
}

TEST(DeviceConfigRecord, CarriesNamesLineNumbersAndArgumentsOnItsOwn) {
    auto parsed = parseHostConfig("device first a.so\ndevice wall b.so\n  remote \"ctl host\" 50105\n\n  bare\n" +
                                      deviceWithLines(1, 64).substr(19),
                                  "");
    hostconfig::DeviceConfigRecord holder(parsed.config.devices.at(1), 2);
    parsed = hostconfig::ParseResult{};  // the record must not depend on the parse result
    const DeviceConfig* config = holder.record();
    std::vector<std::string> seen{std::to_string(config->header) + " " + config->name};
    for (uint32_t i = 0; i < config->numLines; ++i) {  // number keyword count first..last used
        const ConfigLine& line = config->lines[i];
        seen.push_back(std::to_string(line.lineNumber) + " " + line.keyword + " " + std::to_string(line.argCount) +
                       " " + line.args[0] + ".." + line.args[line.argCount > 0 ? line.argCount - 1 : 0] + " " +
                       std::to_string(line.used));
        for (int a = line.argCount; a < ConfigLine::kMaxArgs; ++a) EXPECT_STREQ("", line.args[a]) << "never null";
    }
    EXPECT_EQ(
        (std::vector<std::string>{"2 wall", "3 remote 2 ctl host..50105 0", "5 bare 0 .. 0", "6 line0 64 v0..v63 0"}),
        seen);
}

TEST(HostOptions, ReadsEveryOptionInEveryLocaleAndRefusesWhatItCannotUse) {
    const char* argv[] = {"trackhost", "lab.conf",  "--debug", "3",       "--cycles",
                          "250",       "--seconds", "1.5",     "--grace", "0.5"};  // a value last of all
    const test_support::GermanLocale german;  // the host adopts the user's before it reads these
    host::HostOptions options;
    std::string error;
    ASSERT_TRUE(host::parseHostOptions(10, argv, options, error)) << error << (german.installed ? " (in German)" : "");
    EXPECT_EQ("lab.conf", options.configPath);
    EXPECT_EQ((std::vector<double>{3, 250, 1.5, 0.5, 0}),
              (std::vector<double>{double(options.debugLevel), double(options.cycles), options.seconds,
                                   options.graceSeconds, double(options.help)}));
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"trackhost"}, "no configuration file given"},
        {{"trackhost", "--cycles"}, "--cycles needs a value"},
        {{"trackhost", "--cycles", "0", "c"}, "invalid value \"0\" for --cycles"},
        {{"trackhost", "--cycles", "12x", "c"}, "invalid value \"12x\" for --cycles"},
        {{"trackhost", "--seconds", "0,5", "c"}, "invalid value \"0,5\" for --seconds"},
        {{"trackhost", "--seconds", "nan", "c"}, "invalid value \"nan\" for --seconds"},
        {{"trackhost", "--debug", "x", "c"}, "invalid value \"x\" for --debug"},
        {{"trackhost", "--grace", "3601", "c"}, "invalid value \"3601\" for --grace"},
        {{"trackhost", "--verbose", "c"}, "unknown option \"--verbose\""},
        {{"trackhost", "a.conf", "b.conf"}, "only one configuration file, please (got \"a.conf\" and \"b.conf\")"},
    };
    for (const auto& [arguments, message] : cases) {
        EXPECT_FALSE(host::parseHostOptions(static_cast<int>(arguments.size()), arguments.data(), options, error));
        EXPECT_EQ(message, error);
    }
    const char* help[] = {"trackhost", "--help"};
    EXPECT_TRUE(host::parseHostOptions(2, help, options, error) && options.help);
}
