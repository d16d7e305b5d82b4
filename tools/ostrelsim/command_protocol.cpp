#include "tools/ostrelsim/command_protocol.h"

namespace ostrelsim {

namespace {

bool isTerminator(char c) noexcept { return c == '\0' || c == '\r' || c == '\n'; }

std::string_view trimmed(std::string_view text) noexcept {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

Command interpretCommand(std::string_view text) noexcept {
    std::string_view command = trimmed(text);
    if (command == "ostrel2 tracking start") return Command::TrackingStart;
    if (command == "ostrel2 tracking stop") return Command::TrackingStop;
    if (command == "ostrel 10 3") return Command::MeasurementOn;
    if (command == "ostrel 10 0" || command == "ostrel 10 1") return Command::MeasurementOff;
    if (command == "ostrel 31") return Command::OutputOn;
    if (command == "ostrel 32") return Command::OutputOff;
    return Command::Unknown;
}

std::string errorAnswer(int number, const char* message) {
    return "ostrel2 err " + std::to_string(number) + " \"" + message + "\"";
}

std::string answerFor(Command command) {
    return command == Command::Unknown ? errorAnswer(kErrorUnknownCommand, "unknown command") : "ostrel2 ok";
}

void TrackingState::apply(Command command) noexcept {
    switch (command) {
        case Command::TrackingStart: measuring_ = output_ = true; break;
        case Command::TrackingStop: measuring_ = output_ = false; break;
        case Command::MeasurementOn: measuring_ = true; break;
        case Command::MeasurementOff: measuring_ = output_ = false; break;
        case Command::OutputOn: output_ = true; break;
        case Command::OutputOff: output_ = false; break;
        case Command::Unknown: break;
    }
}

void CommandSplitter::feed(const char* data, size_t length, const Sink& sink) {
    for (size_t i = 0; i < length; ++i) {
        char c = data[i];
        if (isTerminator(c)) {
            if (!discarding_ && !pending_.empty()) {
                sink(pending_, false);
            }
            pending_.clear();
            discarding_ = false;
            continue;
        }
        if (discarding_) {
            continue;
        }
        if (pending_.size() == kMaxCommandLength) {
            sink(pending_, true);
            pending_.clear();
            discarding_ = true;
            continue;
        }
        pending_ += c;
    }
}

std::string printableCommand(std::string_view text) {
    std::string shown;
    for (char c : text.substr(0, 60)) {
        shown += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    if (text.size() > 60) {
        shown += "...";
    }
    return shown;
}

}  // namespace ostrelsim
