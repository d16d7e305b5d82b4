// The module's two exports; nothing else leaves the library.
#include "device/exports.h"

#include <new>

#include "device/zelostrel.h"

CBaseMod* createDev(DeviceConfig* config, const CLogH* hostLogger) {
    return new (std::nothrow) zelostrel(config, hostLogger);
}

bool deleteDev(CBaseMod* device) {
    if (device == nullptr) {
        return false;
    }
    // Only createDev makes devices, and only zelostrel has the virtual
    // destructor that takes the whole object down.
    delete static_cast<zelostrel*>(device);
    return true;
}
