#include "tools/trackview/snapshot.h"

namespace trackview {

namespace {

uint32_t clampCount(uint32_t count) noexcept { return count > 32 ? 32 : count; }

}  // namespace

TrackerRow decodeTracker(const TraData& record) noexcept {
    TrackerRow row{};
    row.id = records::fromBE32(record.id);
    row.x = record.getX();
    row.y = record.getY();
    row.z = record.getZ();
    row.azim = record.getAzim();
    row.elev = record.getElev();
    row.roll = record.getRoll();
    row.seconds = records::fromBE32(record.seconds);
    row.microseconds = records::fromBE32(record.microseconds);
    return row;
}

ControllerRow decodeController(const ConData& record) {
    ControllerRow row{};
    row.id = records::fromBE32(record.id);
    row.seconds = records::fromBE32(record.seconds);
    row.microseconds = records::fromBE32(record.microseconds);
    uint32_t valuators = clampCount(records::fromBE32(record.numValuators));
    uint32_t buttons = clampCount(records::fromBE32(record.numButtons));
    for (uint32_t k = 1; k <= valuators; ++k) {
        row.valuators.push_back(record.getValuator(k));
    }
    for (uint32_t b = 1; b <= buttons; ++b) {
        row.buttons.push_back(record.getButton(b));
    }
    return row;
}

bool takeSnapshot(const storage::StorageReader& reader, Snapshot& snapshot) {
    std::vector<TraData> trackers;
    std::vector<ConData> controllers;
    if (!reader.copyTrackers(trackers) || !reader.copyControllers(controllers)) {
        return false;
    }
    snapshot.trackers.clear();
    snapshot.controllers.clear();
    for (const TraData& record : trackers) {
        snapshot.trackers.push_back(decodeTracker(record));
    }
    for (const ConData& record : controllers) {
        snapshot.controllers.push_back(decodeController(record));
    }
    return true;
}

}  // namespace trackview
