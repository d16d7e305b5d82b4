#pragma once
// One copy of the storage's records as the monitor shows them, decoded from
// the stored encodings into plain numbers.
#include <cstdint>
#include <vector>

#include "framework/records.h"
#include "host/storage_reader.h"

namespace trackview {

struct TrackerRow {
    uint32_t id;  // as stored; record i normally carries id i
    float x, y, z, azim, elev, roll;
    uint32_t seconds, microseconds;  // 0, 0: never written
};

struct ControllerRow {
    uint32_t id;
    uint32_t seconds, microseconds;
    std::vector<float> valuators;  // valuator k at k - 1
    std::vector<int> buttons;      // button b at b - 1: 1 pressed, 0 not
};

struct Snapshot {
    std::vector<TrackerRow> trackers;
    std::vector<ControllerRow> controllers;
};

TrackerRow decodeTracker(const TraData& record) noexcept;
ControllerRow decodeController(const ConData& record);

// Copies both lists by the sequence rule. False when no copy could be taken.
bool takeSnapshot(const storage::StorageReader& reader, Snapshot& snapshot);

}  // namespace trackview
