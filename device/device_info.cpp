#include "device/device_info.h"

#include "link/ipv4_text.h"

namespace device_info {

void printDeviceLines(const CLogH& log, const device_config::DeviceFields& fields) noexcept {
    log.info("DEVICE TYPE           : zelostrel", true);
    log.infof("VERSION               : %d.%d.%d, Quellmark GmbH\n", kVersionMajor, kVersionMinor, kVersionPatch);
    log.infof("Ostrel STANDARD BODIES: %d\n", fields.numStandardBodies);
    log.infof("Ostrel GRIPWANDS      : %d\n", static_cast<int>(fields.numGripwands));
    log.infof("Ostrel MEASUREMENT TOOLS: %d\n", fields.numMeasurementTools);
    log.infof("Ostrel PORT           : %d\n", static_cast<int>(fields.dataPort));
    // Shown also without remote control, then with an empty host and 0.
    log.infof("Ostrel REMOTE         : %s %d\n", fields.remoteHost.c_str(), static_cast<int>(fields.remotePort));
    if (fields.multicastGroup != 0) {
        // The interface 0.0.0.0 stands for the system's choice.
        log.infof("Ostrel MULTICAST      : %s %s\n", ipv4text::dottedQuad(fields.multicastGroup).text,
                  ipv4text::dottedQuad(fields.multicastInterface).text);
    }
    if (fields.bufferSize != 0) {
        log.infof("Ostrel BUFFERSIZE     : %d\n", fields.bufferSize);
    }
    if (fields.debugFlags != 0) {
        log.infof("Ostrel DEBUG          : 0x%x\n", fields.debugFlags);
    }
}

}  // namespace device_info
