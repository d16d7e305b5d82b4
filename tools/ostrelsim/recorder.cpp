// Record mode: every datagram arriving on a UDP port, with its arrival
// time, into a recording file.
#include <cstdio>
#include <vector>

#include "platform/clock.h"
#include "platform/server_socket.h"
#include "tools/ostrelsim/controller.h"
#include "tools/ostrelsim/modes.h"
#include "tools/ostrelsim/pacing.h"
#include "tools/ostrelsim/recording_format.h"

namespace ostrelsim {

namespace {

// Longest wait for a datagram before looking at the clock and for Ctrl-C.
constexpr int32_t kReceiveSliceMicros = 50000;

struct SocketCloser {
    platform::ServerSocket* socket;
    ~SocketCloser() { platform::closeServerSocket(socket); }
};

}  // namespace

int runRecord(const Options& options) {
    platform::ServerSocket* socket = nullptr;
    uint16_t port = options.recordPort;
    int opened = platform::udpBind(socket, 0, port);
    if (opened != 0) {
        std::fprintf(stderr, "ostrelsim: %s\n", portErrorMessage("UDP", options.recordPort, opened).c_str());
        return kExitFailure;
    }
    SocketCloser closer{socket};
    RecordingWriter writer;
    std::string error;
    if (!writer.create(options.outPath, error)) {
        std::fprintf(stderr, "ostrelsim: %s\n", error.c_str());
        return kExitFailure;
    }
    std::printf("ostrelsim: recording UDP port %u to %s\n", static_cast<unsigned>(port), options.outPath.c_str());
    std::fflush(stdout);

    // Room for the largest datagram plus one byte, so a longer one shows.
    std::vector<char> buffer(kMaxDatagramLength + 1);
    uint64_t start = platform::monotonicNanos();
    uint64_t end = options.seconds > 0.0 ? start + static_cast<uint64_t>(options.seconds * 1e9) : UINT64_MAX;
    uint64_t datagrams = 0;
    uint64_t bytes = 0;
    int status = kExitOk;
    for (;;) {
        uint64_t now = platform::monotonicNanos();
        if (now >= end || stopRequested()) {
            break;
        }
        uint64_t left = (end - now) / 1000 + 1;
        auto slice = static_cast<int32_t>(left < kReceiveSliceMicros ? left : kReceiveSliceMicros);
        int count = platform::udpReceiveFrom(socket, buffer.data(), buffer.size(), slice);
        uint64_t arrival = platform::monotonicNanos() - start;
        if (count < 0) {
            if (count != platform::kServerTimeout) {
                std::fprintf(stderr, "ostrelsim: a datagram could not be received (error %d)\n", count);
            }
            continue;
        }
        if (!writer.append(arrival, buffer.data(), static_cast<size_t>(count))) {
            std::fprintf(stderr, "ostrelsim: cannot write to %s (disk full?); recording ends\n",
                         options.outPath.c_str());
            status = kExitFailure;
            break;
        }
        ++datagrams;
        bytes += static_cast<uint64_t>(count);
    }
    if (!writer.close()) {
        std::fprintf(stderr, "ostrelsim: closing %s failed\n", options.outPath.c_str());
        status = kExitFailure;
    }
    double elapsed = static_cast<double>(platform::monotonicNanos() - start) / 1e9;
    std::printf("ostrelsim: recorded %llu datagrams (%llu bytes) in %s s to %s\n",
                static_cast<unsigned long long>(datagrams), static_cast<unsigned long long>(bytes),
                numberText(elapsed, 1).c_str(), options.outPath.c_str());
    return status;
}

}  // namespace ostrelsim
