#pragma once
// The host's configuration file, read into plain structs.
//
//   # comment (to the end of the line, outside double quotes)
//   storage NAME                 optional, once, before any device
//   device NAME LIBRARY          starts a device section
//   KEYWORD ARG ...              a configuration line of the current device
//
// Words are separated by blanks or tabs; a word in double quotes may hold
// blanks, tabs and '#'. A relative LIBRARY is taken from the folder of the
// configuration file.
#include <string>
#include <string_view>
#include <vector>

#include "framework/host_records.h"

namespace hostconfig {

struct DeviceLine {
    int lineNumber = 0;
    std::string keyword;
    std::vector<std::string> args;
};

struct DeviceSection {
    int lineNumber = 0;  // the "device" line
    std::string name;
    std::string library;      // as written
    std::string libraryPath;  // resolved against the configuration's folder
    std::vector<DeviceLine> lines;
};

struct HostConfig {
    std::string storage = "trackhost";
    int storageLine = 0;  // 0: not given, the default applies
    std::vector<DeviceSection> devices;
};

struct ConfigError {
    int lineNumber;  // 0: about the file as a whole
    std::string message;
};

struct ParseResult {
    HostConfig config;
    std::vector<ConfigError> errors;  // every fault found, in line order; empty when usable
};

// Reads the text of a configuration file. `folder` is the folder the file
// lies in ("" for the current one); it resolves relative library paths.
ParseResult parseHostConfig(std::string_view text, std::string_view folder);

// Splits one line into words. On a fault returns false and sets `error`
// (the line has no number here). A '#' outside quotes ends the line.
bool splitWords(std::string_view line, std::vector<std::string>& words, std::string& error);

}  // namespace hostconfig
