#pragma once
// CConCommonH: the framework's per-module controller handler. For every
// controller of the module it keeps the output number, which own valuator
// and button goes to which output position, a cubic scale per valuator, and
// optionally a tracker emulated from the controller's valuators (integrated
// over time, reset by a button).
//
// Controller numbers are 1-based; 0 or anything above `count` is refused by
// every operation. Valuator and button numbers are 1-based up to 32.
#include <cstdint>
#include <memory>

#include "calib/option_line.h"
#include "framework/host_records.h"
#include "framework/logger.h"
#include "framework/records.h"
#include "platform/clock.h"

// A virtual tracker driven by a controller's output valuators.
struct TrackerEmulation {
    static constexpr int kComponents = 6;  // x, y, z, azimuth, elevation, roll

    uint32_t trackerId = 0;                     // local tracker number; 0 until numbered
    float initPose[kComponents] = {};           // at start and after a reset
    uint32_t valuatorAssign[kComponents] = {};  // output valuator per component; 0 = none
    uint32_t resetButton = 0;                   // output button; 0 = none
    double lastTime = 0.0;                      // monotonic seconds of the last step; 0.0 = not started
};

struct ControllerMap {
    static constexpr uint32_t kMaxValuators = 32;
    static constexpr uint32_t kMaxButtons = 32;

    uint32_t outputId = 0;      // record id is outputId + controllerBase; 0 = no output
    uint32_t numValuators = 0;  // own valuators that are mapped, at most 32
    uint32_t numButtons = 0;    // own buttons that are mapped, at most 32
    // Index k - 1 holds own valuator (button) k's output number; 0 = dropped.
    uint32_t valuatorOrder[kMaxValuators] = {};
    uint32_t buttonOrder[kMaxButtons] = {};
    // (a3, a2, a1, a0) of a3*X^3 + a2*X^2 + a1*X + a0 per own valuator.
    float valuatorScale[kMaxValuators][4] = {};
    std::unique_ptr<TrackerEmulation> emulation;
};

class CConCommonH {
public:
    // Seconds on the clock that times the emulation steps; tests inject
    // their own.
    using ClockSource = double (*)() noexcept;

    // Copies the given logger (or makes one named "CConCommonH"), owner id 3.
    explicit CConCommonH(const CLogH* logger = nullptr);
    ~CConCommonH();
    CConCommonH(const CConCommonH&) = delete;
    CConCommonH& operator=(const CConCommonH&) = delete;

    // Makes n identity-free maps (output 0, counts 0, scales (0,0,1,0)).
    // False for n = 0 or without memory; the maps stay as they were.
    bool init(uint32_t n, bool limit) noexcept;
    bool freeMaps() noexcept;

    // Output number and counts of controller c; own valuator/button k goes
    // to output k. Counts above 32 are cut to 32 (the record's capacity).
    bool setControllerDefaults(uint32_t c, uint32_t outputId, uint32_t numValuators, uint32_t numButtons) noexcept;
    // False for a controller outside 1..count or without memory.
    bool setEmulation(uint32_t c, uint32_t trackerId, const float initPose[6], const uint32_t valuatorAssign[6],
                      uint32_t resetButton) noexcept;
    // Numbers the emulations firstId, firstId + 1, ... in controller order;
    // returns how many there are.
    uint32_t assignEmulatedIds(uint32_t firstId) noexcept;

    // Reads the controller option lines; false when any line failed.
    bool parseOptions(DeviceConfig* config);
    // Keyword `index` (0-based) of the option lines this handler knows (any
    // case); null past the last.
    static const char* optionKeyword(size_t index) noexcept;

    // Per-cycle path: none of these allocate.
    float scaleValuator(uint32_t c, uint32_t k, float x) const noexcept;
    // Fills a record whose counts are already set: its id, and the scaled and
    // reordered valuators and buttons of controller c. The device's arrays
    // are read only up to the lengths given; entries beyond read as 0.
    bool mapToRecord(uint32_t c, const float* valuators, uint32_t valuatorCount, const int32_t* buttons,
                     uint32_t buttonCount, ConData& record) const noexcept;
    bool applyEmulation(uint32_t c, TraData* traData, const ConData* conData) noexcept;
    bool resetEmulation(uint32_t c, TraData* traData, const ConData* conData) noexcept;
    double nowSeconds() const noexcept;

    void printReport() const;

    // The map of controller c, or null outside 1..count.
    const ControllerMap* controllerMap(uint32_t c) const noexcept;
    uint32_t mapCount() const noexcept { return count_; }
    bool limitsToCounts() const noexcept { return limitToCounts_; }
    const CLogH& log() const noexcept { return logger_; }
    // Null restores the system's monotonic clock.
    void setClockSource(ClockSource source) noexcept;

    double timeStep = 0.0;           // time difference of the last emulation step, seconds
    bool inputConnector = true;      // while true, controller order lines are not applied
    uint32_t outputControllers = 0;  // controllers this module writes
    uint32_t controllerBase = 0;     // controllers in the storage before this module's

private:
    static double monotonicSeconds() noexcept;
    ControllerMap* mapOf(uint32_t c) noexcept;

    // The option-line keywords with their readers (con_common_options.cpp).
    struct Option;
    static const Option kOptions[];

    bool readOption(ConfigLine& line);
    // Each checks the whole line before it changes anything.
    bool parseEmulateTracker(const optionline::LineReader& option);
    template <bool kButtons>
    bool parseOrder(const optionline::LineReader& option);
    bool parseValuatorScale(const optionline::LineReader& option);
    // The map of the controller named in the first argument, or null (reported).
    ControllerMap* lineController(const optionline::LineReader& option, const char* idLabel, int needed, uint32_t& c);

    void printControllerLabel(uint32_t c) const;
    void printOrder(uint32_t c, const ControllerMap& map, bool buttons) const;
    void printEmulation(uint32_t c, const TrackerEmulation& emulation) const;

    uint32_t count_ = 0;
    bool limitToCounts_ = true;
    std::unique_ptr<ControllerMap[]> maps_;
    CLogH logger_;
    ClockSource clock_;
};
