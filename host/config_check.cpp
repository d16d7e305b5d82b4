// trackhost --check: what a start would refuse, found without starting. The
// configuration is read and every module loaded with its exports looked up,
// through the same code and with the same messages as a real start; no
// storage is created, no module creates a device, so no socket is opened.
// Unlike a start, it goes on past a fault so that one run names them all.
#include <cstdio>

#include "host/track_host.h"

namespace host {

int TrackHost::check() {
    hostconfig::HostConfig config;
    bool usable = readConfiguration(config);
    for (const hostconfig::DeviceSection& section : config.devices) {
        ModuleLibrary library;
        std::string reason;
        if (!library.load(section.libraryPath, reason)) {
            refuse(section.lineNumber, "device \"" + section.name + "\": " + reason);
            usable = false;
        }
    }
    if (!usable) {
        return kExitCheckFailed;
    }
    std::printf("trackhost: %s: usable: storage \"%s\", %u device(s)\n", options_.configPath.c_str(),
                config.storage.c_str(), static_cast<unsigned>(config.devices.size()));
    return kExitOk;
}

}  // namespace host
