#pragma once
// CTraCommonH: a module's tracker calibration handler. Per tracker slot it
// keeps the output position and the sensor calibration; once per module the
// transmitter calibration, the optional external calibration library and
// the CAVE coordinates flag. It is filled from the module's option lines,
// applied to every tracker write, and printed in the module's information.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "calib/calib_lib.h"
#include "calib/matrix4.h"
#include "calib/option_line.h"
#include "calib/tracker_pose.h"
#include "framework/host_records.h"
#include "framework/logger.h"

// One tracker slot. Lengths in feet.
struct TrackerCalib {
    uint32_t order = 0;                // 1-based output position; 0 = not written
    Matrix4 sensorOffset = matZero();  // offset holder, in the sensor frame
    Matrix4 sensorRotation = matIdentity();
    Matrix4 sensorTransform = matIdentity();          // rotation with the offset
    float sensorTranslation[3] = {0.0f, 0.0f, 0.0f};  // added last, unrotated
    bool sensorOffsetSet = false;
    bool sensorRotationSet = false;
    bool sensorTranslationSet = false;
};

class CTraCommonH {
public:
    static constexpr int kMaxLibraryNameLength = 255;
    static constexpr int kMaxCalibArgs = 10;

    // A given logger is copied (name included), otherwise a fresh one named
    // "CTraCommonH" is made.
    explicit CTraCommonH(const CLogH* log = nullptr) noexcept;
    ~CTraCommonH();

    CTraCommonH(const CTraCommonH&) = delete;
    CTraCommonH& operator=(const CTraCommonH&) = delete;

    // Makes `count` slots with the defaults; false (nothing changes) for 0.
    bool initTrackers(uint32_t count);

    // Slot `index` (1-based) gets the output position and the given sensor
    // items; an absent item goes back to its default and its flag clears.
    bool setTracker(uint32_t index, uint32_t order, const Matrix4* offset, const Matrix4* rotation,
                    const float* translation) noexcept;

    // Reads the option lines this handler knows; false when any failed.
    // Failing lines are reported, change nothing and stay unconsumed.
    bool parseOptions(DeviceConfig* config);

    // --- Per tracker write (allocation-free) ---------------------------------

    // order + storageBase of slot `index`; 0 for a slot that does not exist.
    uint32_t storageIndex(uint32_t index) const noexcept;
    // The calibration library, then the geometry when anything is set. False
    // when the library fails (not loaded, no entry point) or the slot does
    // not exist: the record must not be written this cycle.
    bool calibratePose(uint32_t index, TrackerPose& pose) noexcept;

    // Keyword `index` (0-based) of the option lines this handler reads (any
    // case); null past the last.
    static const char* optionKeyword(size_t index) noexcept;

    // --- Report ---------------------------------------------------------------

    bool printSettings(bool showCave = true) const;

    // --- Read access -----------------------------------------------------------

    uint32_t trackerCount() const noexcept { return static_cast<uint32_t>(trackers_.size()); }
    // Slot `index` (1-based) or null.
    const TrackerCalib* tracker(uint32_t index) const noexcept;
    const Matrix4& transmitterOffset() const noexcept { return transmitterOffset_; }
    const Matrix4& transmitterRotation() const noexcept { return transmitterRotation_; }
    const Matrix4& transmitterTransform() const noexcept { return transmitterTransform_; }
    bool transmitterOffsetSet() const noexcept { return transmitterOffsetSet_; }
    bool transmitterRotationSet() const noexcept { return transmitterRotationSet_; }
    const CCalibH* calibLibrary() const noexcept { return calibLibrary_.get(); }
    const char* calibLibraryName() const noexcept { return calibLibraryName_; }
    const std::vector<std::string>& calibArgs() const noexcept { return calibArgs_; }
    const CLogH& logger() const noexcept { return logger_; }

    // Written by the module base: right after construction (the first
    // three) and after option reading (storageBase).
    bool inputConnector = true;    // order lines refused, CAVE line read
    bool caveCoordinates = false;  // reported only
    uint32_t outputCount = 0;      // the module's own plus emulated trackers
    uint32_t storageBase = 0;      // tracker records before this module's

private:
    // The option-line keywords with their readers (tra_options.cpp).
    struct Option;
    static const Option kOptions[];

    bool readOption(ConfigLine& line, bool afterError);
    // Geometry lines; after an earlier error they are checked, then dropped.
    bool readTransmitterOffset(optionline::LineReader& option, bool afterError);
    template <bool kNineValues>
    bool readTransmitterRotation(optionline::LineReader& option, bool afterError);
    template <bool kTranslation>
    bool readSensorLengths(optionline::LineReader& option, bool afterError);
    template <bool kNineValues>
    bool readSensorRotation(optionline::LineReader& option, bool afterError);
    bool readSlotId(optionline::LineReader& option, TrackerCalib*& slot);
    // The other lines are read whatever failed before them.
    bool readCalibration(optionline::LineReader& option, bool afterError);
    bool readOrder(optionline::LineReader& option, bool afterError);
    bool readCaveCoordinates(optionline::LineReader& option, bool afterError);

    void setTransmitterOffset(const Matrix4& offsetHolder) noexcept;
    void setTransmitterRotation(const Matrix4& rotation) noexcept;
    bool anyGeometrySet(const TrackerCalib& slot) const noexcept;

    std::vector<TrackerCalib> trackers_;
    Matrix4 transmitterOffset_ = matZero();
    Matrix4 transmitterRotation_ = matIdentity();
    Matrix4 transmitterTransform_ = matIdentity();
    bool transmitterOffsetSet_ = false;
    bool transmitterRotationSet_ = false;
    std::unique_ptr<CCalibH> calibLibrary_;
    char calibLibraryName_[kMaxLibraryNameLength + 1] = {};
    std::vector<std::string> calibArgs_;
    CLogH logger_;
};
