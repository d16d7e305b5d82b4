#pragma once
// Update rates of the records, from the host's update counters read at
// each refresh: counted writes over the last second, so rates are exact
// however slowly the monitor refreshes.
#include <cstdint>
#include <deque>

#include "host/storage_layout.h"

namespace trackview {

class RateMeter {
public:
    static constexpr uint64_t kWindowMillis = 1000;

    // One reading of the counters at a monotonic time in milliseconds.
    void add(uint64_t millis, const storage::UpdateCounters& counters);

    // Writes per second of record `id` (1 to 32) over the window; negative
    // while fewer than two readings span any time.
    double trackerRate(uint32_t id) const noexcept { return rate(id, true); }
    double controllerRate(uint32_t id) const noexcept { return rate(id, false); }

private:
    struct Reading {
        uint64_t millis;
        storage::UpdateCounters counters;
    };
    double rate(uint32_t id, bool tracker) const noexcept;

    std::deque<Reading> readings_;
};

}  // namespace trackview
