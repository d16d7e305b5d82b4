// Millimetres and a rotation matrix into feet and azimuth, elevation, roll.
#include "device/pose_conversion.h"

#include <gtest/gtest.h>

#include <vector>

using namespace pose_conversion;

// Poles take the near-zero branch (azimuth from row 1, roll 0); epsilon is not near zero; a hair past 1 is clamped.
TEST(PoseConversion, ExactMatrices) {
    const double eps = kZeroBand, c30 = 0.86602540378443865;
    const struct {
        double rot[9];
        std::vector<float> expected;
    } cases[] = {{{1, 0, 0, 0, 0, 1, 0, -1, 0}, {0, 90, 0}},
                 {{1, 0, 0, 0, 0, -1, 0, 1, 0}, {0, -90, 0}},
                 {{1, eps, 0, 0, 0, 1, eps, -1, eps}, {45, 90, 90}},
                 {{1, 0, 0, 0, 0, -1, 0, 1.000001, 0}, {0, -90, 0}},
                 {{0, 0, -1, 0, 1, 0, 1, 0, 0}, {90.0000153f, 0, 0}},
                 {{0, 1, 0, -1, 0, 0, 0, 0, 1}, {0, 0, 90}},
                 {{c30, 0, -0.5, 0.5, 0, c30, 0, -1, 0}, {30, 90, 0}},  // a turn at the pole is azimuth
                 {{0.553490793, 0.604022774, -0.573414711, -0.687671714, 0.71984631, 0.0944928712, 0.46984631,
                   0.342020143, 0.813797681},
                  {30, -20, 40}}};
    for (const auto& c : cases) {
        float a = 0, e = 0, r = 0;
        eulerFromMatrix(c.rot, a, e, r);
        const float got[3] = {a, e, r};
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(c.expected[i], got[i], 2e-5) << c.rot[0] << " " << c.rot[7] << " " << i;
    }
    // Millimetres are narrowed to float, then divided by the float nearest 304.8.
    const double loc[3] = {304.8, -609.6, 1234.5678}, rot[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    float position[3], orientation[3];
    convertPose(loc, rot, position, orientation);
    EXPECT_EQ((std::vector<float>{1, -2, static_cast<float>(1234.5678) / 304.79998779296875f, 0}),
              (std::vector<float>{position[0], position[1], position[2], orientation[0]}));
}
