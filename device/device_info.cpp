#include "device/device_info.h"

namespace device_info {

void printDeviceLines(const CLogH& log, const device_config::DeviceSettings& settings) noexcept {
    log.info("DEVICE TYPE           : zelostrel", true);
    log.infof("VERSION               : %d.%d.%d, Quellmark GmbH\n", kVersionMajor, kVersionMinor, kVersionPatch);
    log.infof("Ostrel STANDARD BODIES: %d\n", settings.numStandardBodies);
    log.infof("Ostrel GRIPWANDS      : %d\n", static_cast<int>(settings.numGripwands));
    log.infof("Ostrel MEASUREMENT TOOLS: %d\n", settings.numMeasurementTools);
    log.infof("Ostrel PORT           : %d\n", static_cast<int>(settings.dataPort));
    // Shown also without remote control, then with an empty host and 0.
    log.infof("Ostrel REMOTE         : %s %d\n", settings.remoteHost.c_str(), static_cast<int>(settings.remotePort));
    if (settings.bufferSize != 0) {
        log.infof("Ostrel BUFFERSIZE     : %d\n", settings.bufferSize);
    }
    if (settings.debugFlags != 0) {
        log.infof("Ostrel DEBUG          : 0x%x\n", settings.debugFlags);
    }
}

}  // namespace device_info
