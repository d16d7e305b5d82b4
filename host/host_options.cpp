#include "host/host_options.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace host {

namespace {

template <typename Number>
bool readWhole(std::string_view text, Number& value) {
    const char* end = text.data() + text.size();
    auto [stop, code] = std::from_chars(text.data(), end, value);
    return code == std::errc() && stop == end;
}

bool readSeconds(std::string_view text, double& value, double highest) {
    const char* end = text.data() + text.size();
    auto [stop, code] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    return code == std::errc() && stop == end && std::isfinite(value) && value > 0.0 && value <= highest;
}

}  // namespace

bool parseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error) {
    options = HostOptions{};
    for (int i = 1; i < argc; ++i) {
        std::string_view word = argv[i];
        if (word == "--help" || word == "-h" || word == "--version") {
            (word == "--version" ? options.version : options.help) = true;
            return true;
        }
        if (word == "--check") {
            options.check = true;
            continue;
        }
        bool takesValue = word == "--debug" || word == "--cycles" || word == "--seconds" || word == "--grace";
        if (takesValue) {
            if (i + 1 >= argc) {
                error = std::string(word) + " needs a value";
                return false;
            }
            std::string_view value = argv[++i];
            bool ok = word == "--debug"     ? readWhole(value, options.debugLevel)
                      : word == "--cycles"  ? readWhole(value, options.cycles) && options.cycles > 0
                      : word == "--seconds" ? readSeconds(value, options.seconds, 1.0e9)
                                            : readSeconds(value, options.graceSeconds, kMaxGraceSeconds);
            if (!ok) {
                error = "invalid value \"" + std::string(value) + "\" for " + std::string(word);
                return false;
            }
        } else if (!word.empty() && word[0] == '-') {
            error = "unknown option \"" + std::string(word) + "\"";
            return false;
        } else if (!options.configPath.empty()) {
            error = "only one configuration file, please (got \"" + options.configPath + "\" and \"" +
                    std::string(word) + "\")";
            return false;
        } else {
            options.configPath = std::string(word);
        }
    }
    if (options.configPath.empty()) {
        error = "no configuration file given";
        return false;
    }
    return true;
}

}  // namespace host
