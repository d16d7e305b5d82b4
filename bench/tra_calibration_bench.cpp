// Cost of the per-write tracker calibration, side by side: a plain copy of
// the pose, the pass-through of an uncalibrated tracker, the full geometry,
// the calibration library plus geometry, and reading the option lines.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "calib/tra_common.h"

namespace {

struct Lines {
    DeviceConfig config{};
    std::vector<std::string> texts;

    void add(const char* keyword, std::vector<std::string> args) {
        ConfigLine& line = config.lines[config.numLines++];
        line.lineNumber = static_cast<int32_t>(config.numLines);
        line.keyword = keyword;
        texts.reserve(512);
        for (std::string& arg : args) {
            texts.push_back(std::move(arg));
            line.args[line.argCount++] = texts.back().c_str();
        }
    }
};

CLogH silentLogger() {
    CLogH log;
    log.enabled = 0;
    return log;
}

Lines geometryLines() {
    Lines lines;
    lines.add("transmitteroffset", {"1", "2", "3", "feet"});
    lines.add("transmitterrotation", {"0", "1", "0", "30"});
    lines.add("sensoroffset", {"1", "0", "0", "10", "cm"});
    lines.add("sensorrotation", {"1", "1", "0", "0", "-20"});
    lines.add("sensortranslation", {"1", "0", "0.5", "0"});
    return lines;
}

void setUp(CTraCommonH& handler, Lines* lines) {
    handler.inputConnector = false;
    handler.outputCount = 4;
    handler.initTrackers(4);
    for (uint32_t i = 1; i <= 4; ++i) {
        handler.setTracker(i, i, nullptr, nullptr, nullptr);
    }
    if (lines != nullptr) {
        handler.parseOptions(&lines->config);
    }
}

void runPoses(benchmark::State& state, CTraCommonH* handler) {
    TrackerPose pose{0.1f, 1.7f, -0.4f, 33.0f, -12.0f, 5.0f};
    for (auto _ : state) {
        TrackerPose copy = pose;
        benchmark::DoNotOptimize(copy);
        if (handler != nullptr) {
            benchmark::DoNotOptimize(handler->calibratePose(1, copy));
        }
        benchmark::DoNotOptimize(copy);
        pose.azim += 0.001f;
    }
}

void BM_PoseCopyOnly(benchmark::State& state) { runPoses(state, nullptr); }

void BM_Uncalibrated(benchmark::State& state) {
    CLogH log = silentLogger();
    CTraCommonH handler(&log);
    setUp(handler, nullptr);
    runPoses(state, &handler);
}

void BM_FullGeometry(benchmark::State& state) {
    CLogH log = silentLogger();
    CTraCommonH handler(&log);
    Lines lines = geometryLines();
    setUp(handler, &lines);
    runPoses(state, &handler);
}

#ifdef CALIB_ADD_ONE_PATH
void BM_LibraryAndGeometry(benchmark::State& state) {
    CLogH log = silentLogger();
    CTraCommonH handler(&log);
    Lines lines = geometryLines();
    lines.add("calibration", {CALIB_ADD_ONE_PATH});
    setUp(handler, &lines);
    runPoses(state, &handler);
}
BENCHMARK(BM_LibraryAndGeometry);
#endif

void BM_ParseOptions(benchmark::State& state) {
    CLogH log = silentLogger();
    Lines lines = geometryLines();
    for (auto _ : state) {
        CTraCommonH handler(&log);
        setUp(handler, &lines);
        benchmark::DoNotOptimize(handler.tracker(1));
    }
}

}  // namespace

BENCHMARK(BM_PoseCopyOnly);
BENCHMARK(BM_Uncalibrated);
BENCHMARK(BM_FullGeometry);
BENCHMARK(BM_ParseOptions);

BENCHMARK_MAIN();
