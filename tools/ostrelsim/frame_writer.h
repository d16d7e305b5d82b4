#pragma once
// Writes measurement frames as the tracking system sends them: ASCII lines,
// each a tag, its counts and one group sequence per entry, for example
//   6d 1 [0 1.000][100.000 0.000 1500.000][1.000000 0.000000 ...]
// Numbers are formatted with std::to_chars, so the text is the same in every
// locale. The writer keeps one buffer and reuses it frame after frame.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ostrelsim {

// A pose in the tracking system's terms: millimetres, and the rotation
// matrix column by column (element row r, column c at rot[3c + r]).
struct Pose {
    double loc[3];
    double rot[9];
};

struct BodyEntry {
    int id;
    double quality;  // -1: not seen in this frame
    Pose pose;
};

struct WandEntry {
    int id;
    double quality;
    Pose pose;
    uint32_t buttons;  // bit b = button b
    int buttonCount;   // newer line only; at most 16
    double joystick[2];
};

struct ToolEntry {
    int id;
    double quality;
    Pose pose;
    uint32_t buttons;
    int buttonCount;   // newer line only; the older line carries 4
    double tipRadius;  // newer line only
};

struct InertialEntry {
    int id;
    int state;  // 0 after a reset, 1 inertial only, 2 optical and inertial
    double error;
    Pose pose;
};

struct MarkerEntry {
    int id;
    double quality;
    double loc[3];
};

// Button word of the older Gripwand line: buttons 0 to 3 as they are, and
// the joystick folded into bits 4 to 7 (bit 5 left, bit 7 right, bit 4
// down, bit 6 up), set once an axis is pushed past half way.
uint32_t olderWandButtonWord(uint32_t buttons, const double joystick[2]) noexcept;

class FrameWriter {
public:
    explicit FrameWriter(size_t expectedSize = 4096);

    void clear() noexcept { text_.clear(); }
    std::string_view text() const noexcept { return text_; }

    // One-value lines, each ended with its line end.
    void frameCounter(uint32_t frame);
    void timestamp(double seconds);
    void calibratedBodies(int count);

    // Multi-entry lines: begin with the counts, add the entries, endLine.
    void beginBodies(int count);
    void body(const BodyEntry& entry);
    void beginOlderWands(int count);
    void olderWand(const WandEntry& entry);
    void beginWands(int defined, int count);
    void wand(const WandEntry& entry);
    void beginOlderTools(int count);
    void olderTool(const ToolEntry& entry);
    void beginTools(int defined, int count);
    void tool(const ToolEntry& entry);
    void beginInertial(int count);
    void inertial(const InertialEntry& entry);
    void beginMarkers(int count);
    void marker(const MarkerEntry& entry);
    void endLine();

private:
    void tag(const char* name);
    void integer(long long value);
    void field(long long value);   // " value" behind the tag
    void separate();               // a blank unless a group just opened
    void number(long long value);  // inside a group
    void number(double value, int decimals);
    void entryHead(int id, double quality);               // " [id quality", the group left open
    void buttonGroup(uint32_t buttons, int buttonCount);  // "[words", left open
    void pose(const Pose& pose);
    void open() { text_ += '['; }
    void close() { text_ += ']'; }

    std::string text_;
};

}  // namespace ostrelsim
