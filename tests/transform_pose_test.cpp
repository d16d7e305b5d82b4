#include "calib/transform_pose.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "calib/angle_constants.h"
#include "calib/matrix4.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

void expectMatrix(const float (&expected)[16], const Matrix4& actual, float tolerance) {
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(expected[i], actual.m[i], tolerance) << "index " << i;
    }
}

// Reference orientation built independently: Ry(a) * Rx(e) * Rz(r) in
// double precision, by explicit products.
struct M3 { double e[3][3]; };

M3 product(const M3& a, const M3& b) {
    M3 r{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            for (int k = 0; k < 3; ++k) {
                r.e[i][j] += a.e[i][k] * b.e[k][j];
            }
        }
    }
    return r;
}

M3 referenceRotation(double azimDeg, double elevDeg, double rollDeg) {
    double a = azimDeg * kPi / 180, e = elevDeg * kPi / 180, r = rollDeg * kPi / 180;
    M3 ry{{{std::cos(a), 0, std::sin(a)}, {0, 1, 0}, {-std::sin(a), 0, std::cos(a)}}};
    M3 rx{{{1, 0, 0}, {0, std::cos(e), -std::sin(e)}, {0, std::sin(e), std::cos(e)}}};
    M3 rz{{{std::cos(r), -std::sin(r), 0}, {std::sin(r), std::cos(r), 0}, {0, 0, 1}}};
    return product(product(ry, rx), rz);
}

M3 columnMajorPart(const Matrix4& m) {
    M3 r{};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            r.e[row][column] = m.m[4 * column + row];
        }
    }
    return r;
}

Matrix4 transformOf(const Matrix4& rotation, float x, float y, float z) {
    return matTransform(rotation, matTranslation(x, y, z));
}

TrackerPose transformed(TrackerPose pose, const Matrix4& transmitter, const Matrix4& sensor,
                        const float* translation = nullptr) {
    transformPose(pose, &transmitter, &sensor, translation);
    return pose;
}

}  // namespace

TEST(AngleConstants, DegreesToRadiansIsOneUlpBelowPiOver180) {
    EXPECT_EQ(std::nextafter(static_cast<float>(kPi / 180.0), 0.0f), kDegreesToRadians);
    EXPECT_EQ(static_cast<double>(static_cast<float>(kPi)), kSinglePrecisionPi);
    EXPECT_EQ(static_cast<float>(90.0), radiansToDegrees(kSinglePrecisionPi / 2));
}

TEST(MatrixBuilders, FixedForms) {
    float zero[16] = {};
    expectMatrix(zero, matZero(), 0);
    float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    expectMatrix(identity, matIdentity(), 0);
    float holder[16] = {0, 0, 0, 1.5f, 0, 0, 0, -2, 0, 0, 0, 3, 0, 0, 0, 0};
    expectMatrix(holder, matTranslation(1.5f, -2, 3), 0);

    // Nine values as given, the first three being the first column.
    const float q[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    float fromValues[16] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 0, 0, 0, 0};
    expectMatrix(fromValues, matFromValues(q), 0);
    const float skewed[9] = {2, 0, 0, 0, -3, 0, 0.5f, 0, 0};
    EXPECT_EQ(-3.0f, matFromValues(skewed).at(1, 1)) << "not normalised";
    EXPECT_EQ(0.5f, matFromValues(skewed).at(0, 2));

    float transform[16] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 1.5f, -2, 3, 1};
    expectMatrix(transform, matTransform(matFromValues(q), matTranslation(1.5f, -2, 3)), 0);
}

// Hand-computed rotations; a zero axis gives the identity rotation with
// m[15] 0, and an axis whose squares overflow float still gives a rotation.
TEST(MatrixBuilders, AxisAngleAgainstHandComputedMatrices) {
    struct Case { float axis[3]; float degrees; float expected[16]; float tolerance; };
    const Case cases[] = {
        {{0, 0, 1}, 90, {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}, 1e-6f},      // x goes to y
        {{0, 0, 7.5f}, 90, {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}, 1e-6f},   // the axis is normalised
        {{0, 1, 0}, 90, {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}, 1e-6f},      // z to x, x to -z
        {{-1, 0, 0}, 90, {1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 0}, 1e-6f},     // y to -z
        {{1, 1, 1}, 120, {0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0}, 2e-6f},      // x -> y -> z -> x
        {{0, 0, 0}, 90, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}, 0},
        {{1e-30f, 0, 0}, 45, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}, 0},       // squares vanish in float
        {{0, 0, 1e30f}, 90, {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}, 1e-6f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.axis[0] << ' ' << c.axis[1] << ' ' << c.axis[2] << " by " << c.degrees);
        expectMatrix(c.expected, matAxisAngle(c.axis[0], c.axis[1], c.axis[2], c.degrees), c.tolerance);
    }
    // 30 degrees about z, computed by hand with single-precision sine/cosine.
    float s = std::sin(30.0f * kDegreesToRadians), c = std::cos(30.0f * kDegreesToRadians);
    Matrix4 m = matAxisAngle(0, 0, 1, 30);
    EXPECT_EQ(c, m.m[0]);
    EXPECT_EQ(s, m.m[1]);
    EXPECT_EQ(-s, m.m[4]);
    EXPECT_EQ(1.0f, m.m[10]);
}

TEST(TransformPose, MissingMatrixChangesNothingHugeValuesBecomeInfinity) {
    TrackerPose pose{1, 2, 3, 270, 0, 0};
    Matrix4 identity = matIdentity();
    transformPose(pose, nullptr, &identity, nullptr);
    transformPose(pose, &identity, nullptr, nullptr);
    EXPECT_EQ(1.0f, pose.x);
    EXPECT_EQ(270.0f, pose.azim);

    pose = transformed({3e38f, 0, 0, 0, 0, 0}, transformOf(matIdentity(), 3e38f, 0, 0), matIdentity());
    EXPECT_TRUE(std::isinf(pose.x));
}

