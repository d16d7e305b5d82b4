#pragma once
// The module's two exports, as a host looks them up by name.
#include "framework/base.h"
#include "platform/export.h"

extern "C" {
// A new device for the host's configuration record and logger settings
// (either may be null); null when memory is missing.
ZELOSTREL_EXPORT CBaseMod* createDev(DeviceConfig* config, const CLogH* hostLogger);
// Destroys a device made by createDev; false (nothing done) for null.
ZELOSTREL_EXPORT bool deleteDev(CBaseMod* device);
}

using CreateDevFunction = CBaseMod* (*)(DeviceConfig* config, const CLogH* hostLogger);
using DeleteDevFunction = bool (*)(CBaseMod* device);
inline constexpr char kCreateDevName[] = "createDev";
inline constexpr char kDeleteDevName[] = "deleteDev";
