#include "tools/trackview/snapshot_format.h"

#include <charconv>
#include <cmath>

namespace trackview {

namespace {

constexpr size_t kLineWidth = 79;  // one less than the terminal: no wrap at the edge

// Wider texts just take more room.
std::string rightAligned(const std::string& text, size_t width) {
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

// Fixed-point text, right-aligned in `width`.
std::string fixed(double value, int precision, size_t width) {
    char buffer[64];
    auto [end, code] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    return rightAligned(code == std::errc() ? std::string(buffer, end) : std::string("?"), width);
}

std::string ageText(uint32_t seconds, uint32_t microseconds, double now) {
    if (seconds == 0 && microseconds == 0) {
        return "-";  // never written
    }
    double ageMillis = (now - (static_cast<double>(seconds) + microseconds / 1.0e6)) * 1000.0;
    if (ageMillis < 0.0) {
        ageMillis = 0.0;  // written within the clock's millisecond
    }
    if (ageMillis >= 1.0e7) {
        return "old";
    }
    return fixed(ageMillis, 0, 0);
}

std::string rateText(const RateMeter* rates, uint32_t id, bool tracker) {
    if (rates == nullptr) {
        return "-";
    }
    double rate = tracker ? rates->trackerRate(id) : rates->controllerRate(id);
    return rate < 0.0 ? "-" : fixed(rate, 1, 0);
}

// Appends words after `prefix`, starting a new indented line before the width.
void appendWrapped(std::string& out, const std::string& prefix, const std::vector<std::string>& words) {
    std::string line = prefix;
    const std::string indent(prefix.size(), ' ');
    bool lineHasWord = false;
    for (const std::string& word : words) {
        if (lineHasWord && line.size() + 1 + word.size() > kLineWidth) {
            out += line + "\n";
            line = indent;
            lineHasWord = false;
        }
        line += (lineHasWord ? " " : "") + word;
        lineHasWord = true;
    }
    out += line + "\n";
}

// The section's title and, when it has rows, their column heads.
bool beginSection(std::string& out, const char* title, size_t rows, const char* note, const char* columns) {
    out += title + (" (" + std::to_string(rows) + ")") + note + "\n";
    out += rows == 0 ? "  none\n" : columns;
    return rows != 0;
}

std::string ageColumn(uint32_t seconds, uint32_t microseconds, const TableContext& context) {
    return " " + rightAligned(ageText(seconds, microseconds, context.nowSeconds), 7);
}

std::string rateColumn(uint32_t id, bool tracker, const TableContext& context) {
    return " " + rightAligned(rateText(context.rates, id, tracker), 7);
}

void formatTrackers(std::string& out, const Snapshot& snapshot, const TableContext& context) {
    if (!beginSection(out, "TRACKERS", snapshot.trackers.size(), "  x y z in feet, angles in degrees",
                      " id         x         y         z      azim      elev      roll  age ms      Hz\n")) {
        return;
    }
    for (const TrackerRow& row : snapshot.trackers) {
        std::string line = rightAligned(std::to_string(row.id), 3);
        for (float value : {row.x, row.y, row.z, row.azim, row.elev, row.roll}) {
            line += " " + fixed(value, 3, 9);
        }
        out += line + ageColumn(row.seconds, row.microseconds, context) + rateColumn(row.id, true, context) + "\n";
    }
}

void formatControllers(std::string& out, const Snapshot& snapshot, const TableContext& context) {
    if (!beginSection(out, "CONTROLLERS", snapshot.controllers.size(), "", " id  age ms      Hz  pressed buttons\n")) {
        return;
    }
    for (const ControllerRow& row : snapshot.controllers) {
        std::string head = rightAligned(std::to_string(row.id), 3) + ageColumn(row.seconds, row.microseconds, context) +
                           rateColumn(row.id, false, context) + "  ";
        std::vector<std::string> pressed;
        for (size_t b = 0; b < row.buttons.size(); ++b) {
            if (row.buttons[b] != 0) {
                pressed.push_back(std::to_string(b + 1));
            }
        }
        if (pressed.empty()) {
            pressed.push_back("none");
        }
        appendWrapped(out, head, pressed);
        for (size_t first = 0; first < row.valuators.size(); first += 8) {
            size_t last = first + 8 < row.valuators.size() ? first + 8 : row.valuators.size();
            std::string line = rightAligned("v" + std::to_string(first + 1) + "-" + std::to_string(last), 9);
            for (size_t k = first; k < last; ++k) {
                line += " " + fixed(row.valuators[k], 3, 7);
            }
            out += line + "\n";
        }
    }
}

}  // namespace

std::string floatText(float value) {
    if (!std::isfinite(value)) {
        return "null";  // JSON has no NaN or infinity; decoded records never hold them
    }
    char buffer[32];
    auto [end, code] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return code == std::errc() ? std::string(buffer, end) : std::string("null");
}

std::string formatTable(const Snapshot& snapshot, const TableContext& context) {
    std::string out =
        "storage \"" + context.storageName + "\"  host process " + std::to_string(context.hostProcessId) + "\n";
    formatTrackers(out, snapshot, context);
    formatControllers(out, snapshot, context);
    return out;
}

std::string fitToScreen(const std::string& table, int rows, int columns) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < table.size();) {
        size_t end = table.find('\n', start);
        end = end == std::string::npos ? table.size() : end;
        lines.push_back(table.substr(start, end - start));
        start = end + 1;
    }
    // The cursor rests on the last row, and the last column is left free:
    // writing there makes some terminals scroll or wrap.
    size_t room = rows > 1 ? static_cast<size_t>(rows - 1) : 0;
    size_t width = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
    if (lines.size() > room && room > 0) {
        size_t hidden = lines.size() - (room - 1);
        lines.resize(room - 1);
        lines.push_back("... " + std::to_string(hidden) + " more lines do not fit the terminal");
    }
    lines.resize(lines.size() < room ? lines.size() : room);
    std::string out;
    for (const std::string& line : lines) {
        out += line.substr(0, width) + "\n";
    }
    return out;
}

