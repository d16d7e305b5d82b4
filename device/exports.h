#pragma once
// This module's two exports, of the types a host looks up.
#include <type_traits>

#include "framework/module_exports.h"
#include "platform/export.h"

extern "C" {
ZELOSTREL_EXPORT CBaseMod* createDev(DeviceConfig* config, const CLogH* hostLogger);
ZELOSTREL_EXPORT bool deleteDev(CBaseMod* device);
}

static_assert(std::is_same_v<decltype(&createDev), CreateDevFunction> &&
                  std::is_same_v<decltype(&deleteDev), DeleteDevFunction>,
              "the exports have the types a host looks up");
