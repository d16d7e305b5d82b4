// The matrix builders and the tracker transform against an independent reference.
#include "calib/transform_pose.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

namespace {

// R = Ry(azimuth) Rx(elevation) Rz(roll) on column vectors, in double.
using M3 = std::vector<std::vector<double>>;
M3 product(const M3& a, const M3& b) {
    M3 r(3, std::vector<double>(3, 0.0));
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r[i][j] += a[i][k] * b[k][j];
    return r;
}
M3 reference(double azim, double elev, double roll) {
    const double radian = std::acos(-1.0) / 180;  // M_PI is not standard C++
    const double a = azim * radian, e = elev * radian, r = roll * radian;
    return product(product({{std::cos(a), 0, std::sin(a)}, {0, 1, 0}, {-std::sin(a), 0, std::cos(a)}},
                           {{1, 0, 0}, {0, std::cos(e), -std::sin(e)}, {0, std::sin(e), std::cos(e)}}),
                   {{std::cos(r), -std::sin(r), 0}, {std::sin(r), std::cos(r), 0}, {0, 0, 1}});
}
M3 rotationOf(const Matrix4& m) {
    return {{m.at(0, 0), m.at(0, 1), m.at(0, 2)},
            {m.at(1, 0), m.at(1, 1), m.at(1, 2)},
            {m.at(2, 0), m.at(2, 1), m.at(2, 2)}};
}

}  // namespace

// A zero axis gives the identity with m[15] 0; an axis whose squares overflow float still rotates.
TEST(MatrixBuilders, AxisAngleRotations) {
    const std::vector<float> zToY = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0},
                             unit = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    const std::tuple<std::array<float, 3>, float, std::vector<float>> cases[] = {
        {{0, 0, 7.5f}, 90, zToY},
        {{0, 3e30f, 4e30f}, 90, {0, 0.8f, -0.6f, 0, -0.8f, 0.36f, 0.48f, 0, 0.6f, 0.48f, 0.64f, 0, 0, 0, 0, 0}},
        {{1, 1, 1}, 120, {0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
        {{0, 0, 0}, 90, unit},
        {{1e-30f, 0, 0}, 45, unit},
        {{0, 0, 2}, 30, {0.8660254f, 0.5f, 0, 0, -0.5f, 0.8660254f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}},
    };
    for (const auto& [axis, degrees, expected] : cases) {
        const Matrix4 rotation = matAxisAngle(axis[0], axis[1], axis[2], degrees);
        for (int i = 0; i < 16; ++i) EXPECT_NEAR(expected[i], rotation.m[i], 2e-6f) << "index " << i;
    }
}

// Orientation Rt R Rs and position T(p) + R' s + t, with the angles in their ranges.
TEST(TransformPose, RandomPosesFollowTheCalibration) {
    std::mt19937 random(20240611u);
    std::uniform_real_distribution<float> angle(-400, 400), unit(-1, 1), length(-20, 20);
    int checked = 0;
    for (int n = 0; n < 4000; ++n) {
        const Matrix4 rt = n % 5 == 0 ? matFromValues({0, 0, -1, 0, 1, 0, 1, 0, 0})
                                      : matAxisAngle(unit(random), unit(random), unit(random), angle(random));
        const Matrix4 transmitter = matTransform(rt, matTranslation(length(random), length(random), length(random)));
        const Matrix4 sensor = matTransform(matAxisAngle(unit(random), unit(random), unit(random), angle(random)),
                                            matTranslation(length(random), length(random), length(random)));
        const float translation[3] = {length(random), length(random), length(random)};
        const TrackerPose in{length(random), length(random), length(random),
                             angle(random),  angle(random),  angle(random)};
        TrackerPose out = in;
        transformPose(out, &transmitter, &sensor, translation);
        ASSERT_TRUE(std::fabs(out.azim) <= 180 && std::fabs(out.elev) <= 90 && std::fabs(out.roll) <= 180) << n;
        const M3 expected =
            product(product(rotationOf(transmitter), reference(in.azim, in.elev, in.roll)), rotationOf(sensor));
        if (std::hypot(expected[0][2], expected[2][2]) < 1e-3) continue;  // at elevation +-90 azimuth and roll mix
        ++checked;
        const M3 actual = reference(out.azim, out.elev, out.roll);
        const float* t = transmitter.m;
        const double moved[3] = {t[0] * in.x + t[4] * in.y + t[8] * in.z + t[12],
                                 t[1] * in.x + t[5] * in.y + t[9] * in.z + t[13],
                                 t[2] * in.x + t[6] * in.y + t[10] * in.z + t[14]};
        const double position[3] = {out.x, out.y, out.z};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) ASSERT_NEAR(expected[i][j], actual[i][j], 2e-5) << "sample " << n;
            ASSERT_NEAR(moved[i] + actual[i][0] * sensor.m[12] + actual[i][1] * sensor.m[13] +
                            actual[i][2] * sensor.m[14] + translation[i],
                        position[i], 2e-4)
                << "sample " << n;
        }
    }
    EXPECT_GT(checked, 3900);
}