std::string formatJson(const Snapshot& snapshot) {
    std::string out = "{\"trackers\":[";
    for (size_t i = 0; i < snapshot.trackers.size(); ++i) {
        const TrackerRow& row = snapshot.trackers[i];
        out += i == 0 ? "{" : ",{";
        out += "\"id\":" + std::to_string(row.id);
        out += ",\"x\":" + floatText(row.x) + ",\"y\":" + floatText(row.y) + ",\"z\":" + floatText(row.z);
        out += ",\"azim\":" + floatText(row.azim) + ",\"elev\":" + floatText(row.elev) +
               ",\"roll\":" + floatText(row.roll);
        out += ",\"sec\":" + std::to_string(row.seconds) + ",\"usec\":" + std::to_string(row.microseconds) + "}";
    }
    out += "],\"controllers\":[";
    for (size_t i = 0; i < snapshot.controllers.size(); ++i) {
        const ControllerRow& row = snapshot.controllers[i];
        out += i == 0 ? "{" : ",{";
        out += "\"id\":" + std::to_string(row.id) + ",\"valuators\":[";
        for (size_t k = 0; k < row.valuators.size(); ++k) {
            out += (k == 0 ? "" : ",") + floatText(row.valuators[k]);
        }
        out += "],\"buttons\":[";
        for (size_t b = 0; b < row.buttons.size(); ++b) {
            out += (b == 0 ? "" : ",") + std::to_string(row.buttons[b]);
        }
        out += "],\"sec\":" + std::to_string(row.seconds) + ",\"usec\":" + std::to_string(row.microseconds) + "}";
    }
    out += "]}\n";
    return out;
}

}  // namespace trackview
