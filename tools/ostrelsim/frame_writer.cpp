#include "tools/ostrelsim/frame_writer.h"

#include <charconv>

namespace ostrelsim {

namespace {

constexpr int kLocDecimals = 3;
constexpr int kRotDecimals = 6;
constexpr int kQualityDecimals = 3;

// Number of integers in a button group: one word per started block of 32.
int buttonWords(int buttonCount) noexcept { return (buttonCount + 31) / 32; }

uint32_t maskedButtons(uint32_t buttons, int count) noexcept {
    return count >= 32 ? buttons : buttons & ((1u << count) - 1u);
}

}  // namespace

uint32_t olderWandButtonWord(uint32_t buttons, const double joystick[2]) noexcept {
    uint32_t word = buttons & 0x0Fu;
    if (joystick[0] < -0.5) word |= 0x20u;
    if (joystick[0] > 0.5) word |= 0x80u;
    if (joystick[1] < -0.5) word |= 0x10u;
    if (joystick[1] > 0.5) word |= 0x40u;
    return word;
}

FrameWriter::FrameWriter(size_t expectedSize) { text_.reserve(expectedSize); }

void FrameWriter::tag(const char* name) { text_ += name; }

void FrameWriter::integer(long long value) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    text_.append(digits, result.ptr);
}

void FrameWriter::field(long long value) {
    text_ += ' ';
    integer(value);
}

void FrameWriter::separate() {
    if (text_.back() != '[') {
        text_ += ' ';
    }
}

void FrameWriter::number(long long value) {
    separate();
    integer(value);
}

void FrameWriter::number(double value, int decimals) {
    separate();
    char digits[64];
    auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) {
        text_ += '0';  // cannot happen for the magnitudes the simulator makes
        return;
    }
    const char* start = digits;
    // A tiny negative value rounds to "-0.000"; the tracking system writes 0.
    if (digits[0] == '-' &&
        std::string_view(digits + 1, result.ptr - digits - 1).find_first_not_of("0.") == std::string_view::npos) {
        ++start;
    }
    text_.append(start, static_cast<size_t>(result.ptr - start));
}

void FrameWriter::pose(const Pose& value) {
    open();
    for (double coordinate : value.loc) number(coordinate, kLocDecimals);
    close();
    open();
    for (double element : value.rot) number(element, kRotDecimals);
    close();
}

void FrameWriter::frameCounter(uint32_t frame) {
    tag("fr");
    field(frame);
    endLine();
}

void FrameWriter::timestamp(double seconds) {
    tag("ts ");
    char digits[64];
    auto result = std::to_chars(digits, digits + sizeof digits, seconds, std::chars_format::fixed, 6);
    text_.append(digits, result.ec == std::errc() ? result.ptr : digits);
    endLine();
}

void FrameWriter::calibratedBodies(int count) {
    tag("6dcal");
    field(count);
    endLine();
}

void FrameWriter::beginBodies(int count) {
    tag("6d");
    field(count);
}

void FrameWriter::entryHead(int id, double quality) {
    text_ += " [";
    number(id);
    number(quality, kQualityDecimals);
}

void FrameWriter::buttonGroup(uint32_t buttons, int buttonCount) {
    open();
    for (int word = 0; word < buttonWords(buttonCount); ++word) {
        number(static_cast<long long>(word == 0 ? maskedButtons(buttons, buttonCount) : 0u));
    }
}

void FrameWriter::body(const BodyEntry& entry) {
    entryHead(entry.id, entry.quality);
    close();
    pose(entry.pose);
}

void FrameWriter::beginOlderWands(int count) {
    tag("6df");
    field(count);
}

void FrameWriter::olderWand(const WandEntry& entry) {
    entryHead(entry.id, entry.quality);
    number(static_cast<long long>(olderWandButtonWord(entry.buttons, entry.joystick)));
    close();
    pose(entry.pose);
}

void FrameWriter::beginWands(int defined, int count) {
    tag("6df2");
    field(defined);
    field(count);
}

void FrameWriter::wand(const WandEntry& entry) {
    entryHead(entry.id, entry.quality);
    number(entry.buttonCount);
    number(2);
    close();
    pose(entry.pose);
    buttonGroup(entry.buttons, entry.buttonCount);
    number(entry.joystick[0], kQualityDecimals);
    number(entry.joystick[1], kQualityDecimals);
    close();
}

void FrameWriter::beginOlderTools(int count) {
    tag("6dmt");
    field(count);
}

void FrameWriter::olderTool(const ToolEntry& entry) {
    entryHead(entry.id, entry.quality);
    number(static_cast<long long>(entry.buttons & 0x0Fu));
    close();
    pose(entry.pose);
}

void FrameWriter::beginTools(int defined, int count) {
    tag("6dmt2");
    field(defined);
    field(count);
}

void FrameWriter::tool(const ToolEntry& entry) {
    entryHead(entry.id, entry.quality);
    number(entry.buttonCount);
    number(entry.tipRadius, kLocDecimals);
    close();
    pose(entry.pose);
    buttonGroup(entry.buttons, entry.buttonCount);
    close();
    // Covariance of the tip: a steady, small uncertainty (mm squared).
    open();
    const double covariance[6] = {0.01, 0.01, 0.01, 0.0, 0.0, 0.0};
    for (double value : covariance) number(value, kRotDecimals);
    close();
}

void FrameWriter::beginInertial(int count) {
    tag("6di");
    field(count);
}

void FrameWriter::inertial(const InertialEntry& entry) {
    text_ += ' ';
    open();
    number(entry.id);
    number(entry.state);
    number(entry.error, kQualityDecimals);
    close();
    pose(entry.pose);
}

void FrameWriter::beginMarkers(int count) {
    tag("3d");
    field(count);
}

void FrameWriter::marker(const MarkerEntry& entry) {
    entryHead(entry.id, entry.quality);
    close();
    open();
    for (double coordinate : entry.loc) number(coordinate, kLocDecimals);
    close();
}

void FrameWriter::endLine() { text_ += '\n'; }

}  // namespace ostrelsim
