#include "tools/ostrelsim/motion.h"

#include <cmath>

namespace ostrelsim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;

double degrees(double value) noexcept { return value * kPi / 180.0; }

// Angular speed of a motion that repeats every period seconds.
double cycle(double period) noexcept { return kTwoPi / period; }

Pose makePose(double x, double y, double z, double azimuth, double elevation, double roll) noexcept {
    Pose pose{};
    pose.loc[0] = x;
    pose.loc[1] = y;
    pose.loc[2] = z;
    rotationFromAngles(azimuth, elevation, roll, pose.rot);
    return pose;
}

// Slowly around a circle of 600 mm, facing along the way.
Pose circlePath(int round, double phase, double t) noexcept {
    double angle = cycle(8.0) * t + phase;
    double radius = 600.0 + 120.0 * round;
    return makePose(radius * std::cos(angle), 1500.0 + 150.0 * round, radius * std::sin(angle), -angle,
                    degrees(12.0) * std::sin(cycle(3.0) * t), 0.0);
}

// A lying figure eight, nodding and rolling a little.
Pose figureEightPath(int round, double phase, double t) noexcept {
    double angle = cycle(10.0) * t + phase;
    return makePose(700.0 * std::sin(angle) + 200.0 * round, 1200.0 + 80.0 * std::sin(3.0 * angle),
                    350.0 * std::sin(2.0 * angle) - 200.0 * round, degrees(30.0) * std::sin(angle),
                    degrees(15.0) * std::sin(2.0 * angle), degrees(10.0) * std::cos(angle));
}

// Standing in a corner and turning once every 20 s.
Pose slowTurnPath(int round, double phase, double t) noexcept {
    return makePose(-900.0 + 150.0 * round, 1700.0, -600.0 + 150.0 * round, cycle(20.0) * t + phase,
                    degrees(5.0) * std::sin(cycle(7.0) * t), degrees(5.0) * std::sin(cycle(5.0) * t));
}

}  // namespace

void rotationFromAngles(double azimuth, double elevation, double roll, double rot[9]) noexcept {
    double ca = std::cos(azimuth), sa = std::sin(azimuth);
    double ce = std::cos(elevation), se = std::sin(elevation);
    double cr = std::cos(roll), sr = std::sin(roll);
    // Rows of Ry * Rx * Rz, stored column by column.
    double r[3][3] = {
        {ca * cr + sa * se * sr, -ca * sr + sa * se * cr, sa * ce},
        {ce * sr, ce * cr, -se},
        {-sa * cr + ca * se * sr, sa * sr + ca * se * cr, ca * ce},
    };
    for (int column = 0; column < 3; ++column) {
        for (int row = 0; row < 3; ++row) {
            rot[3 * column + row] = r[row][column];
        }
    }
}

Pose bodyPose(int index, double seconds) noexcept {
    int round = index / 3;
    double phase = 1.7 * round;
    switch (index % 3) {
        case 0: return circlePath(round, phase, seconds);
        case 1: return figureEightPath(round, phase, seconds);
        default: return slowTurnPath(round, phase, seconds);
    }
}

Pose wandPose(int index, double seconds) noexcept {
    // Held in front of the user, pointing around.
    double t = seconds + 2.3 * index;
    return makePose(250.0 + 400.0 * index + 150.0 * std::sin(1.3 * t), 1100.0 + 80.0 * std::sin(2.1 * t),
                    -400.0 + 100.0 * std::cos(0.9 * t), degrees(40.0) * std::sin(0.7 * t),
                    degrees(20.0) * std::sin(1.1 * t), degrees(15.0) * std::sin(0.5 * t));
}

Pose toolPose(int index, double seconds) noexcept {
    // Tracing a slow circle on a table, tip down.
    double angle = cycle(15.0) * seconds + 1.1 * index;
    return makePose(-300.0 * index + 250.0 * std::cos(angle), 900.0, 300.0 + 250.0 * std::sin(angle), angle,
                    degrees(-60.0) + degrees(10.0) * std::sin(2.0 * angle), 0.0);
}

Pose inertialPose(int index, double seconds) noexcept {
    // A low circle in the other direction, so inertial bodies differ from
    // the standard ones.
    double angle = -cycle(12.0) * seconds + 0.8 * index;
    double radius = 450.0 + 100.0 * index;
    return makePose(radius * std::cos(angle), 800.0 + 60.0 * index, radius * std::sin(angle), angle + kPi / 2.0,
                    degrees(8.0) * std::sin(cycle(4.0) * seconds), degrees(8.0) * std::cos(cycle(4.0) * seconds));
}

void markerPosition(int index, int count, double seconds, double loc[3]) noexcept {
    // A ring of markers on the floor turning once a minute.
    double angle = kTwoPi * index / (count > 0 ? count : 1) + cycle(60.0) * seconds;
    loc[0] = 1000.0 * std::cos(angle);
    loc[1] = 20.0 + 10.0 * (index % 5);
    loc[2] = 1000.0 * std::sin(angle);
}

double secondsOutOfSight(ObjectKind kind, int index, double seconds) noexcept {
    // A golden-ratio stride spreads the dropouts of one kind's objects over
    // the period (the first several never overlap); kinds are shifted apart.
    double offset = std::fmod(0.618034 * index + 0.25 * static_cast<int>(kind), 1.0) * kDropoutPeriod;
    double within = std::fmod(seconds + offset, kDropoutPeriod);
    return within - (kDropoutPeriod - kDropoutLength);
}

bool droppedOut(ObjectKind kind, int index, double seconds) noexcept {
    return secondsOutOfSight(kind, index, seconds) >= 0.0;
}

uint32_t pressedButtons(int index, int buttonCount, double seconds) noexcept {
    if (buttonCount <= 0) {
        return 0;
    }
    double period = buttonCount + 2.0;
    double within = std::fmod(seconds + 0.5 * index, period);
    int button = static_cast<int>(within);  // within is in [0, period): no overflow
    bool down = within - button < 0.4;
    return (button < buttonCount && button < 32 && down) ? (1u << button) : 0u;
}

void joystickPosition(int index, double seconds, double joystick[2]) noexcept {
    joystick[0] = std::sin(cycle(4.0) * seconds + 0.9 * index);
    joystick[1] = std::cos(cycle(6.0) * seconds + 0.9 * index);
}

}  // namespace ostrelsim
