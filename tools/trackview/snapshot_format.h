#pragma once
// The monitor's two views of a snapshot: a table that fits an 80-column
// terminal, and JSON for scripts. Numbers are written the same in every
// locale.
#include <cstdint>
#include <string>

#include "tools/trackview/rate_meter.h"
#include "tools/trackview/snapshot.h"

namespace trackview {

struct TableContext {
    std::string storageName;
    uint32_t hostProcessId = 0;
    double nowSeconds = 0.0;           // wall clock, for the records' age
    const RateMeter* rates = nullptr;  // null: rates unknown ("-")
};

std::string formatTable(const Snapshot& snapshot, const TableContext& context);

// The table as much of it fits a terminal of rows x columns cells without
// scrolling: at most rows - 1 lines of at most columns - 1 characters; when
// lines are left out, the last line says how many.
std::string fitToScreen(const std::string& table, int rows, int columns);

// {"trackers":[{"id":1,"x":..,"y":..,"z":..,"azim":..,"elev":..,"roll":..,"sec":..,"usec":..}],
//  "controllers":[{"id":1,"valuators":[..],"buttons":[..],"sec":..,"usec":..}]} on one line.
std::string formatJson(const Snapshot& snapshot);

// Shortest text that reads back as the same float ("1.5", "-0.00001").
std::string floatText(float value);

}  // namespace trackview
