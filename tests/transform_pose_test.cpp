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
struct M3 {
    double e[3][3];
};

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

TEST(MatrixBuilders, AxisAngleAgainstHandComputedMatrices) {
    // 90 degrees about z: x goes to y.
    float aboutZ[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    expectMatrix(aboutZ, matAxisAngle(0, 0, 1, 90), 1e-6f);
    expectMatrix(aboutZ, matAxisAngle(0, 0, 7.5f, 90), 1e-6f);  // the axis is normalised
    // 90 degrees about y: z goes to x, x to -z.
    float aboutY[16] = {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    expectMatrix(aboutY, matAxisAngle(0, 1, 0, 90), 1e-6f);
    // -90 about x: y goes to -z.
    float aboutX[16] = {1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    expectMatrix(aboutX, matAxisAngle(-1, 0, 0, 90), 1e-6f);
    // 120 degrees about (1, 1, 1) cycles the axes x -> y -> z -> x.
    float cycle[16] = {0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    expectMatrix(cycle, matAxisAngle(1, 1, 1, 120), 2e-6f);
    // 30 degrees about z, computed by hand with single-precision sine/cosine.
    float s = std::sin(30.0f * kDegreesToRadians), c = std::cos(30.0f * kDegreesToRadians);
    Matrix4 m = matAxisAngle(0, 0, 1, 30);
    EXPECT_EQ(c, m.m[0]);
    EXPECT_EQ(s, m.m[1]);
    EXPECT_EQ(-s, m.m[4]);
    EXPECT_EQ(1.0f, m.m[10]);
}

TEST(MatrixBuilders, ZeroAxisGivesIdentityRotationWithoutTheLastOne) {
    float identityRotation[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    expectMatrix(identityRotation, matAxisAngle(0, 0, 0, 90), 0);
    expectMatrix(identityRotation, matAxisAngle(1e-30f, 0, 0, 45), 0);  // squares vanish in float
    // An axis whose squares overflow float still gives a rotation.
    float aboutZ[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    expectMatrix(aboutZ, matAxisAngle(0, 0, 1e30f, 90), 1e-6f);
}

TEST(TransformPose, MissingMatrixChangesNothing) {
    TrackerPose pose{1, 2, 3, 270, 0, 0};
    Matrix4 identity = matIdentity();
    transformPose(pose, nullptr, &identity, nullptr);
    transformPose(pose, &identity, nullptr, nullptr);
    EXPECT_EQ(1.0f, pose.x);
    EXPECT_EQ(270.0f, pose.azim);
}

TEST(TransformPose, TransmitterOffsetMovesTheOrigin) {
    TrackerPose pose = transformed({0, 0, 0, 0, 0, 0}, transformOf(matIdentity(), 1, 2, 3), matIdentity());
    EXPECT_EQ(1.0f, pose.x);
    EXPECT_EQ(2.0f, pose.y);
    EXPECT_EQ(3.0f, pose.z);
    EXPECT_EQ(0.0f, pose.azim);
    EXPECT_EQ(0.0f, pose.elev) << "-0 compares equal";
    EXPECT_EQ(0.0f, pose.roll);
}

TEST(TransformPose, TransmitterRotationAboutY) {
    Matrix4 transmitter = transformOf(matAxisAngle(0, 1, 0, 90), 0, 0, 0);
    TrackerPose pose = transformed({1, 0, 0, 0, 0, 0}, transmitter, matIdentity());
    EXPECT_NEAR(0.0f, pose.x, 1e-6f);
    EXPECT_NEAR(0.0f, pose.y, 1e-6f);
    EXPECT_NEAR(-1.0f, pose.z, 1e-6f);
    EXPECT_NEAR(90.0f, pose.azim, 1e-4f);
    EXPECT_NEAR(0.0f, pose.elev, 1e-4f);
    EXPECT_NEAR(0.0f, pose.roll, 1e-4f);
}

TEST(TransformPose, SensorOffsetTurnsWithTheFinalOrientation) {
    Matrix4 sensor = transformOf(matIdentity(), 0, 0, 1);
    TrackerPose pose = transformed({0, 0, 0, 90, 0, 0}, matIdentity(), sensor);
    EXPECT_NEAR(1.0f, pose.x, 1e-6f);
    EXPECT_NEAR(0.0f, pose.y, 1e-6f);
    EXPECT_NEAR(0.0f, pose.z, 1e-6f);
    EXPECT_NEAR(90.0f, pose.azim, 1e-4f);

    // The translation is added last and is not turned.
    const float translation[3] = {0, 0, 2};
    pose = transformed({0, 0, 0, 90, 0, 0}, matIdentity(), sensor, translation);
    EXPECT_NEAR(1.0f, pose.x, 1e-6f);
    EXPECT_NEAR(2.0f, pose.z, 1e-6f);
}

TEST(TransformPose, IdentityMatricesStillNormaliseTheAngles) {
    TrackerPose pose = transformed({0, 0, 0, 270, 0, 0}, matIdentity(), matIdentity());
    EXPECT_NEAR(-90.0f, pose.azim, 1e-4f);
    EXPECT_NEAR(0.0f, pose.elev, 1e-4f);
    EXPECT_NEAR(0.0f, pose.roll, 1e-4f);

    pose = transformed({0, 0, 0, 10, 100, 20}, matIdentity(), matIdentity());
    EXPECT_NEAR(-170.0f, pose.azim, 1e-4f);
    EXPECT_NEAR(80.0f, pose.elev, 1e-4f);
    EXPECT_NEAR(-160.0f, pose.roll, 1e-4f);

    // Angles that need no normalising only pick up rounding.
    pose = transformed({0, 0, 0, 33.3f, -12.5f, 71.25f}, matIdentity(), matIdentity());
    EXPECT_NEAR(33.3f, pose.azim, 1e-4f);
    EXPECT_NEAR(-12.5f, pose.elev, 1e-4f);
    EXPECT_NEAR(71.25f, pose.roll, 1e-4f);
}

TEST(TransformPose, HugePositionsBecomeInfinityNotUndefined) {
    TrackerPose pose = transformed({3e38f, 0, 0, 0, 0, 0}, transformOf(matIdentity(), 3e38f, 0, 0), matIdentity());
    EXPECT_TRUE(std::isinf(pose.x));
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
