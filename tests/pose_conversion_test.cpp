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
        for (int col = 0; col < 3; ++col) {
            rot[3 * col + row] = r[row][col];
        }
    }
}

}  // namespace

TEST(PoseConversion, IdentityGivesZeroAngles) {
    const double rot[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const Angles a = anglesOf(rot);
    EXPECT_EQ(0.0f, a.azimuth);
    EXPECT_EQ(0.0f, a.elevation);
    EXPECT_EQ(0.0f, a.roll);
}

TEST(PoseConversion, NearZeroBranchAtThePoles) {
    // y column and x/z of the third column are zero: looking straight up.
    const double up[9] = {1, 0, 0, 0, 0, 1, 0, -1, 0};
    Angles a = anglesOf(up);
    EXPECT_FLOAT_EQ(90.0f, a.elevation);
    EXPECT_EQ(0.0f, a.azimuth);  // -0 compares equal
    EXPECT_EQ(0.0f, a.roll);

    const double down[9] = {1, 0, 0, 0, 0, -1, 0, 1, 0};
    a = anglesOf(down);
    EXPECT_FLOAT_EQ(-90.0f, a.elevation);
    EXPECT_EQ(0.0f, a.roll);

    // At the pole a turn about y shows up as azimuth, never as roll.
    double turned[9];
    matrixFromAngles(30.0, 90.0, 0.0, turned);
    turned[6] = turned[8] = 0.0;  // exact zeros, as the frame would carry them
    a = anglesOf(turned);
    EXPECT_NEAR(30.0f, a.azimuth, 1e-4);
    EXPECT_EQ(0.0f, a.roll);
}

TEST(PoseConversion, ZeroBandIsStrict) {
    // Exactly epsilon is not "near zero": the general branch is taken.
    const double eps = pose_conversion::kZeroBand;
    const double rot[9] = {1, eps, 0, 0, 0, 1, eps, -1, eps};
    const Angles a = anglesOf(rot);
    EXPECT_FLOAT_EQ(45.0f, a.azimuth);  // atan2(eps, eps)
    EXPECT_FLOAT_EQ(90.0f, a.roll);     // atan2(eps, 0)
}

TEST(PoseConversion, ElevationSlightlyBeyondOneIsClampedNotNaN) {
    // Six printed decimals can put rot[7] a hair past 1.
    const double rot[9] = {1, 0, 0, 0, 0, -1, 0, 1.000001, 0};
    const Angles a = anglesOf(rot);
    EXPECT_FLOAT_EQ(-90.0f, a.elevation);
    const double nan = std::nan("");
    const double bad[9] = {1, 0, 0, 0, 1, 0, 0, nan, 1};
    EXPECT_TRUE(std::isnan(anglesOf(bad).elevation));
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

TEST(PoseConversion, RoundTripOverRandomRotationsAwayFromThePoles) {
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

TEST(PoseConversion, KnownAngles) {
    double rot[9];
    matrixFromAngles(90.0, 0.0, 0.0, rot);
    Angles a = anglesOf(rot);
    EXPECT_NEAR(90.0f, a.azimuth, 1e-4);
    EXPECT_NEAR(0.0f, a.elevation, 1e-4);
    EXPECT_NEAR(0.0f, a.roll, 1e-4);

    matrixFromAngles(-120.0, 30.0, 45.0, rot);
    a = anglesOf(rot);
    EXPECT_NEAR(-120.0f, a.azimuth, 1e-4);
    EXPECT_NEAR(30.0f, a.elevation, 1e-4);
    EXPECT_NEAR(45.0f, a.roll, 1e-4);
}
