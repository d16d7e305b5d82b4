#include "host/host_config.h"

#include <cstddef>

#include "host/storage_layout.h"
#include "platform/path.h"

namespace hostconfig {

namespace {

bool isBlank(char c) noexcept { return c == ' ' || c == '\t'; }

// Reads one double-quoted word starting at text[pos] == '"'.
bool readQuotedWord(std::string_view text, size_t& pos, std::string& word, std::string& error) {
    size_t close = text.find('"', pos + 1);
    if (close == std::string_view::npos) {
        error = "missing closing double quote";
        return false;
    }
    word.assign(text.substr(pos + 1, close - pos - 1));
    pos = close + 1;
    if (pos < text.size() && !isBlank(text[pos]) && text[pos] != '#') {
        error = "a closing double quote must end the word";
        return false;
    }
    return true;
}

// Reads one plain word; a '"' inside it is refused rather than guessed at.
bool readPlainWord(std::string_view text, size_t& pos, std::string& word, std::string& error) {
    size_t start = pos;
    while (pos < text.size() && !isBlank(text[pos]) && text[pos] != '#') {
        if (text[pos] == '"') {
            error = "a double quote may only start a word";
            return false;
        }
        ++pos;
    }
    word.assign(text.substr(start, pos - start));
    return true;
}

std::string resolveLibrary(std::string_view library, std::string_view folder) {
    if (platform::isAbsolutePath(library)) {
        return std::string(library);
    }
    // Always a path with a slash: a bare name would make the loader search
    // the system's library folders instead.
    std::string path = folder.empty() ? std::string(".") : std::string(folder);
    if (!platform::isPathSeparator(path.back())) {
        path += '/';
    }
    path += library;
    return path;
}

class ConfigReader {
public:
    ConfigReader(std::string_view folder, ParseResult& result) : folder_(folder), result_(result) {}

    void readLine(int lineNumber, std::string_view text) {
        if (text.find('\0') != std::string_view::npos) {
            fail(lineNumber, "the line holds a NUL character");
            return;
        }
        std::vector<std::string> words;
        std::string error;
        if (!splitWords(text, words, error)) {
            fail(lineNumber, error);
            return;
        }
        if (words.empty()) {
            return;
        }
        using Reader = void (ConfigReader::*)(int, const std::vector<std::string>&);
        struct Directive {
            const char* name;
            Reader read;
        };
        // Any other word is a keyword of the current device.
        static constexpr Directive kDirectives[] = {
            {"storage", &ConfigReader::readStorage},
            {"device", &ConfigReader::readDevice},
        };
        for (const Directive& directive : kDirectives) {
            if (words[0] == directive.name) {
                (this->*directive.read)(lineNumber, words);
                return;
            }
        }
        if (current_ == nullptr) {
            if (ignoreSection_) {
                return;  // the lines of a refused "device" line: reported once there
            }
            fail(lineNumber, "unknown directive \"" + words[0] +
                                 "\" (only \"storage\" and \"device\" may come before the first device)");
        } else {
            readDeviceLine(lineNumber, words);
        }
    }

    void finish() {
        if (result_.config.devices.empty() && result_.errors.empty()) {
            fail(0, "no device configured (add a line \"device NAME LIBRARY\")");
        }
    }

private:
    void fail(int lineNumber, std::string message) { result_.errors.push_back({lineNumber, std::move(message)}); }

    void readStorage(int lineNumber, const std::vector<std::string>& words) {
        HostConfig& config = result_.config;
        if (words.size() != 2) {
            fail(lineNumber, "\"storage\" takes exactly one name");
        } else if (!config.devices.empty() || sawDevice_) {
            fail(lineNumber, "\"storage\" must come before the first device");
        } else if (config.storageLine != 0) {
            fail(lineNumber, "\"storage\" given twice (first on line " + std::to_string(config.storageLine) + ")");
        } else if (!storage::isValidName(words[1].c_str())) {
            fail(lineNumber, "invalid storage name \"" + words[1] + "\" (" + storage::kNameRule + ")");
        } else {
            config.storage = words[1];
            config.storageLine = lineNumber;
        }
    }

    void readDevice(int lineNumber, const std::vector<std::string>& words) {
        sawDevice_ = true;
        current_ = nullptr;  // lines up to the next good "device" belong to no device
        if (words.size() != 3 || words[1].empty() || words[2].empty()) {
            fail(lineNumber, "\"device\" takes a name and a library");
            ignoreSection_ = true;
            return;
        }
        for (const DeviceSection& other : result_.config.devices) {
            if (other.name == words[1]) {
                fail(lineNumber,
                     "device name \"" + words[1] + "\" already used on line " + std::to_string(other.lineNumber));
                ignoreSection_ = true;
                return;
            }
        }
        DeviceSection section;
        section.lineNumber = lineNumber;
        section.name = words[1];
        section.library = words[2];
        section.libraryPath = resolveLibrary(words[2], folder_);
        result_.config.devices.push_back(std::move(section));
        current_ = &result_.config.devices.back();
        ignoreSection_ = false;
        tooLongReported_ = false;
    }

    void readDeviceLine(int lineNumber, std::vector<std::string>& words) {
        if (words.size() - 1 > static_cast<size_t>(ConfigLine::kMaxArgs)) {
            fail(lineNumber, "more than " + std::to_string(ConfigLine::kMaxArgs) + " arguments on one line");
            return;
        }
        if (current_->lines.size() == static_cast<size_t>(DeviceConfig::kMaxLines)) {
            if (tooLongReported_) {
                return;  // said once per device
            }
            tooLongReported_ = true;
            fail(lineNumber, "device \"" + current_->name + "\" has more than " +
                                 std::to_string(DeviceConfig::kMaxLines) + " configuration lines");
            return;
        }
        DeviceLine line;
        line.lineNumber = lineNumber;
        line.keyword = std::move(words[0]);
        line.args.assign(std::make_move_iterator(words.begin() + 1), std::make_move_iterator(words.end()));
        current_->lines.push_back(std::move(line));
    }

    std::string_view folder_;
    ParseResult& result_;
    DeviceSection* current_ = nullptr;
    bool sawDevice_ = false;
    bool ignoreSection_ = false;
    bool tooLongReported_ = false;
};

}  // namespace

bool splitWords(std::string_view line, std::vector<std::string>& words, std::string& error) {
    words.clear();
    size_t pos = 0;
    while (pos < line.size()) {
        if (isBlank(line[pos])) {
            ++pos;
            continue;
        }
        if (line[pos] == '#') {
            break;
        }
        std::string word;
        bool ok = line[pos] == '"' ? readQuotedWord(line, pos, word, error) : readPlainWord(line, pos, word, error);
        if (!ok) {
            words.clear();
            return false;
        }
        words.push_back(std::move(word));
    }
    return true;
}

ParseResult parseHostConfig(std::string_view text, std::string_view folder) {
    ParseResult result;
    ConfigReader reader(folder, result);
    int lineNumber = 0;
    // A UTF-8 byte order mark (editors on Windows write one) is no word.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    size_t start = text.substr(0, kByteOrderMark.size()) == kByteOrderMark ? kByteOrderMark.size() : 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        reader.readLine(++lineNumber, line);
        start = end + 1;
    }
    reader.finish();
    return result;
}

}  // namespace hostconfig
