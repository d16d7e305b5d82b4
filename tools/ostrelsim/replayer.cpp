// Replay mode: the datagrams of a recording, byte for byte and in order,
// with the recorded pacing (scaled by --speed), once or in a loop.
#include <cstdio>
#include <vector>

#include "platform/clock.h"
#include "tools/ostrelsim/datagram_sender.h"
#include "tools/ostrelsim/modes.h"
#include "tools/ostrelsim/pacing.h"
#include "tools/ostrelsim/recording_format.h"

namespace ostrelsim {

namespace {

// Maps recorded arrival times onto the clock. Shifts itself when the
// sender falls far behind, instead of catching up in a burst.
class ReplayClock {
public:
    ReplayClock(uint64_t originNanos, double speed) : origin_(originNanos), speed_(speed) {}

    uint64_t dueNanos(uint64_t recordedNanos) const { return replayDueNanos(origin_, recordedNanos, speed_); }
    void keepUp(uint64_t dueNanos, uint64_t nowNanos) {
        if (nowNanos > dueNanos + kFallBehindLimitNanos) {
            origin_ += nowNanos - dueNanos;
        }
    }
    // The next pass starts one loop period after the previous one did.
    void nextPass(uint64_t periodNanos) { origin_ = replayDueNanos(origin_, periodNanos, speed_); }

private:
    uint64_t origin_;
    double speed_;
};

void reportEnd(const Options& options, const RecordingReader& reader, ReadOutcome outcome) {
    if (outcome == ReadOutcome::TornTail) {
        std::fprintf(stderr,
                     "ostrelsim: %s ends inside a record (%llu bytes, a recorder that was stopped hard); "
                     "its complete records were replayed\n",
                     options.inPath.c_str(), static_cast<unsigned long long>(reader.tailBytes()));
    } else if (outcome == ReadOutcome::Damaged) {
        std::fprintf(stderr, "ostrelsim: %s is damaged after record %llu; the records before it were replayed\n",
                     options.inPath.c_str(), static_cast<unsigned long long>(reader.recordsRead()));
    }
}

}  // namespace

int runReplay(const Options& options) {
    RecordingReader reader;
    std::string error;
    if (!reader.open(options.inPath, error)) {
        std::fprintf(stderr, "ostrelsim: %s\n", error.c_str());
        return kExitFailure;
    }
    DatagramSender sender;
    if (!sender.open(options.to.host, options.to.port, options.multicast, error)) {
        std::fprintf(stderr, "ostrelsim: %s\n", error.c_str());
        return kExitUsage;
    }
    std::printf("ostrelsim: replaying %s to %s:%u at speed %s%s\n", options.inPath.c_str(), options.to.host.c_str(),
                static_cast<unsigned>(options.to.port), numberText(options.speed).c_str(),
                options.loop ? ", in a loop" : "");
    std::fflush(stdout);

    uint64_t start = platform::monotonicNanos();
    uint64_t end = options.seconds > 0.0 ? start + static_cast<uint64_t>(options.seconds * 1e9) : UINT64_MAX;
    ReplayClock clock(start, options.speed);
    std::vector<char> bytes;
    RecordHead head{};
    uint64_t sent = 0;
    uint64_t failures = 0;
    bool stopped = false;
    for (int pass = 0; !stopped; ++pass) {
        uint64_t first = 0;
        uint64_t last = 0;
        uint64_t inPass = 0;
        ReadOutcome outcome = ReadOutcome::End;
        while (!stopped && (outcome = reader.next(head, bytes)) == ReadOutcome::Record) {
            first = inPass == 0 ? head.arrivalNanos : first;
            last = head.arrivalNanos;
            ++inPass;
            uint64_t due = clock.dueNanos(head.arrivalNanos - first);
            if (due >= end || !waitUntil(due, nullptr)) {
                stopped = true;
                break;
            }
            clock.keepUp(due, platform::monotonicNanos());
            if (sender.send(std::string_view(bytes.data(), bytes.size()))) {
                ++sent;
            } else if (failures++ % 1000 == 0) {
                std::fprintf(stderr, "ostrelsim: a datagram could not be sent (%llu failed so far)\n",
                             static_cast<unsigned long long>(failures));
            }
        }
        if (pass == 0 && !stopped) {
            reportEnd(options, reader, outcome);
        }
        if (stopped || !options.loop || inPass == 0 || !reader.rewind()) {
            if (pass == 0 && inPass == 0 && !stopped) {
                std::printf("ostrelsim: %s holds no datagrams\n", options.inPath.c_str());
            }
            break;
        }
        clock.nextPass(loopPeriodNanos(last - first, inPass));
    }
    double elapsed = static_cast<double>(platform::monotonicNanos() - start) / 1e9;
    std::printf("ostrelsim: replayed %llu datagrams in %s s\n", static_cast<unsigned long long>(sent),
                numberText(elapsed, 1).c_str());
    return kExitOk;
}

}  // namespace ostrelsim
