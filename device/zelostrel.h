#pragma once
// The device object the host creates through createDev: configuration,
// measurement and printout of this tracking system on top of CBaseMod.
#include <cstdint>
#include <string>

#include "device/device_config.h"
#include "framework/base.h"
#include "framework/owned_ptr.h"

class OstrelSDK;

// Latest values of one Gripwand, kept while it is absent from the frames.
struct GripwandState {
    float valuator[8];
    int32_t button[16];
};

class zelostrel : public CBaseMod {
public:
    static constexpr int kMaxGripwands = 16;
    static constexpr int kMaxMeasurementTools = 16;
    static constexpr int kToolButtons = 16;

    zelostrel(DeviceConfig* config, const CLogH* hostLogger) noexcept;

    // Same slots as in CBase and CBaseMod (the host's virtual table order).
    int init(InitInfo* info) override;
    bool start() override;
    int check() override;
    bool stop() override;
    bool printInfo() override;
    int updateTrackers() override;
    int updateControllers() override;

    // The only virtual operation the device adds: it comes last in the
    // table. Keep any further virtual operation above it.
    virtual ~zelostrel();

    int32_t numStandardBodies = 1;
    uint32_t numGripwands = 0;
    int32_t numMeasurementTools = 0;
    uint16_t dataPort = 5000;
    bool remoteControl = false;
    std::string remoteHost;
    uint16_t remotePort = 0;  // 0: not given
    OwnedPtr<OstrelSDK> client;  // made by init
    int32_t bufferSize = 0;      // 0: the client's default
    GripwandState gripwandState[kMaxGripwands] = {};
    int32_t measurementToolButtons[kMaxMeasurementTools][kToolButtons] = {};
    uint32_t debugFlags = 0;

private:
    device_config::DeviceSettings settings() const;
    void applySettings(const device_config::DeviceSettings& s);
    bool readKeywords();
    bool registerRecords();
    bool openClient();
    bool receiveFrame();
    void updateGripwands();
    void updateMeasurementTools();
    void writePose(uint32_t local, const double loc[3], const double rot[9], bool show, const char* label);
};
