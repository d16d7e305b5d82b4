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
#include "framework/owned_ptr.h"

class CTraCommonH;
class CConCommonH;

// The module's copy of the host's init info, followed by what the module
// adds: the two handlers (made by the storage hook-up, released with this
// record) and the masks of the current cycle (host-owned).
struct ModInfo : InitInfo {
    OwnedPtr<CTraCommonH> traHandler;
    OwnedPtr<CConCommonH> conHandler;
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
};
