#pragma once
// The device's own lines of the information printout (between the
// framework's name line and its closing block).
#include "device/device_config.h"
#include "framework/logger.h"

namespace device_info {

constexpr int kVersionMajor = 5;
constexpr int kVersionMinor = 8;
constexpr int kVersionPatch = 3;

void printDeviceLines(const CLogH& log, const device_config::DeviceFields& fields) noexcept;

}  // namespace device_info
