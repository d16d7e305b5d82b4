// Option lines of the tracker calibration handler: keywords, count rules,
// units, messages and the rule that drops geometry lines after an error.
#include <cmath>
#include <cstring>
#include <new>

#include "calib/option_line.h"
#include "calib/tra_common.h"

namespace {

using optionline::LineReader;

constexpr char kInvalidUnit[] = "Invalid unit found for ";
constexpr char kInvalidString[] = "Invalid string found for ";
constexpr char kTrackerIdInvalid[] = "Invalid tracker ID found for ";
constexpr char kOrderOnInput[] = "Can not change the order on input connector at line ";

// What became of the values of a geometry line.
enum class Values { failed, dropped, read };

// Geometry lines after an earlier error are checked (count and the numbers
// before the unit or angle) and then dropped: a calibration that is partly
// wrong must not be half applied.

// x y z [unit] from argument `first` on, converted to feet. An unknown
// unit word fails with `unitReason`.
Values readLengths(LineReader& o, int first, const char* unitReason, bool afterError, float (&xyz)[3]) {
    if (!o.countWithin(first + 3, first + 4) || !o.numbers(first, 3, xyz)) {
        return Values::failed;
    }
    if (afterError) {
        return Values::dropped;
    }
    float factor = 1.0f;
    if (o.count() == first + 4 && !optionline::lookUpUnit(o.arg(first + 3), factor)) {
        o.fail(unitReason);
        return Values::failed;
    }
    // A value that fits a float only before its unit factor would store an
    // infinite length: refuse it like any unreadable number.
    for (float& v : xyz) {
        v *= factor;
        if (!std::isfinite(v)) {
            o.fail(optionline::kInvalidArg);
            return Values::failed;
        }
    }
    return Values::read;
}

// An axis and an angle, or nine values, from argument `first` on.
Values readRotation(LineReader& o, int first, bool nineValues, bool afterError, Matrix4& rotation) {
    const int values = nineValues ? 9 : 4;
    float q[9] = {};
    // The angle is examined only for a line that is kept.
    if (!o.countWithin(first + values, first + values) || !o.numbers(first, nineValues ? 9 : 3, q)) {
        return Values::failed;
    }
    if (afterError) {
        return Values::dropped;
    }
    if (nineValues) {
        rotation = matFromValues(q);
    } else if (o.numbers(first + 3, 1, &q[3])) {
        rotation = matAxisAngle(q[0], q[1], q[2], q[3]);
    } else {
        return Values::failed;
    }
    return Values::read;
}

}  // namespace

bool CTraCommonH::parseOptions(DeviceConfig* config) {
    if (trackers_.empty()) {
        logger_.error("CTraCommonH: lookup is Null.", true);
        return false;
    }
    if (config == nullptr) {
        logger_.error("CTraCommonH: config is empty.", true);
        return false;
    }
    return optionline::readLines(*config,
                                 [this](ConfigLine& line, bool afterError) { return readOption(line, afterError); });
}

struct CTraCommonH::Option {
    const char* keywords[3];  // any case; the first that matches decides
    const char* label;
    bool (CTraCommonH::*read)(LineReader& option, bool afterError);
};

// Tried in this order.
const CTraCommonH::Option CTraCommonH::kOptions[] = {
    {{"transmitteroffset"}, "TransmitterOffset at line ", &CTraCommonH::readTransmitterOffset},
    {{"transmitterrotation"}, "TransmitterRotation at line ", &CTraCommonH::readTransmitterRotation<false>},
    {{"transmitterrotationmatrix"}, "TransmitterRotationMatrix at line ", &CTraCommonH::readTransmitterRotation<true>},
    {{"sensoroffset"}, "SensorOffset at line ", &CTraCommonH::readSensorLengths<false>},
    {{"sensortranslation"}, "SensorTranslation at line ", &CTraCommonH::readSensorLengths<true>},
    {{"sensorrotation"}, "SensorRotation at line ", &CTraCommonH::readSensorRotation<false>},
    {{"sensorrotationmatrix"}, "SensorRotationMatrix at line ", &CTraCommonH::readSensorRotation<true>},
    {{"calibration", "calib"}, "Calibration at line ", &CTraCommonH::readCalibration},
    {{"trackerorder", "unitorder", "order"}, "Order at line ", &CTraCommonH::readOrder},
    {{"cavecoord", "cavecoordinates"}, "CAVECoord at line ", &CTraCommonH::readCaveCoordinates},
};

// True for an unknown keyword too: it is someone else's line.
bool CTraCommonH::readOption(ConfigLine& line, bool afterError) {
    for (const Option& option : kOptions) {
        for (const char* keyword : option.keywords) {
            if (keyword != nullptr && optionline::keywordIs(line, keyword)) {
                LineReader o(line, logger_, option.label);
                return (this->*option.read)(o, afterError);
            }
        }
    }
    return true;
}

const char* CTraCommonH::optionKeyword(size_t index) noexcept {
    for (const Option& option : kOptions) {
        for (const char* keyword : option.keywords) {
            if (keyword != nullptr && index-- == 0) {
                return keyword;
            }
        }
    }
    return nullptr;
}

