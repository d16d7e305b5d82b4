// Option lines of the tracker calibration handler: keywords, count rules,
// units, messages and the rule that drops geometry lines after an error.
#include <cstring>
#include <new>

#include "calib/option_line.h"
#include "calib/tra_common.h"

namespace {

constexpr char kInvalidUnit[] = "Invalid unit found for ";
constexpr char kInvalidString[] = "Invalid string found for ";
constexpr char kTrackerIdInvalid[] = "Invalid tracker ID found for ";
constexpr char kOrderOnInput[] = "Can not change the order on input connector at line ";

}  // namespace

// The line being read, its label and the one way to fail it.
struct CTraCommonH::OptionLine {
    ConfigLine& line;
    const char* label;
    const CLogH& log;
    int count;

    const char* arg(int index) const noexcept { return optionline::argText(line, index); }

    bool fail(const char* reason) const noexcept {
        optionline::reportLineError(log, reason, label, line.lineNumber);
        return false;
    }

    // Too few or too many arguments for minimum..maximum.
    bool countWithin(int minimum, int maximum) const noexcept {
        if (count < minimum) {
            return fail(optionline::kIncomplete);
        }
        if (count > maximum) {
            return fail(optionline::kTooManyArgs);
        }
        return true;
    }

    // `n` numbers from argument `first` on.
    bool numbers(int first, int n, float* values) const noexcept {
        for (int i = 0; i < n; ++i) {
            if (!optionline::readFloatArg(arg(first + i), values[i])) {
                return fail(optionline::kInvalidArg);
            }
        }
        return true;
    }

    bool taken() const noexcept {
        optionline::markUsed(line);
        return true;
    }
};

bool CTraCommonH::parseOptions(DeviceConfig* config) {
    if (trackers_.empty()) {
        logger_.error("CTraCommonH: lookup is Null.", true);
        return false;
    }
    if (config == nullptr) {
        logger_.error("CTraCommonH: config is empty.", true);
        return false;
    }
    bool failed = false;
    const uint32_t lines = config->numLines < DeviceConfig::kMaxLines ? config->numLines : DeviceConfig::kMaxLines;
    for (uint32_t i = 0; i < lines; ++i) {
        if (!readOption(config->lines[i], failed)) {
            failed = true;
        }
    }
    return !failed;
}

// True for an unknown keyword too: it is someone else's line.
bool CTraCommonH::readOption(ConfigLine& line, bool afterError) {
    auto option = [&](const char* label) { return OptionLine{line, label, logger_, optionline::argCount(line)}; };
    auto is = [&](const char* keyword) { return optionline::keywordIs(line, keyword); };

    if (is("transmitteroffset")) {
        OptionLine o = option("TransmitterOffset at line ");
        return readTransmitterOffset(o, afterError);
    }
    if (is("transmitterrotation")) {
        OptionLine o = option("TransmitterRotation at line ");
        return readTransmitterRotation(o, afterError);
    }
    if (is("transmitterrotationmatrix")) {
        OptionLine o = option("TransmitterRotationMatrix at line ");
        return readTransmitterRotationMatrix(o, afterError);
    }
    if (is("sensoroffset")) {
        OptionLine o = option("SensorOffset at line ");
        return readSensorLength(o, afterError, false);
    }
    if (is("sensortranslation")) {
        OptionLine o = option("SensorTranslation at line ");
        return readSensorLength(o, afterError, true);
    }
    if (is("sensorrotation")) {
        OptionLine o = option("SensorRotation at line ");
        return readSensorRotation(o, afterError);
    }
    if (is("sensorrotationmatrix")) {
        OptionLine o = option("SensorRotationMatrix at line ");
        return readSensorRotationMatrix(o, afterError);
    }
    if (is("calibration") || is("calib")) {
        OptionLine o = option("Calibration at line ");
        return readCalibration(o);
    }
    if (is("trackerorder") || is("unitorder") || is("order")) {
        OptionLine o = option("Order at line ");
        return readOrder(o);
    }
    // On an output connector the CAVE keywords belong to nobody here.
    if (inputConnector && (is("cavecoord") || is("cavecoordinates"))) {
        OptionLine o = option("CAVECoord at line ");
        return readCaveCoordinates(o);
    }
    return true;
}

// Geometry lines after an earlier error are checked (id, count, the
// numbers before the unit or angle) and then dropped: a calibration that
// is partly wrong must not be half applied.

