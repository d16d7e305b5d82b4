#pragma once
// What the simulated objects do over time: smooth, distinct paths in
// millimetres (y up), proper rotation matrices, short optical dropouts every
// few seconds, buttons pressed and released in turn and a sweeping joystick.
// Pure functions of the object's index and the time in seconds, so that a
// frame is the same whenever it is written.
#include <cstdint>

#include "tools/ostrelsim/frame_writer.h"

namespace ostrelsim {

// R = Ry(azimuth) * Rx(elevation) * Rz(roll) on column vectors (y up), the
// convention the host reads back; angles in radians, rot column by column.
void rotationFromAngles(double azimuth, double elevation, double roll, double rot[9]) noexcept;

// Standard bodies take turns on three paths: a circle, a figure eight and a
// slow turn on the spot; further bodies repeat them shifted and phased.
Pose bodyPose(int index, double seconds) noexcept;
Pose wandPose(int index, double seconds) noexcept;
Pose toolPose(int index, double seconds) noexcept;
Pose inertialPose(int index, double seconds) noexcept;
void markerPosition(int index, int count, double seconds, double loc[3]) noexcept;

// Which object kind a dropout schedule belongs to, so that no two objects
// drop out at the same moment.
enum class ObjectKind { Body = 0, Wand = 1, Tool = 2, Inertial = 3 };

// Every kDropoutPeriod seconds an object is not seen for kDropoutLength.
constexpr double kDropoutPeriod = 6.0;
constexpr double kDropoutLength = 0.4;
bool droppedOut(ObjectKind kind, int index, double seconds) noexcept;
// How long the object has been out of sight; negative while it is seen.
double secondsOutOfSight(ObjectKind kind, int index, double seconds) noexcept;

// One button at a time is pressed for 0.4 s and released, in turn over the
// buttons, then all rest for 2 s; bit b of the result is button b.
uint32_t pressedButtons(int index, int buttonCount, double seconds) noexcept;

// Both axes sweep from -1 to +1 and back, at different speeds.
void joystickPosition(int index, double seconds, double joystick[2]) noexcept;

}  // namespace ostrelsim
