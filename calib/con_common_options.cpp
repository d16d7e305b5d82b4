// The controller option lines: "emulatetracker", "valuatororder",
// "buttonorder" and "valuatorscale". Every check of a line precedes every
// change, so a faulty line leaves the handler exactly as it was.
#include <cmath>
#include <cstdio>

#include "calib/con_common.h"
#include "calib/option_line.h"
#include "platform/text.h"

namespace {

constexpr char kEmulateLabel[] = "EmulateTracker at line ";
constexpr char kEmulateIdLabel[] = "EmulateTracker option at line ";
constexpr char kOrderLabel[] = "Order at line ";
constexpr char kOrderIdLabel[] = "Order option at line ";
constexpr char kScaleLabel[] = "ValuatorScale at line ";
constexpr char kScaleIdLabel[] = "ValuatorScale option at line ";

constexpr char kInvalidController[] = "Invalid controller ID found for ";
constexpr char kInvalidValuator[] = "Invalid valuator ID found for ";
constexpr char kInvalidButton[] = "Invalid button ID found for ";
constexpr char kSameId[] = "Same ID found more than once in ";
constexpr char kInvalidId[] = "Invalid ID found in ";

uint32_t readId(const ConfigLine& line, int index) noexcept {
    return optionline::readUnsigned(optionline::argText(line, index)).value;
}

// A bracketed list replaces the values from the left with those it holds.
// A value too large for a float ends the list there: an infinite pose or
// coefficient would poison every later value.
void readListInto(const char* text, float* values, size_t capacity) noexcept {
    float read[6] = {};
    size_t stored = optionline::readBracketedList(text, read, capacity < 6 ? capacity : 6);
    for (size_t i = 0; i < stored && std::isfinite(read[i]); ++i) {
        values[i] = read[i];
    }
}

}  // namespace

ControllerMap* CConCommonH::lineController(const ConfigLine& line, const char* label, uint32_t& c) {
    c = readId(line, 0);
    ControllerMap* map = mapOf(c);
    if (map == nullptr) {
        optionline::reportLineError(logger, kInvalidController, label, line.lineNumber);
    }
    return map;
}

bool CConCommonH::parseOptions(DeviceConfig* config) {
    if (!maps) {
        logger.error("CConCommonH: lookup Null", true);
        return false;
    }
    if (config == nullptr) {
        logger.error("CConCommonH: config empty", true);
        return false;
    }
    bool allTaken = true;
    const uint32_t lines = config->numLines < DeviceConfig::kMaxLines ? config->numLines : DeviceConfig::kMaxLines;
    for (uint32_t i = 0; i < lines; ++i) {
        ConfigLine& line = config->lines[i];
        bool known = true;
        bool taken = false;
        if (optionline::keywordIs(line, "emulatetracker")) {
            taken = parseEmulateTracker(line);
        } else if (optionline::keywordIs(line, "valuatororder")) {
            taken = parseOrder(line, false);
        } else if (optionline::keywordIs(line, "buttonorder")) {
            taken = parseOrder(line, true);
        } else if (optionline::keywordIs(line, "valuatorscale")) {
            taken = parseValuatorScale(line);
        } else {
            // "controllerorder", "unitorder" and "order" change nothing on an
            // input connector (always so here); other keywords are not ours.
            known = false;
        }
        if (!known) {
            continue;
        }
        if (taken) {
            optionline::markUsed(line);
        } else {
            allTaken = false;
        }
    }
    return allTaken;
}

bool CConCommonH::parseEmulateTracker(ConfigLine& line) {
    const int n = optionline::argCount(line);
    const int32_t number = line.lineNumber;
    if (n == 0) {
        optionline::reportLineError(logger, optionline::kIncomplete, kEmulateLabel, number);
        return false;
    }
    uint32_t c = 0;
    const ControllerMap* map = lineController(line, kEmulateIdLabel, c);
    if (map == nullptr) {
        return false;
    }
    if (n < 2) {
        optionline::reportLineError(logger, optionline::kIncomplete, kEmulateLabel, number);
        return false;
    }
    float pose[TrackerEmulation::kComponents] = {};
    readListInto(optionline::argText(line, 1), pose, TrackerEmulation::kComponents);
    if (n < 8) {
        optionline::reportLineError(logger, optionline::kIncomplete, kEmulateLabel, number);
        return false;
    }
    if (n > 9) {
        optionline::reportLineError(logger, optionline::kTooManyArgs, kEmulateLabel, number);
        return false;
    }
    uint32_t assign[TrackerEmulation::kComponents] = {};
    for (int i = 0; i < TrackerEmulation::kComponents; ++i) {
        assign[i] = readId(line, 2 + i);
        if (assign[i] > map->numValuators || assign[i] > ControllerMap::kMaxValuators) {
            optionline::reportLineError(logger, kInvalidValuator, kEmulateIdLabel, number);
            return false;
        }
    }
    uint32_t resetButton = 0;
    if (n == 9) {
        resetButton = readId(line, 8);
        if (resetButton == 0 || resetButton > map->numButtons || resetButton > ControllerMap::kMaxButtons) {
            optionline::reportLineError(logger, kInvalidButton, kEmulateIdLabel, number, ". Ignored.");
            return false;
        }
    }
    return setEmulation(c, 0, pose, assign, resetButton);
}

