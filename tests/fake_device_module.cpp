// A stand-in device module for the host's and tools' tests. Lines: trackers N (2), controllers N (1), rate HZ (1000;
// 0 = flat out), writes N (write in the first N cycles, then keep still), fail (init refuses), initdelay/startdelay/
// stopdelay MS (a slow or silent controller). Cycle k writes tracker t with time (k, t) and six values valueOf(k, t),
// controller c with time (k, c), 8 valuators valueOf(k, c) / 10, buttons k's low 16 bits: mixed writes show.
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

class FakeDevice final : public CBaseMod {
public:
    using CBaseMod::CBaseMod;

    int init(InitInfo* info) override {
        trackerStorage_ = info->trackerStorage;
        controllerStorage_ = info->controllerStorage;
        const std::pair<const char*, uint32_t*> numbers[] = {{"trackers", &trackers_},   {"controllers", &controllers_},
                                                             {"rate", &rate_},           {"writes", &writes_},
                                                             {"initdelay", &initDelay_}, {"startdelay", &startDelay_},
                                                             {"stopdelay", &stopDelay_}, {"fail", &failLine_}};
        for (ConfigLine* line = config->lines; line != config->lines + config->numLines; ++line) {
            for (const auto& [keyword, value] : numbers) {
                if (std::strcmp(line->keyword, keyword) != 0) continue;
                *value = line->argCount == 0 ? static_cast<uint32_t>(line->lineNumber) : std::atoi(line->args[0]);
                line->used = 1;
            }
        }
        if (failLine_ != 0) logger->errorf("fake: refusing the configuration on line %u\n", failLine_);
        platform::sleepMillis(initDelay_);
        return failLine_ == 0 && registerRecords(trackerStorage_, trackers_, trackerBase_, true) &&
                       registerRecords(controllerStorage_, controllers_, controllerBase_, false)
                   ? 1
                   : -1;
    }
    bool start() override { return platform::sleepMillis(startDelay_), true; }
    int check() override { return 1; }
    bool stop() override { return platform::sleepMillis(stopDelay_), true; }
    bool printInfo() override { return true; }
    int recvData(UpdateMasks* masks, uint32_t) override {
        platform::sleepMillis(writes_ != 0 && cycle_ >= writes_ ? 10 : rate_ != 0 ? 1000 / rate_ : 0);
        if (writes_ != 0 && cycle_ >= writes_) return 1;
        ++cycle_;
        for (uint32_t t = 1; t <= trackers_; ++t) {
            TraData record{};
            record.setId(trackerBase_ + t);
            record.setTime(cycle_, trackerBase_ + t);
            for (bool (TraData::*set)(float) noexcept : {&TraData::setX, &TraData::setY, &TraData::setZ,
                                                         &TraData::setAzim, &TraData::setElev, &TraData::setRoll}) {
                (record.*set)(valueOf(cycle_, trackerBase_ + t));
            }
            write(trackerStorage_, record, &CDataStorage::getTraData, masks->trackerMask);
        }
        for (uint32_t c = 1; c <= controllers_; ++c) {
            ConData record{};
            record.clear();
            record.setId(controllerBase_ + c);
            record.setTime(cycle_, controllerBase_ + c);
            record.setCounts(8, 16);
            for (uint32_t k = 1; k <= 8; ++k) record.setValuator(k, valueOf(cycle_, controllerBase_ + c) / 10.0f);
            for (uint32_t b = 1; b <= 16; ++b) record.setButton(b, ((cycle_ >> (b - 1)) & 1u) != 0);
            write(controllerStorage_, record, &CDataStorage::getConData, masks->controllerMask);
        }
        return 1;
    }
    int updateTrackers() override { return 1; }
    int updateControllers() override { return 1; }

private:
    static bool registerRecords(CDataStorage* storage, uint32_t own, uint32_t& base, bool trackers) {
        storage->lock();
        base = trackers ? storage->getNumTrackers() : storage->getNumControllers();
        bool ok = own == 0 || (trackers ? storage->setNumTrackers(base + own) : storage->setNumControllers(base + own));
        storage->unlock();
        return ok;
    }
    template <typename Record>
    void write(CDataStorage* storage, Record record, Record* (CDataStorage::*slotOf)(uint32_t), uint32_t& mask) {
        uint32_t id = records::fromBE32(record.id);
        record.stamp.seconds = static_cast<int32_t>(cycle_);
        storage->lock();
        if (Record* slot = (storage->*slotOf)(id)) {
            *slot = record;
            markUpdated(mask, id);
        }
        storage->unlock();
    }

    CDataStorage *trackerStorage_ = nullptr, *controllerStorage_ = nullptr;
    uint32_t trackers_ = 2, controllers_ = 1, rate_ = 1000, writes_ = 0, trackerBase_ = 0, controllerBase_ = 0,
             cycle_ = 0, initDelay_ = 0, startDelay_ = 0, stopDelay_ = 0, failLine_ = 0;
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
