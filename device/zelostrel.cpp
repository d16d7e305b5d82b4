#include "device/zelostrel.h"

zelostrel::zelostrel(DeviceConfig* config, const CLogH* hostLogger) noexcept : CBaseMod(config, hostLogger) {}

zelostrel::~zelostrel() {
    // Closes the client's sockets; the tracking system is left as it is (a
    // host that wants it stopped calls stop first).
    client.reset();
}

int zelostrel::check() { return 1; }

// Configure, measurement and printout come with the measurement cycle; until
// then they report failure so that a host cannot mistake them for working.
int zelostrel::init(InitInfo* /*info*/) {
    logger->errorf("zelostrel: \"%s\" is not available yet.\n", "init");
    return -1;
}

bool zelostrel::start() {
    logger->errorf("zelostrel: \"%s\" is not available yet.\n", "start");
    return false;
}

bool zelostrel::stop() {
    logger->errorf("zelostrel: \"%s\" is not available yet.\n", "stop");
    return false;
}

bool zelostrel::printInfo() {
    logger->errorf("zelostrel: \"%s\" is not available yet.\n", "printInfo");
    return false;
}

int zelostrel::updateTrackers() {
    logger->errorf("zelostrel: \"%s\" is not available yet.\n", "updateTrackers");
    return 0;
}

int zelostrel::updateControllers() {
    logger->errorf("zelostrel: \"%s\" is not available yet.\n", "updateControllers");
    return 0;
}
