// Replays a recording into the shipped module, loaded as a host loads it, and
// writes every record of every cycle to a dump; built for Linux and for
// Windows, so that the two systems' dumps can be compared byte for byte.
//
//   replay_records MODULE RECORDING CALIBRATION-LIBRARY DUMP [OTHER-DUMP]
//
// With OTHER-DUMP, the new dump is compared with it and the first record
// and byte that differ are named (exit 1). The time words and the time-stamp
// block differ by nature and are left out of the dump.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device/exports.h"
#include "link/socket_layer.h"
#include "platform/dynamic_library.h"
#include "shared_storage_fixture.h"
#include "tools/ostrelsim/recording_format.h"

namespace {

using namespace test_support;
constexpr uint32_t kTrackers = 6, kControllers = 3;  // 2 wands, 1 tool, 3 bodies
constexpr size_t kCycleBytes = 8 + kTrackers * sizeof(TraData) + kControllers * sizeof(ConData);

template <typename Record>
void appendWithoutTimes(std::string& dump, Record record) {
    record.seconds = record.microseconds = 0;
    record.stamp = TimeStampBlock{};
    dump.append(reinterpret_cast<const char*>(&record), sizeof record);
}

// "cycle 3 tracker 2 byte 21" for a byte offset in a dump.
std::string placeOf(size_t offset) {
    const size_t inCycle = offset % kCycleBytes;
    std::string place = "cycle " + std::to_string(offset / kCycleBytes + 1);
    if (inCycle < 8) return place + " update masks byte " + std::to_string(inCycle);
    const size_t trackerBytes = kTrackers * sizeof(TraData);
    if (inCycle - 8 < trackerBytes) {
        return place + " tracker " + std::to_string((inCycle - 8) / sizeof(TraData) + 1) + " byte " +
               std::to_string((inCycle - 8) % sizeof(TraData));
    }
    const size_t at = inCycle - 8 - trackerBytes;
    return place + " controller " + std::to_string(at / sizeof(ConData) + 1) + " byte " +
           std::to_string(at % sizeof(ConData));
}

int compare(const std::string& ours, const char* otherPath) {
    std::string other;
    if (std::FILE* file = std::fopen(otherPath, "rb")) {
        for (int c; (c = std::fgetc(file)) != EOF;) other.push_back(static_cast<char>(c));
        std::fclose(file);
    }
    for (size_t i = 0; i < ours.size() && i < other.size(); ++i) {
        if (ours[i] != other[i]) {
            std::printf("records differ at %s: 0x%02x here, 0x%02x in %s\n", placeOf(i).c_str(),
                        ours[i] & 0xff, other[i] & 0xff, otherPath);
            return 1;
        }
    }
    if (ours.size() != other.size() || ours.empty()) {
        std::printf("dumps differ in length: %zu bytes here, %zu in %s\n", ours.size(), other.size(), otherPath);
        return 1;
    }
    std::printf("%zu cycles, every record identical\n", ours.size() / kCycleBytes);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: replay_records MODULE RECORDING CALIBRATION-LIBRARY DUMP [OTHER-DUMP]\n");
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
    ostrelsim::RecordingReader recording;
    std::string error;
    if (createDevice == nullptr || deleteDevice == nullptr || !recording.open(argv[2], error)) {
        std::fprintf(stderr, "no module exports or no recording: %s\n", error.c_str());
        return 2;
    }
    netStartup();
    SocketHandle* sender = nullptr;
    SocketHandle* probe = nullptr;
    uint16_t senderPort = 0, dataPort = 0;
    udpOpen(sender, senderPort, 0);
    udpOpen(probe, dataPort, 0);  // a free port for the device
    udpClose(probe, 0);
    const std::string port = std::to_string(dataPort);

    // Every conversion the records go through: units, the transmitter's and
    // sensors' transforms, a calibration library, button and valuator maps.
    SharedStorage storage;
    ConfigLines lines;
    lines.add({"port", port.c_str()}).add({"standardbodies", "3"}).add({"gripwands", "2"});
    lines.add({"measurementtools", "1"}).add({"transmitteroffset", "0", "-0.5", "0.25", "feet"});
    lines.add({"transmitterrotation", "0", "1", "0", "30"}).add({"sensoroffset", "1", "0", "0", "-10", "cm"});
    lines.add({"sensortranslation", "4", "0", "0.1", "0", "m"}).add({"sensorrotation", "5", "1", "1", "0", "-37.5"});
    lines.add({"sensorrotationmatrix", "6", "0", "0", "-1", "0", "1", "0", "1", "0", "0"});
    lines.add({"calibration", argv[3]}).add({"buttonorder", "1", "2", "1", "3", "4", "5", "6", "7", "8"});
    lines.add({"valuatororder", "2", "2", "1"}).add({"valuatorscale", "1", "[0.5,0,0.5,0.1]", "1", "2"});
    CLogH log = quietLogger("TRK");
    CBaseMod* device = createDevice(lines.config(), &log);
    InitInfo info = storage.initInfo();
    if (device == nullptr || device->init(&info) != 1 || !device->start()) return 2;

    std::string dump;
    ostrelsim::RecordHead head{};
    std::vector<char> frame;
    while (recording.next(head, frame) == ostrelsim::ReadOutcome::Record) {
        udpSend(sender, frame.data(), static_cast<int32_t>(frame.size()), 0x7F000001, dataPort, 1000000);
        UpdateMasks masks{};
        device->recvData(&masks, 0);
        dump.append(reinterpret_cast<const char*>(&masks), sizeof masks);
        for (uint32_t id = 1; id <= kTrackers; ++id) appendWithoutTimes(dump, storage.tracker(id));
        for (uint32_t id = 1; id <= kControllers; ++id) appendWithoutTimes(dump, storage.controller(id));
    }
    device->stop();
    deleteDevice(device);
    platform::closeLibrary(module);
    udpClose(sender, 0);
    netCleanup();

    std::FILE* out = std::fopen(argv[4], "wb");
    if (out == nullptr || std::fwrite(dump.data(), 1, dump.size(), out) != dump.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "cannot write %s\n", argv[4]);
        return 2;
    }
    return argc > 5 ? compare(dump, argv[5]) : 0;
}
