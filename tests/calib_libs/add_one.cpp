// Test calibration library: moves every tracker by one unit along x.
#include <cstdint>

extern "C" int calib_evaluate(uint32_t /*context*/, float* values) {
    values[0] += 1.0f;
    return 0;
}
