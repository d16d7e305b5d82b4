#include "host/device_config_record.h"

#include <cstddef>

namespace hostconfig {

namespace {
// Unused argument slots point here rather than nowhere.
constexpr char kEmptyText[] = "";
}  // namespace

DeviceConfigRecord::DeviceConfigRecord(const DeviceSection& section, uint32_t deviceNumber)
    : section_(section), record_{} {
    record_.header = deviceNumber;
    record_.name = section_.name.c_str();
    size_t lineCount = section_.lines.size() < static_cast<size_t>(DeviceConfig::kMaxLines)
                           ? section_.lines.size()
                           : static_cast<size_t>(DeviceConfig::kMaxLines);
    for (size_t i = 0; i < lineCount; ++i) {
        const DeviceLine& source = section_.lines[i];
        ConfigLine& line = record_.lines[i];
        line.lineNumber = source.lineNumber;
        line.keyword = source.keyword.c_str();
        size_t argCount = source.args.size() < static_cast<size_t>(ConfigLine::kMaxArgs)
                              ? source.args.size()
                              : static_cast<size_t>(ConfigLine::kMaxArgs);
        for (size_t a = 0; a < static_cast<size_t>(ConfigLine::kMaxArgs); ++a) {
            line.args[a] = a < argCount ? source.args[a].c_str() : kEmptyText;
        }
        line.argCount = static_cast<int32_t>(argCount);
        line.used = 0;
    }
    record_.numLines = static_cast<uint32_t>(lineCount);
}

}  // namespace hostconfig
