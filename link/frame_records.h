#pragma once
// The records that a measurement frame fills. Positions are millimetres
// (x, y, z); rotations are the nine numbers in the order they stand on the
// line. A quality of -1 means "not seen in this frame".
#include <cstdint>

inline constexpr int kMaxRecordButtons = 16;
inline constexpr int kMaxRecordJoystick = 8;
inline constexpr int kMaxHandFingers = 5;
inline constexpr int kMaxModelJoints = 200;

// Standard body ("6d").
struct BodyRecord {
    int32_t id;
    double quality;
    double loc[3];
    double rot[9];
};

// Hand-held Gripwand ("6df", "6df2").
struct GripwandRecord {
    int32_t id;
    double quality;
    int32_t buttonCount;
    int32_t buttons[kMaxRecordButtons];  // each 0 or 1
    int32_t joystickCount;
    double joystick[kMaxRecordJoystick];
    double loc[3];
    double rot[9];
};

// Measurement tool ("6dmt", "6dmt2").
struct MeasurementToolRecord {
    int32_t id;
    double quality;
    int32_t buttonCount;
    int32_t buttons[kMaxRecordButtons];
    double loc[3];
    double rot[9];
    double tipRadius;
    double covariance[6];
};

// Measurement-tool reference ("6dmtr").
struct MeasurementRefRecord {
    int32_t id;
    double quality;
    double loc[3];
    double rot[9];
};

struct FingerRecord {
    double loc[3];
    double rot[9];
    double tipRadius;
    double phalanxLength[3];  // outer, middle, inner
    double phalanxAngle[2];   // outer to middle, middle to inner
};

// Hand ("gl").
struct HandRecord {
    int32_t id;
    double quality;
    int32_t side;         // as sent
    int32_t fingerCount;  // 0 to kMaxHandFingers
    double loc[3];
    double rot[9];
    FingerRecord fingers[kMaxHandFingers];
};

struct JointRecord {
    int32_t id;
    double quality;
    double loc[3];
    double angles[3];
    double rot[9];
};

// Joint model ("6dj").
struct JointModelRecord {
    int32_t id;
    int32_t jointCount;  // 0 to kMaxModelJoints
    JointRecord joints[kMaxModelJoints];
};

// Inertial body ("6di"); state 0 means not tracked.
struct InertialRecord {
    int32_t id;
    int32_t state;
    double error;
    double loc[3];
    double rot[9];
};

// Single marker ("3d").
struct MarkerRecord {
    int32_t id;
    double quality;
    double loc[3];
};
