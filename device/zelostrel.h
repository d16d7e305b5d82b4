#pragma once
// The device object the host creates through createDev: configuration,
// measurement and printout of this tracking system on top of CBaseMod.
#include <cstdint>

#include "device/device_fields.h"
#include "framework/base.h"

// The device's own fields come from DeviceFields, the second base: they
// follow those of CBaseMod in the host's order, and the device adds no
// data member of its own.
class zelostrel : public CBaseMod, public device_config::DeviceFields {
public:
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

private:
    bool readKeywords();
    bool registerRecords();
    bool openClient();
    bool commandSent(bool sent, const char* failure);
    bool receiveFrame();
    void updateGripwands();
    void updateMeasurementTools();
    void writePose(uint32_t local, const double loc[3], const double rot[9], bool show, const char* label);
};
