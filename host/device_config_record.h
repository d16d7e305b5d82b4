#pragma once
// The DeviceConfig record handed to a module, together with the texts its
// pointers refer to. A module keeps the record's address until deleteDev,
// so the record is neither copied nor moved.
#include <cstdint>

#include "framework/host_records.h"
#include "host/host_config.h"

namespace hostconfig {

class DeviceConfigRecord {
public:
    // `deviceNumber` (1-based, in file order) goes into the header word.
    DeviceConfigRecord(const DeviceSection& section, uint32_t deviceNumber);
    DeviceConfigRecord(const DeviceConfigRecord&) = delete;
    DeviceConfigRecord& operator=(const DeviceConfigRecord&) = delete;

    DeviceConfig* record() noexcept { return &record_; }
    const DeviceSection& section() const noexcept { return section_; }

private:
    const DeviceSection section_;  // owns the texts; never changed after construction
    DeviceConfig record_;
};

}  // namespace hostconfig