bool CConCommonH::parseOrder(ConfigLine& line, bool buttons) {
    const int n = optionline::argCount(line);
    const int32_t number = line.lineNumber;
    if (n == 0) {
        optionline::reportLineError(logger, optionline::kIncomplete, kOrderLabel, number);
        return false;
    }
    uint32_t c = 0;
    ControllerMap* map = lineController(line, kOrderIdLabel, c);
    if (map == nullptr) {
        return false;
    }
    const uint32_t capacity = buttons ? ControllerMap::kMaxButtons : ControllerMap::kMaxValuators;
    const uint32_t limit = !limitToCounts ? capacity : buttons ? map->numButtons : map->numValuators;
    uint32_t entries[ConfigLine::kMaxArgs] = {};
    uint32_t largest = 0;
    const int listLength = n - 1;
    for (int p = 0; p < listLength; ++p) {
        const char* text = optionline::argText(line, p + 1);
        entries[p] = optionline::readUnsigned(text).value;
        if (entries[p] == 0 && optionline::startsWithLetter(text)) {
            optionline::reportLineError(logger, optionline::kInvalidArg, kOrderLabel, number);
            return false;
        }
        for (int q = p + 1; q < listLength && entries[p] != 0; ++q) {
            if (readId(line, q + 1) == entries[p]) {
                optionline::reportLineError(logger, kSameId, kOrderIdLabel, number);
                return false;
            }
        }
        largest = entries[p] > largest ? entries[p] : largest;
    }
    if (largest > limit || largest > capacity) {
        optionline::reportLineError(logger, kInvalidId, kOrderIdLabel, number);
        return false;
    }
    uint32_t* order = buttons ? map->buttonOrder : map->valuatorOrder;
    (buttons ? map->numButtons : map->numValuators) = largest;
    for (uint32_t k = 0; k < capacity; ++k) {
        order[k] = 0;
    }
    for (int p = 0; p < listLength; ++p) {
        if (entries[p] != 0) {
            order[entries[p] - 1] = static_cast<uint32_t>(p + 1);
        }
    }
    return true;
}

bool CConCommonH::parseValuatorScale(ConfigLine& line) {
    const int n = optionline::argCount(line);
    const int32_t number = line.lineNumber;
    if (n == 0) {
        optionline::reportLineError(logger, optionline::kIncomplete, kScaleLabel, number);
        return false;
    }
    uint32_t c = 0;
    ControllerMap* map = lineController(line, kScaleIdLabel, c);
    if (map == nullptr) {
        return false;
    }
    if (n < 3) {
        optionline::reportLineError(logger, optionline::kIncomplete, kScaleLabel, number);
        return false;
    }
    float coefficients[4] = {};  // a3, a2, a1, a0
    const char* factorText = optionline::argText(line, 1);
    if (factorText[0] == '[') {
        readListInto(factorText, coefficients, 4);
        if (coefficients[0] == 0.0f && coefficients[1] == 0.0f && coefficients[2] == 0.0f &&
            coefficients[3] == 0.0f) {
            optionline::reportLineError(logger, optionline::kIncomplete, kScaleLabel, number);
            return false;
        }
    } else if (!optionline::readFloatArg(factorText, coefficients[2])) {
        optionline::reportLineError(logger, optionline::kInvalidArg, kScaleLabel, number);
        return false;
    }
    bool selected[ControllerMap::kMaxValuators] = {};
    for (int i = 2; i < n; ++i) {
        const char* text = optionline::argText(line, i);
        if (platform::equalsIgnoreCase(text, "all")) {
            for (bool& s : selected) {
                s = true;
            }
            break;
        }
        uint32_t k = optionline::readUnsigned(text).value;
        if (k == 0 || k > map->numValuators || k > ControllerMap::kMaxValuators) {
            optionline::reportLineError(logger, kInvalidValuator, kScaleIdLabel, number);
            return false;
        }
        selected[k - 1] = true;
    }
    for (uint32_t k = 0; k < ControllerMap::kMaxValuators; ++k) {
        if (selected[k]) {
            for (int j = 0; j < 4; ++j) {
                map->valuatorScale[k][j] = coefficients[j];
            }
        }
    }
    return true;
}
