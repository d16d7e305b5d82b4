// Test calibration library that loads but lacks the entry point.
#include <cstdint>

extern "C" int calib_prepare(uint32_t context) { return static_cast<int>(context); }
