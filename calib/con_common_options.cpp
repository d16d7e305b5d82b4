// The controller option lines: "emulatetracker", "valuatororder",
// "buttonorder" and "valuatorscale". Every check of a line precedes every
// change, so a faulty line leaves the handler exactly as it was.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "calib/con_common.h"
#include "calib/option_line.h"
#include "platform/text.h"

namespace {

using optionline::LineReader;

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
constexpr char kOutOfMemory[] = "Out of memory for ";

// A bracketed list replaces the values from the left with those it holds.
// An entry beyond float range fails the line (false, values untouched): an
// infinite pose or coefficient would poison every later value.
bool readListInto(const char* text, float* values, size_t capacity) noexcept {
    float read[6] = {};
    const size_t stored = optionline::readBracketedList(text, read, capacity < 6 ? capacity : 6);
    for (size_t i = 0; i < stored; ++i) {
        if (!std::isfinite(read[i])) {
            return false;
        }
    }
    std::copy(read, read + stored, values);
    return true;
}

}  // namespace

bool CConCommonH::parseOptions(DeviceConfig* config) {
    if (!maps_) {
        logger_.error("CConCommonH: lookup Null", true);
        return false;
    }
    if (config == nullptr) {
        logger_.error("CConCommonH: config empty", true);
        return false;
    }
    return optionline::readLines(*config, [this](ConfigLine& line, bool) { return readOption(line); });
}

struct CConCommonH::Option {
    const char* name;  // any case
    const char* label;
    // Null for a line left as it is.
    bool (CConCommonH::*parse)(const LineReader& option);
};

const CConCommonH::Option CConCommonH::kOptions[] = {
    {"emulatetracker", kEmulateLabel, &CConCommonH::parseEmulateTracker},
    {"valuatororder", kOrderLabel, &CConCommonH::parseOrder<false>},
    {"buttonorder", kOrderLabel, &CConCommonH::parseOrder<true>},
    {"valuatorscale", kScaleLabel, &CConCommonH::parseValuatorScale},
    // Orders of the controllers themselves: an input connector keeps its own.
    {"controllerorder", "", nullptr},
    {"unitorder", "", nullptr},
    {"order", "", nullptr},
};

// True for a line that is not ours: "controllerorder", "unitorder" and
// "order" change nothing on an input connector (always so here), and other
// keywords belong to other readers.
bool CConCommonH::readOption(ConfigLine& line) {
    for (const Option& option : kOptions) {
        if (!optionline::keywordIs(line, option.name)) {
            continue;
        }
        LineReader o(line, logger_, option.label);
        return option.parse == nullptr || ((this->*option.parse)(o) && o.taken());
    }
    return true;
}

const char* CConCommonH::optionKeyword(size_t index) noexcept {
    return index < std::size(kOptions) ? kOptions[index].name : nullptr;
}

// The checks every controller line begins with: an argument at all, a
// valid controller number, then at least `needed` arguments.
ControllerMap* CConCommonH::lineController(const LineReader& o, const char* idLabel, int needed, uint32_t& c) {
    if (o.count() == 0) {
        o.fail(optionline::kIncomplete);
        return nullptr;
    }
    c = o.id(0);
    ControllerMap* map = mapOf(c);
    if (map == nullptr) {
        o.fail(kInvalidController, idLabel);
        return nullptr;
    }
    if (o.count() < needed) {
        o.fail(optionline::kIncomplete);
        return nullptr;
    }
    return map;
}

bool CConCommonH::parseEmulateTracker(const LineReader& o) {
    uint32_t c = 0;
    const ControllerMap* map = lineController(o, kEmulateIdLabel, 2, c);
    if (map == nullptr) {
        return false;
    }
    float pose[TrackerEmulation::kComponents] = {};
    if (!readListInto(o.arg(1), pose, TrackerEmulation::kComponents)) {
        return o.fail(optionline::kInvalidArg);
    }
    if (!o.countWithin(8, 9)) {
        return false;
    }
    uint32_t assign[TrackerEmulation::kComponents] = {};
    for (int i = 0; i < TrackerEmulation::kComponents; ++i) {
        assign[i] = o.id(2 + i);
        if (assign[i] > map->numValuators || assign[i] > ControllerMap::kMaxValuators) {
            return o.fail(kInvalidValuator, kEmulateIdLabel);
        }
    }
    uint32_t resetButton = 0;
    if (o.count() == 9) {
        resetButton = o.id(8);
        if (resetButton == 0 || resetButton > map->numButtons || resetButton > ControllerMap::kMaxButtons) {
            return o.fail(kInvalidButton, kEmulateIdLabel, ". Ignored.");
        }
    }
    return setEmulation(c, 0, pose, assign, resetButton) || o.fail(kOutOfMemory);
}

template <bool kButtons>
bool CConCommonH::parseOrder(const LineReader& o) {
    uint32_t c = 0;
    ControllerMap* map = lineController(o, kOrderIdLabel, 1, c);
    if (map == nullptr) {
        return false;
    }
    const uint32_t capacity = kButtons ? ControllerMap::kMaxButtons : ControllerMap::kMaxValuators;
    const uint32_t limit = !limitToCounts_ ? capacity : kButtons ? map->numButtons : map->numValuators;
    uint32_t entries[ConfigLine::kMaxArgs] = {};
    uint32_t largest = 0;
    const int listLength = o.count() - 1;
    for (int p = 0; p < listLength; ++p) {
        entries[p] = o.id(p + 1);
        if (entries[p] == 0 && optionline::startsWithLetter(o.arg(p + 1))) {
            return o.fail(optionline::kInvalidArg);
        }
        for (int q = p + 1; q < listLength && entries[p] != 0; ++q) {
            if (o.id(q + 1) == entries[p]) {
                return o.fail(kSameId, kOrderIdLabel);
            }
        }
        largest = entries[p] > largest ? entries[p] : largest;
    }
    if (largest > limit || largest > capacity) {
        return o.fail(kInvalidId, kOrderIdLabel);
    }
    uint32_t* order = kButtons ? map->buttonOrder : map->valuatorOrder;
    (kButtons ? map->numButtons : map->numValuators) = largest;
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

bool CConCommonH::parseValuatorScale(const LineReader& o) {
    uint32_t c = 0;
    ControllerMap* map = lineController(o, kScaleIdLabel, 3, c);
    if (map == nullptr) {
        return false;
    }
    float coefficients[4] = {};  // a3, a2, a1, a0
    const char* factorText = o.arg(1);
    if (factorText[0] == '[') {
        if (!readListInto(factorText, coefficients, 4)) {
            return o.fail(optionline::kInvalidArg);
        }
        if (coefficients[0] == 0.0f && coefficients[1] == 0.0f && coefficients[2] == 0.0f && coefficients[3] == 0.0f) {
            return o.fail(optionline::kIncomplete);
        }
    } else if (!optionline::readFloatArg(factorText, coefficients[2])) {
        return o.fail(optionline::kInvalidArg);
    }
    bool selected[ControllerMap::kMaxValuators] = {};
    for (int i = 2; i < o.count(); ++i) {
        if (platform::equalsIgnoreCase(o.arg(i), "all")) {
            for (bool& s : selected) {
                s = true;
            }
            break;
        }
        const uint32_t k = o.id(i);
        if (k == 0 || k > map->numValuators || k > ControllerMap::kMaxValuators) {
            return o.fail(kInvalidValuator, kScaleIdLabel);
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
