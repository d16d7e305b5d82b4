// replay_records MODULE CALIBRATION-LIBRARY DUMP: the same frames into the shipped module, loaded as a host loads it,
// every record of every cycle into DUMP, which CTest compares with the other system's byte for byte (`cmp -l` names
// the byte: a cycle is the masks' 8 bytes, 6 trackers of 56, 3 controllers of 184). Frames are made from integers
// alone, so that both systems send the same text; the time words and time-stamp block differ by nature: left out.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "device/exports.h"
#include "platform/dynamic_library.h"
#include "tests/support/device_rig.h"

namespace {

using namespace test_support;
constexpr uint32_t kTrackers = 6, kControllers = 3;  // 2 wands, 1 tool, 3 bodies

const char* const kRotations[] = {
    "1 0 0 0 1 0 0 0 1",
    "0 0 -1 0 1 0 1 0 0",
    "1 0 0 0 0 1 0 -1 0",
    "-0.151359 -0.987844 0.035429 0.275866 -0.007797 0.961164 -0.949204 0.155254 0.273693",
    "-0.246424 0.965548 -0.083614 -0.914520 -0.203104 0.349861 0.320826 0.162681 0.933063",
    "-0.326135 0.779510 -0.534790 -0.088554 0.538042 0.838254 0.941166 0.320741 -0.106445"};

// A fixed pseudo-random sequence, and its numbers as decimal text.
uint32_t state = 20260501u;
int32_t next(int32_t range) {
    return static_cast<int32_t>((state = state * 1664525u + 1013904223u) >> 8) % (2 * range + 1) - range;
}
std::string decimal(int32_t units, int decimals) {
    const int32_t scale = decimals == 3 ? 1000 : 1000000, magnitude = std::abs(units);
    std::string fraction = std::to_string(scale + magnitude % scale).substr(1);
    return (units < 0 ? "-" : "") + std::to_string(magnitude / scale) + "." + fraction;
}
std::string pose() {
    const std::string x = decimal(next(3000000), 3), y = decimal(next(3000000), 3), z = decimal(next(3000000), 3);
    return "[" + x + " " + y + " " + z + "][" + kRotations[std::abs(next(100)) % 6] + "]";
}
std::string quality() { return next(4) < -2 ? "-1" : decimal(std::abs(next(1000)), 3); }

// Bodies (or, every fourth frame, inertial bodies instead), wands with
// buttons and joysticks, a measurement tool.
std::string frame(int cycle) {
    std::string text = "fr " + std::to_string(cycle) + "\n";
    text += cycle % 4 == 0 ? "6d 0\n6di 3" : "6d 3";
    for (int id = 0; id < 3; ++id) {
        text += " [" + std::to_string(id) + (cycle % 4 == 0 ? " 1 0.01]" : " " + quality() + "]") + pose();
    }
    text += "\n6df2 2 2";
    for (int id = 0; id < 2; ++id) {
        text += " [" + std::to_string(id) + " " + quality() + " 16 2]" + pose() + "[" +
                std::to_string(std::abs(next(32767))) + " " + decimal(next(1000000), 6) + " " +
                decimal(next(1000000), 6) + "]";
    }
    return text + "\n6dmt2 1 1 [0 " + quality() + " 4 2.5]" + pose() + "[" + std::to_string(std::abs(next(7))) +
           "][0 0 0 0 0 0]\n";
}

template <typename Record>
void appendWithoutTimes(std::string& dump, Record record) {
    record.seconds = record.microseconds = 0;
    record.stamp = TimeStampBlock{};
    dump.append(reinterpret_cast<const char*>(&record), sizeof record);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: replay_records MODULE CALIBRATION-LIBRARY DUMP\n");
        return 2;
    }
    platform::LibraryHandle module;
    char reason[512];
    if (!platform::openLibrary(argv[1], module, reason, sizeof reason)) {
        std::fprintf(stderr, "%s\n", reason);
        return 2;
    }
    auto createDevice = reinterpret_cast<CreateDevFunction>(platform::findProcedure(module, kCreateDevName));
    auto deleteDevice = reinterpret_cast<DeleteDevFunction>(platform::findProcedure(module, kDeleteDevName));
    HostSide rig;
    // Every conversion the records go through: units, the transmitter's and
    // sensors' transforms, a calibration library, button and valuator maps.
    rig.lines.add({"port", std::to_string(rig.dataPort)}).add({"standardbodies", "3"}).add({"gripwands", "2"});
    rig.lines.add({"measurementtools", "1"}).add({"transmitteroffset", "0", "-0.5", "0.25", "feet"});
    rig.lines.add({"transmitterrotation", "0", "1", "0", "30"}).add({"sensoroffset", "1", "0", "0", "-10", "cm"});
    rig.lines.add({"sensortranslation", "4", "0", "0.1", "0", "m"})
        .add({"sensorrotation", "5", "1", "1", "0", "-37.5"});
    rig.lines.add({"sensorrotationmatrix", "6", "0", "0", "-1", "0", "1", "0", "1", "0", "0"})
        .add({"calibration", argv[2]});
    rig.lines.add({"buttonorder", "1", "2", "1", "3", "4", "5", "6", "7", "8"}).add({"valuatororder", "2", "2", "1"});
    rig.lines.add({"valuatorscale", "1", "[0.5,0,0.5,0.1]", "1", "2"});
    CBaseMod* device = createDevice != nullptr ? createDevice(rig.lines.config(), &rig.log) : nullptr;
    InitInfo info = rig.storage.initInfo();
    if (device == nullptr || deleteDevice == nullptr || device->init(&info) != 1) return 2;
    std::string dump;
    for (int cycle = 1; cycle <= 60; ++cycle) {
        rig.send(frame(cycle));
        UpdateMasks masks{};
        device->recvData(&masks, 0);
        dump.append(reinterpret_cast<const char*>(&masks), sizeof masks);
        for (uint32_t id = 1; id <= kTrackers; ++id) appendWithoutTimes(dump, rig.storage.tracker(id));
        for (uint32_t id = 1; id <= kControllers; ++id) appendWithoutTimes(dump, rig.storage.controller(id));
    }
    deleteDevice(device);
    platform::closeLibrary(module);
    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr || std::fwrite(dump.data(), 1, dump.size(), out) != dump.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 2;
    }
    return 0;
}
