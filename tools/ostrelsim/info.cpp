// Info mode: what a recording holds, so that a user can pick what to replay
// without sending anything: datagrams, duration, mean rate, the largest gap
// and the first frame's lines.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/ostrelsim/modes.h"
#include "tools/ostrelsim/recording_format.h"

namespace ostrelsim {

namespace {

// Enough of a frame to see its kind of content; the rest is counted.
constexpr size_t kFirstFrameLines = 30;

struct Summary {
    uint64_t datagrams = 0;
    uint64_t bytes = 0;
    uint64_t largest = 0;
    uint64_t firstNanos = 0;
    uint64_t lastNanos = 0;
    uint64_t largestGapNanos = 0;
    uint64_t largestGapBefore = 0;  // number of the datagram after the gap
    std::string firstFrame;
};

std::string seconds(uint64_t nanos) { return numberText(static_cast<double>(nanos) / 1e9, 3) + " s"; }

// The first datagram's lines, indented; bytes that are not printable show as '?'.
void printFirstFrame(const std::string& frame) {
    std::printf("first frame  (%zu bytes)\n", frame.size());
    size_t shown = 0;
    size_t lines = 0;
    for (size_t start = 0; start < frame.size();) {
        size_t end = frame.find('\n', start);
        end = end == std::string::npos ? frame.size() : end;
        if (shown < kFirstFrameLines) {
            std::string line = frame.substr(start, end - start);
            for (char& c : line) {
                c = (c >= 0x20 && c < 0x7F) || c == '\t' ? c : '?';
            }
            std::printf("  %s\n", line.c_str());
            ++shown;
        }
        ++lines;
        start = end + 1;
    }
    if (lines > shown) {
        std::printf("  ... %zu more lines\n", lines - shown);
    }
}

void printSummary(const Summary& s) {
    std::printf("datagrams    %llu, %llu bytes (largest %llu)\n", static_cast<unsigned long long>(s.datagrams),
                static_cast<unsigned long long>(s.bytes), static_cast<unsigned long long>(s.largest));
    uint64_t span = s.lastNanos - s.firstNanos;
    std::printf("duration     %s, first to last datagram\n", seconds(span).c_str());
    if (s.datagrams > 1 && span > 0) {
        double rate = static_cast<double>(s.datagrams - 1) / (static_cast<double>(span) / 1e9);
        std::printf("mean rate    %s per second\n", numberText(rate, 2).c_str());
        std::printf("largest gap  %s, before datagram %llu\n", seconds(s.largestGapNanos).c_str(),
                    static_cast<unsigned long long>(s.largestGapBefore));
    }
    printFirstFrame(s.firstFrame);
}

}  // namespace

int runInfo(const Options& options) {
    RecordingReader reader;
    std::string error;
    if (!reader.open(options.inPath, error)) {
        std::fprintf(stderr, "ostrelsim: %s\n", error.c_str());
        return kExitFailure;
    }
    Summary s;
    RecordHead head{};
    std::vector<char> bytes;
    ReadOutcome outcome;
    while ((outcome = reader.next(head, bytes)) == ReadOutcome::Record) {
        if (s.datagrams == 0) {
            s.firstNanos = head.arrivalNanos;
            s.firstFrame.assign(bytes.begin(), bytes.end());
        } else if (head.arrivalNanos - s.lastNanos > s.largestGapNanos) {
            s.largestGapNanos = head.arrivalNanos - s.lastNanos;
            s.largestGapBefore = s.datagrams + 1;
        }
        s.lastNanos = head.arrivalNanos;
        ++s.datagrams;
        s.bytes += head.length;
        s.largest = head.length > s.largest ? head.length : s.largest;
    }
    std::printf("recording    %s\n", options.inPath.c_str());
    if (s.datagrams == 0) {
        std::printf("datagrams    none\n");
    } else {
        printSummary(s);
    }
    std::fflush(stdout);
    if (outcome == ReadOutcome::TornTail) {
        std::fprintf(stderr,
                     "ostrelsim: %s ends inside a record (%llu bytes, a recorder that was stopped hard); "
                     "its complete records are counted above\n",
                     options.inPath.c_str(), static_cast<unsigned long long>(reader.tailBytes()));
    } else if (outcome == ReadOutcome::Damaged) {
        std::fprintf(stderr, "ostrelsim: %s is damaged after record %llu; the records before it are counted above\n",
                     options.inPath.c_str(), static_cast<unsigned long long>(reader.recordsRead()));
    }
    return kExitOk;
}

}  // namespace ostrelsim
