#pragma once
// CBase and CBaseMod: the host's interface of a device module and what all
// input modules share (logger, configuration record, init info, the
// per-cycle entry recvData).
//
// The host calls through the virtual table, so the order of the virtual
// operations below is part of the host interface: do not reorder or insert.
// Neither class declares a virtual destructor; a device is destroyed only
// through its own (the module's deleteDev).
#include <cstdint>
#include <memory>

#include "framework/host_records.h"
#include "framework/logger.h"

class CTraCommonH;
class CConCommonH;
struct TrackerEmulation;
struct ConData;

// The module's copy of the host's init info, followed by what the module
// adds: the two handlers (made by the storage hook-up, released with this
// record) and the masks of the current cycle (host-owned).
struct ModInfo : InitInfo {
    ModInfo() noexcept;
    ModInfo(const ModInfo&) = delete;
    ModInfo& operator=(const ModInfo&) = delete;
    // Out of line, where the handlers' classes are complete, so that this
    // header (which the host includes) needs only their names.
    ~ModInfo();

    std::unique_ptr<CTraCommonH> traHandler;
    std::unique_ptr<CConCommonH> conHandler;
    UpdateMasks* updateMasks = nullptr;
};

class CBase {
public:
    // hostLogger: settings to copy, or null for a default logger "CBase".
    explicit CBase(const CLogH* hostLogger) noexcept;
    CBase(const CBase&) = delete;
    CBase& operator=(const CBase&) = delete;

    virtual int init(InitInfo* info) = 0;  // 1 success, -1 failure
    virtual bool start() = 0;
    virtual int check() = 0;
    virtual bool stop() = 0;
    virtual bool printInfo() = 0;
    virtual int recvData(UpdateMasks* masks, uint32_t unused) = 0;  // 1 or -1
    virtual int sendData(uint32_t first, uint32_t second) = 0;

    CLogH* logger;        // the module's logger, never null
    bool ownsLogger;      // released with the object (always true)
    bool inputConnector;  // the module delivers data into the storage

protected:
    ~CBase();

private:
    // The logger lives inside the object, so that making a module needs no
    // second allocation that could fail.
    CLogH ownLogger_;
};

class CBaseMod : public CBase {
public:
    // config: the host's record, kept (not copied) for the module's life.
    CBaseMod(DeviceConfig* config, const CLogH* hostLogger) noexcept;

    // Copies the init info (releasing a previous copy with its handlers) and
    // the device name. 1 success, 0 failure (nothing changed).
    uint32_t setInitInfo(const InitInfo* info) noexcept;

    // One cycle: clears the masks of the kinds this module has, then
    // updateControllers, then updateTrackers. -1 when an update fails or
    // before the init info was set (then nothing is touched).
    int recvData(UpdateMasks* masks, uint32_t unused) override;
    int sendData(uint32_t first, uint32_t second) override;

    virtual int updateTrackers() = 0;
    virtual int updateControllers() = 0;

    // First line of the device information printout.
    bool printName();

    // --- Storage hook-up and record writes (storage_hookup.cpp) --------------
    // Set-up, in this order, after setInitInfo and with numTrackers and
    // numControllers counted: createHandlers, registerTracker for every
    // tracker, registerController for every controller, buildStorageLists.
    bool createHandlers();
    bool registerTracker(uint32_t local, uint32_t output);
    bool registerController(uint32_t local, uint32_t output, uint32_t valuators, uint32_t buttons);
    // Raises both storage counts by this module's records and puts every
    // emulated tracker at its initial pose.
    bool buildStorageLists();

    // Per cycle, allocation-free: one record built locally, calibrated or
    // mapped, and copied into its storage slot under that storage's lock.
    // A local number without a slot in the handler is written as not found.
    bool writeTrackerData(uint32_t local, const float position[3], const float orientation[3]);
    bool writeControllerData(uint32_t local, uint32_t valuatorCount, uint32_t buttonCount, const float* valuators,
                             const int32_t* buttons);

    // Closing block of the device information printout: the handlers'
    // reports and the closing rule.
    bool printTail();

    std::unique_ptr<ModInfo> modInfo;
    std::unique_ptr<char[]> deviceName;
    uint32_t lastInitWord = 0;  // word 11 of the init info; host business
    DeviceConfig* config;
    uint32_t maxTrackers = 0;
    uint32_t maxControllers = 0;
    uint32_t numTrackers = 0;
    uint32_t numControllers = 0;
    uint32_t numTrackerEmulations = 0;

protected:
    ~CBaseMod();

private:
    bool makeTrackerHandler(uint32_t outputCount);
    bool registerControllerRecords();
    bool resetTrackerEmulations();
    bool writeTrackerEmulation(uint32_t local, const TrackerEmulation& emulation, const ConData& record);
};
