// Millimetres and a rotation matrix into feet and azimuth, elevation, roll.
#include "device/pose_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace pose_conversion;

namespace {

std::vector<float> angles(const double rot[9]) {
    float a = 0, e = 0, r = 0;
    eulerFromMatrix(rot, a, e, r);
    return {a, e, r};
}
// R = Ry(a) Rx(e) Rz(r), column by column (rot[3c + r]).
void matrixFromAngles(double a, double e, double r, double rot[9]) {
    const double radian = std::acos(-1.0) / 180;  // M_PI is not standard C++
    a *= radian, e *= radian, r *= radian;
    const double m[9] = {std::cos(a) * std::cos(r) + std::sin(a) * std::sin(e) * std::sin(r),
                         std::cos(e) * std::sin(r),
                         std::cos(a) * std::sin(e) * std::sin(r) - std::sin(a) * std::cos(r),
                         std::sin(a) * std::sin(e) * std::cos(r) - std::cos(a) * std::sin(r),
                         std::cos(e) * std::cos(r),
                         std::sin(a) * std::sin(r) + std::cos(a) * std::sin(e) * std::cos(r),
                         std::sin(a) * std::cos(e),
                         -std::sin(e),
                         std::cos(a) * std::cos(e)};
    std::copy(m, m + 9, rot);
}

}  // namespace

// The poles take the near-zero branch (azimuth from the first row, roll 0);
// exactly epsilon is not near zero; a hair past 1 is clamped, not NaN.
TEST(PoseConversion, ExactMatrices) {
    const double eps = kZeroBand;
    const struct {
        double rot[9];
        std::vector<float> expected;
    } cases[] = {
        {{1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}},           {{1, 0, 0, 0, 0, 1, 0, -1, 0}, {0, 90, 0}},
        {{1, 0, 0, 0, 0, -1, 0, 1, 0}, {0, -90, 0}},        {{1, eps, 0, 0, 0, 1, eps, -1, eps}, {45, 90, 90}},
        {{1, 0, 0, 0, 0, -1, 0, 1.000001, 0}, {0, -90, 0}}, {{0, 0, -1, 0, 1, 0, 1, 0, 0}, {90.0000153f, 0, 0}}};
    for (const auto& c : cases) {
        const std::vector<float> got = angles(c.rot);
        for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(c.expected[i], got[i]) << c.rot[7] << " " << i;
    }
    double turned[9];
    matrixFromAngles(30.0, 90.0, 0.0, turned);
    turned[6] = turned[8] = 0.0;  // exact zeros, as a frame carries them: a turn at the pole is azimuth
    EXPECT_NEAR(30.0f, angles(turned)[0], 1e-4);
    EXPECT_EQ(0.0f, angles(turned)[2]);
    // Millimetres are narrowed to float, then divided by the float nearest 304.8.
    const double loc[3] = {304.8, -609.6, 1234.5678}, rot[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    float position[3], orientation[3];
    convertPose(loc, rot, position, orientation);
    EXPECT_EQ((std::vector<float>{1, -2, static_cast<float>(1234.5678) / 304.79998779296875f, 0}),
              (std::vector<float>{position[0], position[1], position[2], orientation[0]}));
}

// Random rotations away from the poles: the matrix rebuilt from the output
// is the input within single precision.
TEST(PoseConversion, RoundTripOverRandomRotations) {
    std::mt19937 random(20261206);
    std::uniform_real_distribution<double> turn(-179.9, 179.9), tilt(-85.0, 85.0);
    for (int i = 0; i < 2000; ++i) {
        double rot[9], rebuilt[9];
        matrixFromAngles(turn(random), tilt(random), turn(random), rot);
        const std::vector<float> a = angles(rot);
        matrixFromAngles(a[0], a[1], a[2], rebuilt);
        for (int k = 0; k < 9; ++k) ASSERT_NEAR(rot[k], rebuilt[k], 2e-6) << "sample " << i << " element " << k;
    }
}
