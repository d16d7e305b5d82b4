#include "tools/trackview/rate_meter.h"

namespace trackview {

void RateMeter::add(uint64_t millis, const storage::UpdateCounters& counters) {
    readings_.push_back({millis, counters});
    // Keep the newest reading that is at least a window old, and all after it.
    while (readings_.size() > 2 && millis - readings_[1].millis >= kWindowMillis) {
        readings_.pop_front();
    }
}

double RateMeter::rate(uint32_t id, bool tracker) const noexcept {
    if (id == 0 || id > storage::kCapacity || readings_.size() < 2) {
        return -1.0;
    }
    const Reading& oldest = readings_.front();
    const Reading& newest = readings_.back();
    if (newest.millis <= oldest.millis) {
        return -1.0;
    }
    uint32_t from = tracker ? oldest.counters.trackers[id - 1] : oldest.counters.controllers[id - 1];
    uint32_t to = tracker ? newest.counters.trackers[id - 1] : newest.counters.controllers[id - 1];
    // Unsigned difference: right across the counter's wrap.
    return static_cast<double>(to - from) * 1000.0 / static_cast<double>(newest.millis - oldest.millis);
}

}  // namespace trackview