bool CTraCommonH::readTransmitterOffset(LineReader& o, bool afterError) {
    float xyz[3];
    const Values values = readLengths(o, 0, kInvalidString, afterError, xyz);
    if (values != Values::read) {
        return values == Values::dropped;
    }
    if (xyz[0] != 0.0f || xyz[1] != 0.0f || xyz[2] != 0.0f) {
        setTransmitterOffset(matTranslation(xyz[0], xyz[1], xyz[2]));
    }
    return o.taken();
}

template <bool kNineValues>
bool CTraCommonH::readTransmitterRotation(LineReader& o, bool afterError) {
    Matrix4 rotation;
    const Values values = readRotation(o, 0, kNineValues, afterError, rotation);
    if (values != Values::read) {
        return values == Values::dropped;
    }
    setTransmitterRotation(rotation);
    return o.taken();
}

bool CTraCommonH::readSlotId(LineReader& o, TrackerCalib*& slot) {
    if (o.count() == 0) {
        return o.fail(optionline::kIncomplete);
    }
    const uint32_t id = o.id(0);
    if (id == 0 || id > trackers_.size()) {
        return o.fail(kTrackerIdInvalid);
    }
    slot = &trackers_[id - 1];
    return true;
}

template <bool kTranslation>
bool CTraCommonH::readSensorLengths(LineReader& o, bool afterError) {
    TrackerCalib* slot = nullptr;
    float xyz[3];
    if (!readSlotId(o, slot)) {
        return false;
    }
    const Values values = readLengths(o, 1, kInvalidUnit, afterError, xyz);
    if (values != Values::read) {
        return values == Values::dropped;
    }
    if constexpr (kTranslation) {
        for (int i = 0; i < 3; ++i) {
            slot->sensorTranslation[i] = xyz[i];
        }
        slot->sensorTranslationSet = true;
    } else {
        // A zero offset is stored like any other: it still routes the
        // tracker through the geometry.
        slot->sensorOffset = matTranslation(xyz[0], xyz[1], xyz[2]);
        slot->sensorTransform = matTransform(slot->sensorRotation, slot->sensorOffset);
        slot->sensorOffsetSet = true;
    }
    return o.taken();
}

template <bool kNineValues>
bool CTraCommonH::readSensorRotation(LineReader& o, bool afterError) {
    TrackerCalib* slot = nullptr;
    Matrix4 rotation;
    if (!readSlotId(o, slot)) {
        return false;
    }
    const Values values = readRotation(o, 1, kNineValues, afterError, rotation);
    if (values != Values::read) {
        return values == Values::dropped;
    }
    slot->sensorRotation = rotation;
    slot->sensorTransform = matTransform(slot->sensorRotation, slot->sensorOffset);
    slot->sensorRotationSet = true;
    return o.taken();
}

bool CTraCommonH::readCalibration(LineReader& o, bool) {
    if (!o.countWithin(1, 1 + kMaxCalibArgs)) {
        return false;
    }
    const char* name = o.arg(0);
    // Cutting a long name would load a different file.
    if (std::strlen(name) > static_cast<size_t>(kMaxLibraryNameLength)) {
        return o.fail(kInvalidString);
    }
    std::vector<std::string> args;
    for (int i = 1; i < o.count(); ++i) {
        args.emplace_back(o.arg(i));
    }
    calibLibrary_.reset();  // unloads the earlier library first
    calibArgs_.clear();
    std::memcpy(calibLibraryName_, name, std::strlen(name) + 1);
    // Taken even when the load fails: the loader reports that, and the
    // tracker writes then fail, which makes the problem visible.
    calibLibrary_ = std::make_unique<CCalibH>(calibLibraryName_, &logger_);
    calibArgs_.swap(args);
    return o.taken();
}

bool CTraCommonH::readOrder(LineReader& o, bool) {
    if (inputConnector) {
        return o.fail(kOrderOnInput, "");
    }
    const uint32_t count = static_cast<uint32_t>(o.count());
    const uint32_t n = count < outputCount ? count : outputCount;
    uint32_t ids[ConfigLine::kMaxArgs];
    for (uint32_t i = 0; i < n; ++i) {
        ids[i] = o.id(static_cast<int>(i));
        if (ids[i] == 0 || ids[i] > trackers_.size()) {
            return o.fail(kTrackerIdInvalid);
        }
    }
    for (TrackerCalib& slot : trackers_) {
        slot.order = 0;
    }
    // A repeated id keeps its later position.
    for (uint32_t i = 0; i < n; ++i) {
        trackers_[ids[i] - 1].order = i + 1;
    }
    return o.taken();
}

bool CTraCommonH::readCaveCoordinates(LineReader& o, bool) {
    // On an output connector the CAVE keywords belong to nobody here.
    if (!inputConnector) {
        return true;
    }
    bool value = false;
    if (!o.countWithin(1, 1)) {
        return false;
    }
    if (!optionline::readSwitch(o.arg(0), value)) {
        return o.fail(kInvalidString);
    }
    caveCoordinates = value;
    return o.taken();
}