bool CTraCommonH::readTransmitterOffset(OptionLine& o, bool afterError) {
    float xyz[3];
    if (!o.countWithin(3, 4) || !o.numbers(0, 3, xyz)) {
        return false;
    }
    if (afterError) {
        return true;
    }
    float factor = 1.0f;
    if (o.count == 4 && !optionline::lookUpUnit(o.arg(3), factor)) {
        return o.fail(kInvalidString);
    }
    for (float& v : xyz) {
        v *= factor;
    }
    if (xyz[0] != 0.0f || xyz[1] != 0.0f || xyz[2] != 0.0f) {
        setTransmitterOffset(matTranslation(xyz[0], xyz[1], xyz[2]));
    }
    return o.taken();
}

bool CTraCommonH::readTransmitterRotation(OptionLine& o, bool afterError) {
    float axis[3];
    float angle = 0.0f;
    if (!o.countWithin(4, 4) || !o.numbers(0, 3, axis)) {
        return false;
    }
    if (afterError) {
        return true;
    }
    if (!o.numbers(3, 1, &angle)) {
        return false;
    }
    setTransmitterRotation(matAxisAngle(axis[0], axis[1], axis[2], angle));
    return o.taken();
}

bool CTraCommonH::readTransmitterRotationMatrix(OptionLine& o, bool afterError) {
    float q[9];
    if (!o.countWithin(9, 9) || !o.numbers(0, 9, q)) {
        return false;
    }
    if (afterError) {
        return true;
    }
    setTransmitterRotation(matFromValues(q));
    return o.taken();
}

bool CTraCommonH::readSlotId(OptionLine& o, TrackerCalib*& slot) {
    if (o.count == 0) {
        return o.fail(optionline::kIncomplete);
    }
    const uint32_t id = optionline::readUnsigned(o.arg(0)).value;
    if (id == 0 || id > trackers_.size()) {
        return o.fail(kTrackerIdInvalid);
    }
    slot = &trackers_[id - 1];
    return true;
}

bool CTraCommonH::readSensorLength(OptionLine& o, bool afterError, bool isTranslation) {
    TrackerCalib* slot = nullptr;
    float xyz[3];
    if (!readSlotId(o, slot) || !o.countWithin(4, 5) || !o.numbers(1, 3, xyz)) {
        return false;
    }
    if (afterError) {
        return true;
    }
    float factor = 1.0f;
    if (o.count == 5 && !optionline::lookUpUnit(o.arg(4), factor)) {
        return o.fail(kInvalidUnit);
    }
    for (float& v : xyz) {
        v *= factor;
    }
    if (isTranslation) {
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

bool CTraCommonH::readSensorRotation(OptionLine& o, bool afterError) {
    TrackerCalib* slot = nullptr;
    float axis[3];
    float angle = 0.0f;
    if (!readSlotId(o, slot) || !o.countWithin(5, 5) || !o.numbers(1, 3, axis)) {
        return false;
    }
    if (afterError) {
        return true;
    }
    if (!o.numbers(4, 1, &angle)) {
        return false;
    }
    slot->sensorRotation = matAxisAngle(axis[0], axis[1], axis[2], angle);
    slot->sensorTransform = matTransform(slot->sensorRotation, slot->sensorOffset);
    slot->sensorRotationSet = true;
    return o.taken();
}

bool CTraCommonH::readSensorRotationMatrix(OptionLine& o, bool afterError) {
    TrackerCalib* slot = nullptr;
    float q[9];
    if (!readSlotId(o, slot) || !o.countWithin(10, 10) || !o.numbers(1, 9, q)) {
        return false;
    }
    if (afterError) {
        return true;
    }
    slot->sensorRotation = matFromValues(q);
    slot->sensorTransform = matTransform(slot->sensorRotation, slot->sensorOffset);
    slot->sensorRotationSet = true;
    return o.taken();
}

bool CTraCommonH::readCalibration(OptionLine& o) {
    if (!o.countWithin(1, 1 + kMaxCalibArgs)) {
        return false;
    }
    const char* name = o.arg(0);
    // Cutting a long name would load a different file.
    if (std::strlen(name) > static_cast<size_t>(kMaxLibraryNameLength)) {
        return o.fail(kInvalidString);
    }
    std::vector<std::string> args;
    for (int i = 1; i < o.count; ++i) {
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

bool CTraCommonH::readOrder(OptionLine& o) {
    if (inputConnector) {
        optionline::reportLineError(logger_, kOrderOnInput, "", o.line.lineNumber);
        return false;
    }
    const uint32_t n = static_cast<uint32_t>(o.count) < outputCount ? static_cast<uint32_t>(o.count) : outputCount;
    uint32_t ids[ConfigLine::kMaxArgs];
    for (uint32_t i = 0; i < n; ++i) {
        ids[i] = optionline::readUnsigned(o.arg(static_cast<int>(i))).value;
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

bool CTraCommonH::readCaveCoordinates(OptionLine& o) {
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
