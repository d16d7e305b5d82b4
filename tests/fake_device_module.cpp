// A stand-in device module for the host's and tools' tests. Lines it reads:
// trackers N (2), controllers N (1), rate HZ (1000; 0 = flat out), writes N
// (write in the first N cycles, then keep still), fail (init refuses),
// initdelay/startdelay/stopdelay MS (a slow or silent controller).
// Cycle k writes tracker t with time (k, t) and all six values valueOf(k, t);
// controller c with time (k, c), 8 valuators valueOf(k, c) / 10 and buttons
// the low 16 bits of k: a copy that mixes two writes shows unequal values.
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "framework/base.h"
#include "framework/data_storage.h"
#include "framework/records.h"
#include "platform/clock.h"
#include "platform/export.h"
#include "platform/thread.h"

namespace {

float valueOf(uint32_t cycle, uint32_t id) {
    return static_cast<float>(cycle % 10000) + static_cast<float>(id) / 100.0f;
}

class FakeDevice : public CBaseMod {
public:
    using CBaseMod::CBaseMod;
    virtual ~FakeDevice() = default;

    int init(InitInfo* info) override {
        if (info == nullptr || info->trackerStorage == nullptr || info->controllerStorage == nullptr) return -1;
        trackerStorage_ = info->trackerStorage;
        controllerStorage_ = info->controllerStorage;
        const std::pair<const char*, uint32_t*> numbers[] = {
            {"trackers", &trackers_},   {"controllers", &controllers_}, {"rate", &rate_},          {"writes", &writes_},
            {"initdelay", &initDelay_}, {"startdelay", &startDelay_},   {"stopdelay", &stopDelay_}};
        bool fail = false;
        for (uint32_t i = 0; i < config->numLines; ++i) {
            ConfigLine& line = config->lines[i];
            for (const auto& [keyword, value] : numbers) {
                if (std::strcmp(line.keyword, keyword) == 0) {
                    *value = static_cast<uint32_t>(std::atoi(line.args[0]));
                    line.used = 1;
                }
            }
            if (std::strcmp(line.keyword, "fail") == 0) {
                logger->errorf("fake: refusing the configuration on line %d\n", line.lineNumber);
                line.used = 1;
                fail = true;
            }
        }
        platform::sleepMillis(initDelay_);
        return !fail && registerRecords(trackerStorage_, trackers_, trackerBase_, true) &&
                       registerRecords(controllerStorage_, controllers_, controllerBase_, false)
                   ? 1
                   : -1;
    }
    bool start() override {
        platform::sleepMillis(startDelay_);
        return true;
    }
    int check() override { return 1; }
    bool stop() override {
        platform::sleepMillis(stopDelay_);
        return true;
    }
    bool printInfo() override { return true; }
    int recvData(UpdateMasks* masks, uint32_t) override {
        if (rate_ != 0) platform::sleepMillis(1000 / rate_);
        if (writes_ != 0 && cycle_ >= writes_) {
            platform::sleepMillis(10);
            return 1;
        }
        ++cycle_;
        for (uint32_t t = 1; t <= trackers_; ++t) writeTracker(trackerBase_ + t, masks);
        for (uint32_t c = 1; c <= controllers_; ++c) writeController(controllerBase_ + c, masks);
        return 1;
    }
    int updateTrackers() override { return 1; }
    int updateControllers() override { return 1; }

private:
    static bool registerRecords(CDataStorage* storage, uint32_t own, uint32_t& base, bool trackers) {
        if (own == 0) return true;
        storage->lock();
        base = trackers ? storage->getNumTrackers() : storage->getNumControllers();
        bool ok = trackers ? storage->setNumTrackers(base + own) : storage->setNumControllers(base + own);
        storage->unlock();
        return ok;
    }
    void writeTracker(uint32_t id, UpdateMasks* masks) {
        TraData record{};
        record.setId(id);
        record.setTime(cycle_, id);
        for (bool (TraData::*set)(float) noexcept : {&TraData::setX, &TraData::setY, &TraData::setZ, &TraData::setAzim,
                                                     &TraData::setElev, &TraData::setRoll}) {
            (record.*set)(valueOf(cycle_, id));
        }
        record.stamp.seconds = static_cast<int32_t>(cycle_);
        trackerStorage_->lock();
        if (TraData* slot = trackerStorage_->getTraData(id)) {
            *slot = record;
            markUpdated(masks->trackerMask, id);
        }
        trackerStorage_->unlock();
    }
    void writeController(uint32_t id, UpdateMasks* masks) {
        ConData record{};
        record.clear();
        record.setId(id);
        record.setTime(cycle_, id);
        record.setCounts(8, 16);
        for (uint32_t k = 1; k <= 8; ++k) record.setValuator(k, valueOf(cycle_, id) / 10.0f);
        for (uint32_t b = 1; b <= 16; ++b) record.setButton(b, ((cycle_ >> (b - 1)) & 1u) != 0);
        record.stamp.seconds = static_cast<int32_t>(cycle_);
        controllerStorage_->lock();
        if (ConData* slot = controllerStorage_->getConData(id)) {
            *slot = record;
            markUpdated(masks->controllerMask, id);
        }
        controllerStorage_->unlock();
    }

    CDataStorage *trackerStorage_ = nullptr, *controllerStorage_ = nullptr;
    uint32_t trackers_ = 2, controllers_ = 1, rate_ = 1000, writes_ = 0, trackerBase_ = 0, controllerBase_ = 0,
             cycle_ = 0, initDelay_ = 0, startDelay_ = 0, stopDelay_ = 0;
};

}  // namespace

#ifndef FAKE_MODULE_WITHOUT_EXPORTS
extern "C" ZELOSTREL_EXPORT CBaseMod* createDev(DeviceConfig* config, const CLogH* hostLogger) {
    return new (std::nothrow) FakeDevice(config, hostLogger);
}
extern "C" ZELOSTREL_EXPORT bool deleteDev(CBaseMod* device) {
    if (device == nullptr) return false;
    delete static_cast<FakeDevice*>(device);
    return true;
}
#else
// A library that is not a device module: it exports something else.
extern "C" ZELOSTREL_EXPORT int notADeviceModule() { return 42; }
#endif
