#include "calib/con_common.h"

#include <algorithm>
#include <new>

namespace {

constexpr float kIdentityScale[4] = {0.0f, 0.0f, 1.0f, 0.0f};

void setIdentityScale(float (&scale)[4]) noexcept { std::copy(kIdentityScale, kIdentityScale + 4, scale); }

}  // namespace

CConCommonH::CConCommonH(const CLogH* handed) : clock_(&monotonicSeconds) {
    if (handed != nullptr) {
        logger_ = *handed;
    } else {
        logger_.setName("CConCommonH");
    }
    logger_.setOwnerId(3);
    logger_.debug("CConCommonH: \"constructor\" called.", true);
}

CConCommonH::~CConCommonH() {
    logger_.debug("CConCommonH: \"destructor\" called.", true);
    if (maps_) {
        freeMaps();
    }
}

bool CConCommonH::init(uint32_t n, bool limit) noexcept {
    if (n == 0) {
        return false;
    }
    std::unique_ptr<ControllerMap[]> fresh(new (std::nothrow) ControllerMap[n]);
    if (!fresh) {
        return false;  // the maps as they were
    }
    for (uint32_t i = 0; i < n; ++i) {
        for (float(&scale)[4] : fresh[i].valuatorScale) {
            setIdentityScale(scale);
        }
    }
    freeMaps();
    maps_ = std::move(fresh);
    count_ = n;
    limitToCounts_ = limit;
    return true;
}

bool CConCommonH::freeMaps() noexcept {
    if (!maps_) {
        return false;
    }
    maps_.reset();  // each map owns its emulation
    count_ = 0;
    return true;
}

ControllerMap* CConCommonH::mapOf(uint32_t c) noexcept {
    return (maps_ && c != 0 && c <= count_) ? &maps_[c - 1] : nullptr;
}

const ControllerMap* CConCommonH::controllerMap(uint32_t c) const noexcept {
    return (maps_ && c != 0 && c <= count_) ? &maps_[c - 1] : nullptr;
}

bool CConCommonH::setControllerDefaults(uint32_t c, uint32_t outputId, uint32_t numValuators,
                                        uint32_t numButtons) noexcept {
    ControllerMap* map = mapOf(c);
    if (map == nullptr) {
        return false;
    }
    map->outputId = outputId;
    map->numValuators = std::min(numValuators, ControllerMap::kMaxValuators);
    map->numButtons = std::min(numButtons, ControllerMap::kMaxButtons);
    for (uint32_t k = 1; k <= map->numValuators; ++k) {
        map->valuatorOrder[k - 1] = k;
        setIdentityScale(map->valuatorScale[k - 1]);
    }
    for (uint32_t k = 1; k <= map->numButtons; ++k) {
        map->buttonOrder[k - 1] = k;
    }
    return true;
}

bool CConCommonH::setEmulation(uint32_t c, uint32_t trackerId, const float initPose[6],
                               const uint32_t valuatorAssign[6], uint32_t resetButton) noexcept {
    ControllerMap* map = mapOf(c);
    if (map == nullptr) {
        return false;
    }
    if (!map->emulation) {
        map->emulation.reset(new (std::nothrow) TrackerEmulation);
        if (!map->emulation) {
            return false;
        }
    }
    TrackerEmulation& e = *map->emulation;
    e.trackerId = trackerId;
    for (int i = 0; i < TrackerEmulation::kComponents; ++i) {
        e.initPose[i] = initPose != nullptr ? initPose[i] : 0.0f;
        e.valuatorAssign[i] = valuatorAssign != nullptr ? valuatorAssign[i] : 0;
    }
    e.resetButton = resetButton;
    e.lastTime = 0.0;
    return true;
}

uint32_t CConCommonH::assignEmulatedIds(uint32_t firstId) noexcept {
    if (firstId == 0 || count_ == 0 || !maps_) {
        return 0;
    }
    uint32_t numbered = 0;
    for (uint32_t i = 0; i < count_; ++i) {
        if (maps_[i].emulation) {
            maps_[i].emulation->trackerId = firstId + numbered;
            ++numbered;
        }
    }
    return numbered;
}

float CConCommonH::scaleValuator(uint32_t c, uint32_t k, float x) const noexcept {
    const ControllerMap* map = controllerMap(c);
    if (map == nullptr || k == 0 || k > ControllerMap::kMaxValuators) {
        return 0.0f;
    }
    const float* a = map->valuatorScale[k - 1];
    double v = x;
    return static_cast<float>(a[0] * v * v * v + a[1] * v * v + a[2] * v + a[3]);
}

bool CConCommonH::mapToRecord(uint32_t c, const float* valuators, uint32_t valuatorCount, const int32_t* buttons,
                              uint32_t buttonCount, ConData& record) const noexcept {
    const ControllerMap* map = controllerMap(c);
    if (map == nullptr) {
        return false;
    }
    record.setId(map->outputId + controllerBase);  // refused (id stays 0) outside 1..32
    const uint32_t outValuators = records::fromBE32(record.numValuators);
    for (uint32_t k = 1; k <= map->numValuators; ++k) {
        float raw = (valuators != nullptr && k <= valuatorCount) ? valuators[k - 1] : 0.0f;
        float scaled = scaleValuator(c, k, raw);
        uint32_t o = map->valuatorOrder[k - 1];
        if (o != 0 && o <= outValuators && o <= ConData::kMaxValuators) {
            record.setValuator(o, scaled);
        }
    }
    const uint32_t outButtons = records::fromBE32(record.numButtons);
    for (uint32_t k = 1; k <= map->numButtons; ++k) {
        uint32_t o = map->buttonOrder[k - 1];
        if (o >= 1 && o <= ConData::kMaxButtons && (o - 1) / 8 < record.numButtonBytes && o <= outButtons) {
            bool pressed = buttons != nullptr && k <= buttonCount && buttons[k - 1] > 0;
            record.setButton(o, pressed);
        }
    }
    return true;
}
