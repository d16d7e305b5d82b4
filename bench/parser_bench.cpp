// Parse time per frame: OstrelParser against a reference that parses the
// same frames with strtol/strtod in the plainest way, side by side in one
// run. Frames: small (1 body), typical (4 bodies, 1 Gripwand, 1 tool) and
// large (32 bodies, 16 Gripwands, 16 tools, 100 markers).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "link/ostrel_parser.h"

namespace {

// A pose as the tracking system writes it: millimetres with three
// decimals, a rotation with six.
std::string pose(int seed) {
    char text[256];
    const double a = 0.1 * seed;
    std::snprintf(text, sizeof text, "[%.3f %.3f %.3f][%.6f %.6f %.6f %.6f %.6f %.6f %.6f %.6f %.6f]",
                  100.0 + 13.7 * seed, -250.25 + seed, 1480.125 - 3.5 * seed, std::cos(a), std::sin(a), 0.0,
                  -std::sin(a), std::cos(a), 0.0, 0.0, 0.0, 1.0);
    return text;
}

std::string frame(int bodies, int wands, int tools, int markers) {
    std::string text = "fr 123456\nts 39596.024000\n6dcal " + std::to_string(bodies + wands + tools) + "\n";
    text += "6d " + std::to_string(bodies);
    for (int i = 0; i < bodies; ++i) text += " [" + std::to_string(i) + " 1.000]" + pose(i);
    text += "\n";
    if (wands > 0) {
        text += "6df " + std::to_string(wands);
        for (int i = 0; i < wands; ++i)
            text += " [" + std::to_string(i) + " 1.000 " + std::to_string(i % 256) + "]" + pose(i + 50);
        text += "\n";
    }
    if (tools > 0) {
        text += "6dmt " + std::to_string(tools);
        for (int i = 0; i < tools; ++i)
            text += " [" + std::to_string(i) + " 1.000 " + std::to_string(i % 16) + "]" + pose(i + 90);
        text += "\n";
    }
    if (markers > 0) {
        text += "3d " + std::to_string(markers);
        for (int i = 0; i < markers; ++i) {
            char marker[96];
            std::snprintf(marker, sizeof marker, " [%d 1.000][%.3f %.3f %.3f]", i + 1, 10.5 * i, -20.25 * i, 300.0 + i);
            text += marker;
        }
        text += "\n";
    }
    return text;
}

// ------------------------------------------------------------ reference

// The plainest parser of the same lines: strncmp for the tag, strchr for
// each group, strtol/strtod for each number, fixed tables.
struct Reference {
    unsigned long frameCounter = 0;
    double timestamp = -1;
    long calibrated = -1;
    BodyRecord bodies[64];
    GripwandRecord wands[32];
    MeasurementToolRecord tools[32];
    MarkerRecord markers[128];
    long bodyCount = 0, wandCount = 0, toolCount = 0, markerCount = 0;
};

const char* group(const char* p, int ints, long* intOut, int doubles, double* doubleOut) {
    p = std::strchr(p, '[');
    if (p == nullptr) return nullptr;
    ++p;
    char* end = nullptr;
    for (int i = 0; i < ints; ++i) {
        intOut[i] = std::strtol(p, &end, 0);
        p = end;
    }
    for (int i = 0; i < doubles; ++i) {
        doubleOut[i] = std::strtod(p, &end);
        p = end;
    }
    p = std::strchr(p, ']');
    return p == nullptr ? nullptr : p + 1;
}

// "id" groups interleave: id, quality, then more integers.
const char* entryHead(const char* p, long& id, double& quality, long* extra, int extras) {
    p = std::strchr(p, '[');
    if (p == nullptr) return nullptr;
    char* end = nullptr;
    id = std::strtol(p + 1, &end, 0);
    quality = std::strtod(end, &end);
    for (int i = 0; i < extras; ++i) extra[i] = std::strtol(end, &end, 0);
    p = std::strchr(end, ']');
    return p == nullptr ? nullptr : p + 1;
}

// n, then n entries: the head group [id quality extras...], [x y z] and,
// for records with a rotation, [r0 ... r8]. pick chooses the record.
template <class Pick>
bool readEntries(const char* p, long& count, int extras, Pick pick) {
    char* end = nullptr;
    count = std::strtol(p, &end, 0);
    p = end;
    for (long k = 0; k < count && p != nullptr; ++k) {
        long id = 0, extra = 0;
        double quality = 0;
        p = entryHead(p, id, quality, &extra, extras);
        auto& record = pick(k, id, extra);
        record.id = static_cast<int32_t>(id);
        record.quality = quality;
        if (p != nullptr) p = group(p, 0, nullptr, 3, record.loc);
        if constexpr (!std::is_same_v<std::decay_t<decltype(record)>, MarkerRecord>) {
            if (p != nullptr) p = group(p, 0, nullptr, 9, record.rot);
        }
    }
    return p != nullptr;
}

bool parseReference(Reference& r, const char* text) {
    for (const char* line = text; line != nullptr && *line != '\0';) {
        char* end = nullptr;
        const char* p = line;
        bool parsed = true;
        if (std::strncmp(p, "fr ", 3) == 0) {
            r.frameCounter = std::strtoul(p + 3, &end, 0);
        } else if (std::strncmp(p, "ts ", 3) == 0) {
            r.timestamp = std::strtod(p + 3, &end);
        } else if (std::strncmp(p, "6dcal ", 6) == 0) {
            r.calibrated = std::strtol(p + 6, &end, 0);
        } else if (std::strncmp(p, "6d ", 3) == 0) {
            parsed = readEntries(p + 3, r.bodyCount, 0,
                                 [&](long, long id, long) -> BodyRecord& { return r.bodies[id & 63]; });
        } else if (std::strncmp(p, "6df ", 4) == 0) {
            parsed = readEntries(p + 4, r.wandCount, 1, [&](long k, long, long word) -> GripwandRecord& {
                GripwandRecord& w = r.wands[k & 31];
                for (int b = 0; b < 8; ++b) w.buttons[b] = (word >> b) & 1;
                w.joystick[0] = (word & 0x20) ? -1.0 : (word & 0x80) ? 1.0 : 0.0;
                w.joystick[1] = (word & 0x10) ? -1.0 : (word & 0x40) ? 1.0 : 0.0;
                return w;
            });
        } else if (std::strncmp(p, "6dmt ", 5) == 0) {
            parsed = readEntries(p + 5, r.toolCount, 1, [&](long k, long, long word) -> MeasurementToolRecord& {
                MeasurementToolRecord& t = r.tools[k & 31];
                for (int b = 0; b < 4; ++b) t.buttons[b] = (word >> b) & 1;
                return t;
            });
        } else if (std::strncmp(p, "3d ", 3) == 0) {
            parsed = readEntries(p + 3, r.markerCount, 0,
                                 [&](long k, long, long) -> MarkerRecord& { return r.markers[k & 127]; });
        }
        if (!parsed) return false;
        line = std::strchr(line, '\n');
        if (line != nullptr) ++line;
    }
    return true;
}

// ------------------------------------------------------------ runs

bool sameValues(const OstrelParser& ours, const Reference& reference) {
    if (ours.frameCounter() != reference.frameCounter || ours.timestamp() != reference.timestamp) return false;
    for (int i = 0; i < ours.bodyCount(); ++i) {
        if (std::memcmp(ours.body(i)->rot, reference.bodies[i].rot, sizeof reference.bodies[i].rot) != 0) return false;
        if (std::memcmp(ours.body(i)->loc, reference.bodies[i].loc, sizeof reference.bodies[i].loc) != 0) return false;
    }
    for (int i = 0; i < ours.markerCount(); ++i) {
        if (std::memcmp(ours.marker(i)->loc, reference.markers[i].loc, sizeof reference.markers[i].loc) != 0)
            return false;
    }
    return true;
}

void parseOurs(benchmark::State& state, const std::string& text) {
    OstrelParser parser;
    Reference reference;
    parser.beginFrame();
    if (!parser.parseFrame(text.c_str(), text.size() + 1) || !parseReference(reference, text.c_str()) ||
        !sameValues(parser, reference)) {
        state.SkipWithError("the two parsers disagree on this frame");
        return;
    }
    for (auto _ : state) {
        parser.beginFrame();
        bool parsed = parser.parseFrame(text.c_str(), text.size() + 1);
        benchmark::DoNotOptimize(parsed);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    state.counters["bytes/frame"] = static_cast<double>(text.size());
}

void parseReferenceFrames(benchmark::State& state, const std::string& text) {
    Reference reference;
    for (auto _ : state) {
        bool parsed = parseReference(reference, text.c_str());
        benchmark::DoNotOptimize(parsed);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    state.counters["bytes/frame"] = static_cast<double>(text.size());
}

}  // namespace

int main(int argc, char** argv) {
    static const std::string small = frame(1, 0, 0, 0);
    static const std::string typical = frame(4, 1, 1, 0);
    static const std::string large = frame(32, 16, 16, 100);
    for (const auto& [name, text] : {std::pair{"small", &small}, {"typical", &typical}, {"large", &large}}) {
        const std::string* frameText = text;
        benchmark::RegisterBenchmark(name, [frameText](benchmark::State& s) { parseOurs(s, *frameText); });
        benchmark::RegisterBenchmark((std::string(name) + "Reference").c_str(),
                                     [frameText](benchmark::State& s) { parseReferenceFrames(s, *frameText); });
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
