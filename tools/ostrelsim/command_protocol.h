#pragma once
// The controller's command language: NUL-terminated texts in, NUL-terminated
// answers out. Pure functions, so the rules are tested without sockets.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace ostrelsim {

enum class Command {
    TrackingStart,   // "ostrel2 tracking start"
    TrackingStop,    // "ostrel2 tracking stop"
    MeasurementOn,   // "ostrel 10 3"
    MeasurementOff,  // "ostrel 10 0" (or "ostrel 10 1": cameras on, no measurement)
    OutputOn,        // "ostrel 31"
    OutputOff,       // "ostrel 32"
    Unknown,
};

// Longest command text; the tracking client never sends longer ones.
constexpr size_t kMaxCommandLength = 200;

// Error numbers of "ostrel2 err" answers.
constexpr int kErrorUnknownCommand = 1;
constexpr int kErrorCommandTooLong = 2;

// Blanks, CR and LF around the text are not part of the command.
Command interpretCommand(std::string_view text) noexcept;

// The answer text without its NUL: "ostrel2 ok", or "ostrel2 err " with the
// number and a quoted message.
std::string answerFor(Command command);
std::string errorAnswer(int number, const char* message);

// Whether frames flow. The older commands switch measurement and output
// separately ("ostrel 10 3" then "ostrel 31" starts, "ostrel 32" then
// "ostrel 10 0" stops); "ostrel2 tracking start" / "stop" switch both.
class TrackingState {
public:
    void apply(Command command) noexcept;
    bool sendingFrames() const noexcept { return measuring_ && output_; }

private:
    bool measuring_ = false;
    bool output_ = false;
};

// Cuts a TCP byte stream into commands at each NUL. CR and LF end a
// command too, so that a person typing into a terminal client is served.
// Empty commands are skipped. A command that grows beyond
// kMaxCommandLength is reported once as too long and its rest discarded.
class CommandSplitter {
public:
    using Sink = std::function<void(std::string_view command, bool tooLong)>;

    void feed(const char* data, size_t length, const Sink& sink);

private:
    std::string pending_;
    bool discarding_ = false;
};

// Printable form of a received text for the log: at most 60 characters,
// anything that is not printable ASCII shown as '?'.
std::string printableCommand(std::string_view text);

}  // namespace ostrelsim
