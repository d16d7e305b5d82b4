#pragma once
// Puts together one whole frame of the simulated scene for a moment in time.
#include <cstdint>

#include "tools/ostrelsim/frame_writer.h"

namespace ostrelsim {

struct SceneCounts {
    int bodies = 0;
    int wands = 0;
    int tools = 0;
    int inertial = 0;
    int markers = 0;
    int format = 2;  // 1: older Gripwand and tool lines, 2: newer ones
};

// Buttons on the wire: the older Gripwand line has 4 real buttons (bits 4
// to 7 carry the joystick), the newer one 8 and two joystick axes; tools
// have 4 buttons in both.
constexpr int kOlderWandButtons = 4;
constexpr int kWandButtons = 8;
constexpr int kToolButtons = 4;
constexpr double kToolTipRadius = 1.5;

// The "6dcal" value: the receiver derives its standard-body count from it by
// subtracting the entries of the older "6df" and "6dmt" lines, so it is the
// standard bodies plus, with the older lines, the Gripwands and tools.
int calibratedBodyCount(const SceneCounts& scene) noexcept;

// Writes the frame: "fr", "ts", "6dcal", then the lines of every object kind
// that the scene has. Bodies that are out of sight are left out of "6d";
// Gripwands and tools out of sight are listed with quality -1 and a zero
// pose (their lines list every entry in order); inertial bodies bridge an
// optical dropout on their own (state 1, growing error).
void composeFrame(const SceneCounts& scene, uint32_t frame, double seconds, FrameWriter& writer);

}  // namespace ostrelsim
