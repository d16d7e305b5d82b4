// The emulated tracker: its pose lives in the shared tracker record between
// cycles and is read back from there at every step; the output valuators
// assigned to it are rates per second.
#include <cmath>

#include "calib/con_common.h"

namespace {

// The tracker record stores value * 100000 in 32 bits; beyond this a
// value would wrap round to the far side of the range.
constexpr float kLargestStorable = 21474.0f;

float component(const TraData& traData, int i) noexcept {
    switch (i) {
        case 0: return traData.getX();
        case 1: return traData.getY();
        case 2: return traData.getZ();
        case 3: return traData.getAzim();
        case 4: return traData.getElev();
        default: return traData.getRoll();
    }
}

void setComponent(TraData& traData, int i, float value) noexcept {
    switch (i) {
        case 0: traData.setX(value); break;
        case 1: traData.setY(value); break;
        case 2: traData.setZ(value); break;
        case 3: traData.setAzim(value); break;
        case 4: traData.setElev(value); break;
        default: traData.setRoll(value); break;
    }
}

// Keeps an integrated value inside what the record can hold. Only a value
// beyond that range changes: an angle drops whole turns (same
// orientation), a position stops at the range's edge.
float keepStorable(int component, float value) noexcept {
    if (std::fabs(value) <= kLargestStorable) {
        return value;
    }
    if (component >= 3) {
        return std::fmod(value, 360.0f);
    }
    return std::fmax(-kLargestStorable, std::fmin(kLargestStorable, value));
}

void copyTimeWords(TraData& traData, const ConData& conData) noexcept {
    traData.setTime(records::fromBE32(conData.seconds), records::fromBE32(conData.microseconds));
}

}  // namespace

// The steps are timed on the monotonic clock: a wall clock set forward
// would drive the tracker to the edge of the range in one step. The records'
// time words stay the wall clock's (the controller record's).
double CConCommonH::monotonicSeconds() noexcept { return static_cast<double>(platform::monotonicNanos()) * 1e-9; }

void CConCommonH::setClockSource(ClockSource source) noexcept {
    clock_ = source != nullptr ? source : &monotonicSeconds;
}

double CConCommonH::nowSeconds() const noexcept { return clock_(); }

bool CConCommonH::resetEmulation(uint32_t c, TraData* traData, const ConData* conData) noexcept {
    const ControllerMap* map = controllerMap(c);
    if (traData == nullptr || map == nullptr || !map->emulation) {
        return false;
    }
    const TrackerEmulation& e = *map->emulation;
    if (conData != nullptr) {
        copyTimeWords(*traData, *conData);
    }
    traData->setId(e.trackerId);
    for (int i = 0; i < TrackerEmulation::kComponents; ++i) {
        setComponent(*traData, i, e.initPose[i]);
    }
    return true;
}

bool CConCommonH::applyEmulation(uint32_t c, TraData* traData, const ConData* conData) noexcept {
    ControllerMap* map = mapOf(c);
    if (map == nullptr || traData == nullptr || conData == nullptr || !map->emulation) {
        return false;
    }
    TrackerEmulation& e = *map->emulation;
    if (e.resetButton != 0 && conData->getButton(e.resetButton) == 1) {
        resetEmulation(c, traData, conData);
        // Integration resumes from the release, not from before the press:
        // otherwise the held time would be integrated in one jump.
        if (e.lastTime != 0.0) {
            e.lastTime = nowSeconds();
        }
        return true;
    }
    copyTimeWords(*traData, *conData);
    traData->setId(e.trackerId);
    if (e.lastTime == 0.0) {
        e.lastTime = nowSeconds();
        return resetEmulation(c, traData, conData);
    }
    const double previous = e.lastTime;
    e.lastTime = nowSeconds();
    timeStep = e.lastTime > previous ? e.lastTime - previous : 0.0;
    const float step = static_cast<float>(timeStep);
    for (int i = 0; i < TrackerEmulation::kComponents; ++i) {
        const float rate = conData->getValuator(e.valuatorAssign[i]);
        const float moved = component(*traData, i) + rate * step;
        setComponent(*traData, i, keepStorable(i, moved));
    }
    return true;
}
