// The public header for readers (include/zelostrel/storage.h) states the
// same layout as storage_layout.h; a change to one that the other lacks
// fails the build here.
#include "host/storage_layout.h"

#include <zelostrel/storage.h>

namespace storage {

static_assert(ZELOSTREL_STORAGE_LAYOUT_VERSION == kLayoutVersion && ZELOSTREL_STORAGE_SIZE == kTotalSize &&
                  ZELOSTREL_CAPACITY == kCapacity,
              "version, size and capacity");
static_assert(ZELOSTREL_HEADER_LAYOUT_VERSION == offsetof(StorageHeader, layoutVersion) &&
                  ZELOSTREL_HEADER_SIZE == offsetof(StorageHeader, headerSize) &&
                  ZELOSTREL_HEADER_TRACKER_CAPACITY == offsetof(StorageHeader, trackerCapacity) &&
                  ZELOSTREL_HEADER_CONTROLLER_CAPACITY == offsetof(StorageHeader, controllerCapacity) &&
                  ZELOSTREL_HEADER_TRACKER_COUNT == offsetof(StorageHeader, trackerCount) &&
                  ZELOSTREL_HEADER_CONTROLLER_COUNT == offsetof(StorageHeader, controllerCount) &&
                  ZELOSTREL_HEADER_TRACKER_OFFSET == offsetof(StorageHeader, trackerOffset) &&
                  ZELOSTREL_HEADER_CONTROLLER_OFFSET == offsetof(StorageHeader, controllerOffset) &&
                  ZELOSTREL_HEADER_TRACKER_SEQUENCE == offsetof(StorageHeader, trackerSequence) &&
                  ZELOSTREL_HEADER_CONTROLLER_SEQUENCE == offsetof(StorageHeader, controllerSequence) &&
                  ZELOSTREL_HEADER_HOST_PID == offsetof(StorageHeader, hostProcessId) &&
                  ZELOSTREL_HEADER_COUNTERS_OFFSET == offsetof(StorageHeader, countersOffset) &&
                  ZELOSTREL_HEADER_LOCKS_OFFSET == offsetof(StorageHeader, mutexOffset) &&
                  ZELOSTREL_HEADER_TOTAL_SIZE == offsetof(StorageHeader, totalSize),
              "header words");
static_assert(ZELOSTREL_TRACKER_RECORD_SIZE == sizeof(TraData) && ZELOSTREL_TRACKER_ID == offsetof(TraData, id) &&
                  ZELOSTREL_TRACKER_SECONDS == offsetof(TraData, seconds) &&
                  ZELOSTREL_TRACKER_MICROS == offsetof(TraData, microseconds) &&
                  ZELOSTREL_TRACKER_X == offsetof(TraData, x) && ZELOSTREL_TRACKER_STAMP == offsetof(TraData, stamp),
              "tracker record");
static_assert(ZELOSTREL_CONTROLLER_RECORD_SIZE == sizeof(ConData) &&
                  ZELOSTREL_CONTROLLER_VALUATOR_COUNT == offsetof(ConData, numValuators) &&
                  ZELOSTREL_CONTROLLER_BUTTON_COUNT == offsetof(ConData, numButtons) &&
                  ZELOSTREL_CONTROLLER_VALUATORS == offsetof(ConData, valuators) &&
                  ZELOSTREL_CONTROLLER_BUTTONS == offsetof(ConData, buttonBits) &&
                  ZELOSTREL_CONTROLLER_STAMP == offsetof(ConData, stamp),
              "controller record");

}  // namespace storage
