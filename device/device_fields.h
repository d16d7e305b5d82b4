#pragma once
// The device object's own fields, in the order of the host's layout: the
// values of the device keywords, with the tracking client and the latest
// wand and tool states among them. The device derives from this struct
// right after CBaseMod, so its fields follow those of the base classes in
// this order; the keyword reader and the printout take it on its own, which
// keeps them testable without a device.
#include <cstdint>
#include <memory>

#include "framework/owned_text.h"
#include "link/ostrel_sdk.h"

namespace device_config {

constexpr uint32_t kMaxGripwands = 16;
constexpr uint32_t kMaxMeasurementTools = 16;
constexpr uint32_t kGripwandValuators = 8;  // the joystick values
constexpr uint32_t kControllerButtons = 16;

// Latest values of one Gripwand, kept while it is absent from the frames.
struct GripwandState {
    float valuator[kGripwandValuators];
    int32_t button[kControllerButtons];
};

struct DeviceFields {
    int32_t numStandardBodies = 1;
    uint32_t numGripwands = 0;
    int32_t numMeasurementTools = 0;
    uint16_t dataPort = 5000;
    bool remoteControl = false;
    OwnedText remoteHost;
    uint16_t remotePort = 0;            // 0: not given
    std::unique_ptr<OstrelSDK> client;  // made by configure
    int32_t bufferSize = 0;             // 0: the client's default
    GripwandState gripwandState[kMaxGripwands] = {};
    int32_t measurementToolButtons[kMaxMeasurementTools][kControllerButtons] = {};
    uint32_t debugFlags = 0;
    // "multicast": the group frames arrive on (0: none) and the address of
    // the interface that joins it (0: the system's choice).
    uint32_t multicastGroup = 0;
    uint32_t multicastInterface = 0;
};

}  // namespace device_config