// The transmitter moves and turns the position, the sensor offset turns
// with the final orientation, the translation is added last unturned; any
// pass through normalises the angles (azimuth and roll in -180..180,
// elevation in -90..90) and adds only rounding to those that need none.
TEST(TransformPose, EdgeCases) {
    struct Case {
        const char* what;
        TrackerPose in;
        Matrix4 transmitter;
        Matrix4 sensor;
        float translation[3];
        TrackerPose out;
    };
    const Matrix4 identity = matIdentity();
    const Case cases[] = {
        {"transmitter offset", {0, 0, 0, 0, 0, 0}, transformOf(identity, 1, 2, 3), identity, {}, {1, 2, 3, 0, 0, 0}},
        {"transmitter about y", {1, 0, 0, 0, 0, 0}, transformOf(matAxisAngle(0, 1, 0, 90), 0, 0, 0), identity, {},
         {0, 0, -1, 90, 0, 0}},
        {"sensor offset", {0, 0, 0, 90, 0, 0}, identity, transformOf(identity, 0, 0, 1), {}, {1, 0, 0, 90, 0, 0}},
        {"translation", {0, 0, 0, 90, 0, 0}, identity, transformOf(identity, 0, 0, 1), {0, 0, 2}, {1, 0, 2, 90, 0, 0}},
        {"azimuth 270", {0, 0, 0, 270, 0, 0}, identity, identity, {}, {0, 0, 0, -90, 0, 0}},
        {"elevation 100", {0, 0, 0, 10, 100, 20}, identity, identity, {}, {0, 0, 0, -170, 80, -160}},
        {"nothing to do", {0, 0, 0, 33.3f, -12.5f, 71.25f}, identity, identity, {}, {0, 0, 0, 33.3f, -12.5f, 71.25f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TrackerPose out = transformed(c.in, c.transmitter, c.sensor, c.translation);
        EXPECT_NEAR(c.out.x, out.x, 1e-6f);
        EXPECT_NEAR(c.out.y, out.y, 1e-6f);
        EXPECT_NEAR(c.out.z, out.z, 1e-6f);
        EXPECT_NEAR(c.out.azim, out.azim, 1e-4f);
        EXPECT_NEAR(c.out.elev, out.elev, 1e-4f);
        EXPECT_NEAR(c.out.roll, out.roll, 1e-4f);
    }
}

// Over random poses and calibrations: the stored orientation is
// Rt * R * Rs, and the position is T(p) + R' * s + t.
TEST(TransformPose, PropertyOrientationAndPositionFollowTheCalibration) {
    std::mt19937 random(20240611u);
    std::uniform_real_distribution<float> angle(-400.0f, 400.0f);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_real_distribution<float> length(-20.0f, 20.0f);
    int checked = 0;
    for (int n = 0; n < 4000; ++n) {
        Matrix4 rt = (n % 5 == 0) ? matFromValues({0, 0, -1, 0, 1, 0, 1, 0, 0})
                                  : matAxisAngle(unit(random), unit(random), unit(random), angle(random));
        Matrix4 transmitter = transformOf(rt, length(random), length(random), length(random));
        Matrix4 sensor = transformOf(matAxisAngle(unit(random), unit(random), unit(random), angle(random)),
                                     length(random), length(random), length(random));
        const float translation[3] = {length(random), length(random), length(random)};
        const TrackerPose in{length(random), length(random), length(random), angle(random), angle(random),
                             angle(random)};
        const TrackerPose out = transformed(in, transmitter, sensor, translation);

        ASSERT_TRUE(out.azim >= -180.0f && out.azim <= 180.0f) << out.azim;
        ASSERT_TRUE(out.elev >= -90.0f && out.elev <= 90.0f) << out.elev;
        ASSERT_TRUE(out.roll >= -180.0f && out.roll <= 180.0f) << out.roll;

        const M3 expected = product(product(columnMajorPart(transmitter), referenceRotation(in.azim, in.elev, in.roll)),
                                    columnMajorPart(sensor));
        // Near elevation +-90 azimuth and roll are not separable; skip there.
        if (std::sqrt(expected.e[0][2] * expected.e[0][2] + expected.e[2][2] * expected.e[2][2]) < 1e-3) {
            continue;
        }
        ++checked;
        const M3 actual = referenceRotation(out.azim, out.elev, out.roll);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                ASSERT_NEAR(expected.e[i][j], actual.e[i][j], 2e-5) << "sample " << n << " element " << i << j;
            }
        }
        const float* t = transmitter.m;
        const double p1[3] = {t[0] * in.x + t[4] * in.y + t[8] * in.z + t[12],
                              t[1] * in.x + t[5] * in.y + t[9] * in.z + t[13],
                              t[2] * in.x + t[6] * in.y + t[10] * in.z + t[14]};
        const double s[3] = {sensor.m[12], sensor.m[13], sensor.m[14]};
        const double position[3] = {out.x, out.y, out.z};
        for (int i = 0; i < 3; ++i) {
            const double expectedPosition =
                p1[i] + actual.e[i][0] * s[0] + actual.e[i][1] * s[1] + actual.e[i][2] * s[2] + translation[i];
            ASSERT_NEAR(expectedPosition, position[i], 2e-4) << "sample " << n << " axis " << i;
        }
    }
    EXPECT_GT(checked, 3900);
}
