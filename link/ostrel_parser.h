#pragma once
// OstrelParser: turns the lines of one measurement frame into record
// tables (bodies, Gripwands, measurement tools, tool references, hands,
// joint models, inertial bodies, markers) that persist from frame to frame.
// The frame is parsed in place; once the tables have grown to a frame's
// sizes, parsing it again allocates nothing.
//
// A frame is parsed as beginFrame, parseLine for every line (stopping at the
// first that fails), then endFrame; parseFrame does the last two.
//
// Table growth is bounded: no table grows beyond kMaxTableBytes (4 MiB, so
// at most 32 MiB for all eight), whatever ids and counts a datagram carries.
// An id or count that would need more fails its line. The work of one frame
// is bounded too: growing, resetting and re-marking records may write at
// most kMaxWorkBytesPerFrame (64 MiB, enough for every table to reach its
// bound in one frame); a frame that needs more, such as one that shrinks
// and regrows a large table line after line, fails its line instead of
// holding the caller.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/frame_records.h"

class OstrelParser {
public:
    static constexpr size_t kMaxTableBytes = size_t{4} << 20;
    static constexpr size_t kMaxWorkBytesPerFrame = size_t{64} << 20;

    OstrelParser() noexcept;
    virtual ~OstrelParser();
    OstrelParser(const OstrelParser&) = delete;
    OstrelParser& operator=(const OstrelParser&) = delete;

    // Clears the per-frame values; the tables are kept.
    virtual void beginFrame() noexcept;
    // Applies the calibrated counts ("6dcal", "glcal") to the body and hand
    // tables. The body count may become negative; every accessor and loop
    // treats a count of 0 or less as no records.
    virtual void endFrame() noexcept;
    // Reads the line at cursor and moves cursor behind what it read (an
    // unknown line is accepted and leaves cursor alone). False when an item
    // is missing or breaks a rule; what was stored before stays stored.
    virtual bool parseLine(const char*& cursor) noexcept;

    // Parses every line of a NUL-terminated frame in a buffer of bufferSize
    // bytes, then calls endFrame. Stops at the first failing line (without
    // endFrame) and returns false. Call beginFrame first.
    bool parseFrame(const char* buffer, size_t bufferSize) noexcept;

    uint32_t frameCounter() const noexcept { return frameCounter_; }
    double timestamp() const noexcept { return timestamp_; }
    int32_t calibratedBodies() const noexcept { return calibratedBodies_; }
    int32_t calibratedHands() const noexcept { return calibratedHands_; }
    int32_t count6df() const noexcept { return count6df_; }
    int32_t count6dmt() const noexcept { return count6dmt_; }

    // Counts, and record i or null when i is negative or not below the count.
    // The body count (after endFrame) and the marker count (as a "3d" line
    // announces it) may be negative, meaning no records. Pointers stay
    // valid until the next frame is parsed.
    int32_t bodyCount() const noexcept { return bodies_.count; }
    int32_t gripwandCount() const noexcept { return gripwands_.count; }
    int32_t measurementToolCount() const noexcept { return tools_.count; }
    int32_t measurementRefCount() const noexcept { return toolRefs_.count; }
    int32_t handCount() const noexcept { return hands_.count; }
    int32_t jointModelCount() const noexcept { return jointModels_.count; }
    int32_t inertialCount() const noexcept { return inertials_.count; }
    int32_t markerCount() const noexcept { return markers_.count; }
    const BodyRecord* body(int32_t i) const noexcept { return bodies_.at(i); }
    const GripwandRecord* gripwand(int32_t i) const noexcept { return gripwands_.at(i); }
    const MeasurementToolRecord* measurementTool(int32_t i) const noexcept { return tools_.at(i); }
    const MeasurementRefRecord* measurementRef(int32_t i) const noexcept { return toolRefs_.at(i); }
    const HandRecord* hand(int32_t i) const noexcept { return hands_.at(i); }
    const JointModelRecord* jointModel(int32_t i) const noexcept { return jointModels_.at(i); }
    const InertialRecord* inertial(int32_t i) const noexcept { return inertials_.at(i); }
    const MarkerRecord* marker(int32_t i) const noexcept { return markers_.at(i); }

    // Most records one table may hold under kMaxTableBytes.
    template <class Record>
    static constexpr int32_t maxRecords() noexcept {
        return static_cast<int32_t>(kMaxTableBytes / sizeof(Record));
    }

protected:
    void resetTables() noexcept;

private:
    // A count of valid records over an array that never holds fewer.
    // dirtyEnd: records from dirtyEnd up to count are known to be in their
    // reset state, so that resetting a table costs what was written into
    // it, not its size.
    template <class Record>
    struct Table {
        int32_t count = 0;
        int32_t dirtyEnd = 0;
        std::vector<Record> records;

        const Record* at(int32_t i) const noexcept {
            return i >= 0 && i < count ? &records[static_cast<size_t>(i)] : nullptr;
        }
        Record* at(int32_t i) noexcept { return i >= 0 && i < count ? &records[static_cast<size_t>(i)] : nullptr; }
        // Makes the array hold at least size records (new ones all zero).
        bool reserveRecords(int32_t size) noexcept;
    };

    bool parseFrameCounter(const char*& cursor) noexcept;
    bool parseTimestamp(const char*& cursor) noexcept;
    bool parseCalibratedBodies(const char*& cursor) noexcept;
    bool parseCalibratedHands(const char*& cursor) noexcept;
    bool parseBodies(const char*& cursor) noexcept;
    bool parseGripwands(const char*& cursor) noexcept;
    bool parseGripwands2(const char*& cursor) noexcept;
    bool parseTools(const char*& cursor) noexcept;
    bool parseTools2(const char*& cursor) noexcept;
    bool parseToolRefs(const char*& cursor) noexcept;
    bool parseHands(const char*& cursor) noexcept;
    bool parseJointModels(const char*& cursor) noexcept;
    bool parseInertials(const char*& cursor) noexcept;
    bool parseMarkers(const char*& cursor) noexcept;

    // Steps that several line kinds share.
    template <class Record>
    bool parseButtonWordEntries(Table<Record>& table, int32_t& frameCount, const char*& cursor) noexcept;
    template <class Record>
    Record* recordById(Table<Record>& table, int32_t id) noexcept;
    template <class Record>
    bool defineAndReset(Table<Record>& table, const char*& cursor) noexcept;
    template <class Record>
    void applyCalibratedCount(Table<Record>& table, int32_t count) noexcept;

    // Takes bytes from this frame's work allowance; false when spent.
    bool spendWork(size_t bytes) noexcept;
    template <class Record>
    bool resizeTable(Table<Record>& table, int32_t size) noexcept;
    template <class Record>
    bool growResettable(Table<Record>& table, int32_t size) noexcept;
    template <class Record>
    bool resetWritten(Table<Record>& table) noexcept;
    bool growMarkers(int32_t size) noexcept;

    uint32_t frameCounter_ = 0;
    double timestamp_ = -1.0;
    Table<BodyRecord> bodies_;
    Table<GripwandRecord> gripwands_;
    Table<MeasurementToolRecord> tools_;
    Table<MeasurementRefRecord> toolRefs_;
    Table<HandRecord> hands_;
    Table<JointModelRecord> jointModels_;
    Table<InertialRecord> inertials_;
    Table<MarkerRecord> markers_;
    int32_t calibratedBodies_ = -1;
    int32_t calibratedHands_ = -1;
    int32_t count6df_ = 0;
    int32_t count6dmt_ = 0;
    size_t workLeft_ = kMaxWorkBytesPerFrame;
};
