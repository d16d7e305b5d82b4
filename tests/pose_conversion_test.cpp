#include "device/pose_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using pose_conversion::convertPose;
using pose_conversion::eulerFromMatrix;
using pose_conversion::feetFromMillimetres;

namespace {

struct Angles {
    float azimuth, elevation, roll;
};

Angles anglesOf(const double rot[9]) {
    Angles a{};
    eulerFromMatrix(rot, a.azimuth, a.elevation, a.roll);
    return a;
}

// R = Ry(a) * Rx(e) * Rz(r), written column by column (rot[3c + r]).
void matrixFromAngles(double azimuthDeg, double elevationDeg, double rollDeg, double rot[9]) {
    const double k = 3.14159265358979323846 / 180.0;
    const double ca = std::cos(azimuthDeg * k), sa = std::sin(azimuthDeg * k);
    const double ce = std::cos(elevationDeg * k), se = std::sin(elevationDeg * k);
    const double cr = std::cos(rollDeg * k), sr = std::sin(rollDeg * k);
    const double r[3][3] = {
        {ca * cr + sa * se * sr, sa * se * cr - ca * sr, sa * ce},
        {ce * sr, ce * cr, -se},
        {ca * se * sr - sa * cr, sa * sr + ca * se * cr, ca * ce},
    };
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) rot[3 * col + row] = r[row][col];
    }
}

}  // namespace

// Exact results: the identity, the near-zero branch at both poles (azimuth
// and roll 0, -0 compares equal), a band edge that is not near zero, and a
// hair past 1 clamped instead of NaN.
TEST(PoseConversion, ExactMatrices) {
    const double eps = pose_conversion::kZeroBand;
    const struct {
        double rot[9];
        Angles expected;
    } cases[] = {
        {{1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}},
        {{1, 0, 0, 0, 0, 1, 0, -1, 0}, {0, 90, 0}},   // looking straight up
        {{1, 0, 0, 0, 0, -1, 0, 1, 0}, {0, -90, 0}},  // and down
        {{1, eps, 0, 0, 0, 1, eps, -1, eps}, {45, 90, 90}},  // exactly epsilon: the general branch
        {{1, 0, 0, 0, 0, -1, 0, 1.000001, 0}, {0, -90, 0}},  // six printed decimals past 1
    };
    for (const auto& c : cases) {
        const Angles a = anglesOf(c.rot);
        EXPECT_FLOAT_EQ(c.expected.azimuth, a.azimuth) << c.rot[7];
        EXPECT_FLOAT_EQ(c.expected.elevation, a.elevation) << c.rot[7];
        EXPECT_FLOAT_EQ(c.expected.roll, a.roll) << c.rot[7];
    }
    EXPECT_EQ(0.0f, anglesOf(cases[0].rot).elevation);
    const double bad[9] = {1, 0, 0, 0, 1, 0, 0, std::nan(""), 1};
    EXPECT_TRUE(std::isnan(anglesOf(bad).elevation));

    // At the pole a turn about y shows up as azimuth, never as roll.
    double turned[9];
    matrixFromAngles(30.0, 90.0, 0.0, turned);
    turned[6] = turned[8] = 0.0;  // exact zeros, as the frame would carry them
    const Angles a = anglesOf(turned);
    EXPECT_NEAR(30.0f, a.azimuth, 1e-4);
    EXPECT_EQ(0.0f, a.roll);
}

TEST(PoseConversion, MillimetresToFeet) {
    EXPECT_EQ(1.0f, feetFromMillimetres(304.8));
    EXPECT_EQ(-1.0f, feetFromMillimetres(-304.8));
    EXPECT_EQ(0.0f, feetFromMillimetres(0.0));
    EXPECT_EQ(10.0f, feetFromMillimetres(3048.0));
    // Narrowed to float before dividing: the factor is the float nearest 304.8.
    EXPECT_EQ(static_cast<float>(1234.5678) / 304.79998779296875f, feetFromMillimetres(1234.5678));

    const double loc[3] = {304.8, -609.6, 914.4};
    const double rot[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    float position[3], orientation[3];
    convertPose(loc, rot, position, orientation);
    EXPECT_EQ(1.0f, position[0]);
    EXPECT_EQ(-2.0f, position[1]);
    EXPECT_FLOAT_EQ(3.0f, position[2]);
    EXPECT_EQ(0.0f, orientation[0]);
}

// Known angles, then random rotations away from the poles: the matrix
// rebuilt from the output matches the input within single precision.
TEST(PoseConversion, RoundTripOverKnownAndRandomRotations) {
    for (const Angles& known : {Angles{90, 0, 0}, Angles{-120, 30, 45}}) {
        double rot[9];
        matrixFromAngles(known.azimuth, known.elevation, known.roll, rot);
        const Angles a = anglesOf(rot);
        EXPECT_NEAR(known.azimuth, a.azimuth, 1e-4);
        EXPECT_NEAR(known.elevation, a.elevation, 1e-4);
        EXPECT_NEAR(known.roll, a.roll, 1e-4);
    }
    std::mt19937 random(20261206);
    std::uniform_real_distribution<double> turn(-179.9, 179.9);
    std::uniform_real_distribution<double> tilt(-85.0, 85.0);
    for (int i = 0; i < 2000; ++i) {
        double rot[9];
        matrixFromAngles(turn(random), tilt(random), turn(random), rot);
        const Angles a = anglesOf(rot);
        double rebuilt[9];
        matrixFromAngles(a.azimuth, a.elevation, a.roll, rebuilt);
        for (int k = 0; k < 9; ++k) {
            ASSERT_NEAR(rot[k], rebuilt[k], 2e-6) << "sample " << i << " element " << k;
        }
    }
}
