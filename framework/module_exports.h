#pragma once
// The two functions every device module exports, as a host looks them up by
// name and calls them.
#include "framework/base.h"

// A new device for the host's configuration record and logger settings
// (either may be null); null when memory is missing.
using CreateDevFunction = CBaseMod* (*)(DeviceConfig* config, const CLogH* hostLogger);
// Destroys a device made by createDev; false (nothing done) for null.
using DeleteDevFunction = bool (*)(CBaseMod* device);
inline constexpr char kCreateDevName[] = "createDev";
inline constexpr char kDeleteDevName[] = "deleteDev";
