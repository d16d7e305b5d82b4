// One full measurement cycle of the device (recvData with a typical frame
// already queued on its UDP socket: receive, parse, convert, calibrate, map,
// write into shared storage) next to parsing the same frame alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "device/zelostrel.h"
#include "link/ostrel_parser.h"
#include "link/socket_layer.h"
#include "platform/clock.h"
#include "platform/server_socket.h"
#include "tests/support/host_records.h"
#include "tests/support/shared_storage.h"

namespace {

// Two bodies, two Gripwands, one measurement tool and an inertial body, as
// a small CAVE set-up sends them.
const char kFrame[] =
    "fr 1234\nts 86400.125\n6dcal 5\n"
    "6d 2 [0 1.000][-123.456 1200.500 -300.250][0.8660254 0 -0.5 0 1 0 0.5 0 0.8660254] "
    "[1 0.950][400.000 1500.000 20.000][1 0 0 0 1 0 0 0 1]\n"
    "6df2 2 2 [0 1.000 16 2][100.000 900.000 10.000][1 0 0 0 1 0 0 0 1][0x5 0.5 -0.25] "
    "[1 -1.000 12 2][0 0 0][1 0 0 0 1 0 0 0 1][0x3 0 0]\n"
    "6dmt2 1 1 [0 1.000 4 2.5][10.000 20.000 30.000][1 0 0 0 0 1 0 -1 0][0x1][0 0 0 0 0 0]\n"
    "6di 1 [0 1 0.010][1 2 3][1 0 0 0 1 0 0 0 1]\n";

// The device with its storage, configured like a CAVE with calibration on.
class CycleRig {
public:
    CycleRig() {
        platform::ServerSocket* probe = nullptr;
        platform::udpBind(probe, 0, dataPort_);
        platform::closeServerSocket(probe);
        const std::string portText = std::to_string(dataPort_);
        lines_.add({"port", portText.c_str()});
        lines_.add({"standardbodies", "2"});
        lines_.add({"gripwands", "2"});
        lines_.add({"measurementtools", "1"});
        lines_.add({"sensoroffset", "3", "0", "0", "10", "cm"});
        lines_.add({"transmitterrotation", "0", "1", "0", "30"});
        lines_.add({"valuatorscale", "1", "[0.5,0,2,-1]", "all"});
        device_ = std::make_unique<zelostrel>(lines_.config(), &log_);
        InitInfo info = storage_.initInfo();
        // The information block is not part of the figures.
        std::fflush(stdout);
        const int saved = dup(STDOUT_FILENO);
        const int sink = open("/dev/null", O_WRONLY);
        dup2(sink, STDOUT_FILENO);
        ready_ = device_->init(&info) == 1;
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        close(sink);
        uint16_t senderPort = 0;
        ready_ = ready_ && udpOpen(sender_, senderPort, 0) == 0;
    }
    ~CycleRig() {
        device_.reset();
        udpClose(sender_, 0);
    }
    bool ready() const { return ready_; }
    bool queueFrame() { return udpSend(sender_, kFrame, sizeof kFrame - 1, 0x7f000001, dataPort_, 1000000) == 0; }
    int cycle() { return device_->recvData(&masks_, 0); }
    const UpdateMasks& masks() const { return masks_; }

private:
    test_support::SharedStorage storage_;
    test_support::ConfigLines lines_;
    CLogH log_ = test_support::quietLogger("bench");
    uint16_t dataPort_ = 0;
    std::unique_ptr<zelostrel> device_;
    UpdateMasks masks_{0, 0};
    SocketHandle* sender_ = nullptr;
    bool ready_ = false;
};

// Only recvData is timed: the frame is already queued when it starts.
void BM_FullCycle(benchmark::State& state) {
    CycleRig rig;
    if (!rig.ready() || !rig.queueFrame() || rig.cycle() != 1) {
        state.SkipWithError("device set-up failed");
        return;
    }
    for (auto _ : state) {
        if (!rig.queueFrame()) {
            state.SkipWithError("send failed");
            break;
        }
        const uint64_t start = platform::monotonicNanos();
        const int result = rig.cycle();
        const uint64_t end = platform::monotonicNanos();
        benchmark::DoNotOptimize(result);
        state.SetIterationTime(static_cast<double>(end - start) * 1e-9);
    }
    if (rig.masks().trackerMask == 0) state.SkipWithError("the cycles wrote nothing");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(sizeof kFrame - 1));
}
BENCHMARK(BM_FullCycle)->UseManualTime();

// The same frame through the parser alone, timed the same way.
void BM_ParseOnly(benchmark::State& state) {
    OstrelParser parser;
    char buffer[sizeof kFrame];
    for (auto _ : state) {
        std::memcpy(buffer, kFrame, sizeof kFrame);  // parsed in place, as received
        const uint64_t start = platform::monotonicNanos();
        parser.beginFrame();
        const bool ok = parser.parseFrame(buffer, sizeof buffer);
        const uint64_t end = platform::monotonicNanos();
        benchmark::DoNotOptimize(ok);
        state.SetIterationTime(static_cast<double>(end - start) * 1e-9);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(sizeof kFrame - 1));
}
BENCHMARK(BM_ParseOnly)->UseManualTime();

// The cost of the clock reads that bracket each timed span.
void BM_ClockPair(benchmark::State& state) {
    for (auto _ : state) {
        const uint64_t start = platform::monotonicNanos();
        const uint64_t end = platform::monotonicNanos();
        state.SetIterationTime(static_cast<double>(end - start) * 1e-9);
    }
}
BENCHMARK(BM_ClockPair)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
