// Send mode: frames of the simulated scene at a steady rate, optionally
// gated by the controller's start and stop commands.
#include <cstdio>
#include <memory>

#include "platform/clock.h"
#include "tools/ostrelsim/controller.h"
#include "tools/ostrelsim/datagram_sender.h"
#include "tools/ostrelsim/frame_composer.h"
#include "tools/ostrelsim/modes.h"
#include "tools/ostrelsim/pacing.h"

namespace ostrelsim {

namespace {

constexpr uint64_t kReportEveryFailures = 1000;

std::string countText(int count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string sceneText(const SceneCounts& scene) {
    return countText(scene.bodies, "body", "bodies") + ", " + countText(scene.wands, "Gripwand", "Gripwands") + ", " +
           countText(scene.tools, "tool", "tools") + ", " +
           countText(scene.inertial, "inertial body", "inertial bodies") + ", " +
           countText(scene.markers, "marker", "markers") + ", format " + std::to_string(scene.format);
}

std::unique_ptr<Controller> openController(const Options& options, int& status) {
    auto controller = std::make_unique<Controller>(stdout);
    uint16_t tcpPort = options.tcpPort;
    uint16_t udpPort = options.udpPort;
    std::string error;
    if (!controller->open(tcpPort, udpPort, !options.udpPortGiven, error)) {
        std::fprintf(stderr, "ostrelsim: %s\n", error.c_str());
        status = kExitFailure;
        return nullptr;
    }
    std::printf("ostrelsim: controller listening on TCP port %u and UDP port %u; frames wait for a start command\n",
                static_cast<unsigned>(tcpPort), static_cast<unsigned>(udpPort));
    return controller;
}

}  // namespace

int runSend(const Options& options) {
    DatagramSender sender;
    std::string error;
    if (!sender.open(options.to.host, options.to.port, options.multicast, error)) {
        std::fprintf(stderr, "ostrelsim: %s\n", error.c_str());
        return kExitUsage;
    }
    std::unique_ptr<Controller> controller;
    if (options.controller) {
        int status = kExitOk;
        controller = openController(options, status);
        if (controller == nullptr) {
            return status;
        }
    }
    SceneCounts scene{options.bodies, options.wands, options.tools, options.inertial, options.markers, options.format};
    std::printf("ostrelsim: sending frames at %s Hz to %s:%u (%s)\n", numberText(options.rateHz).c_str(),
                options.to.host.c_str(), static_cast<unsigned>(options.to.port), sceneText(scene).c_str());
    std::fflush(stdout);

    FrameWriter writer(32768);
    uint64_t start = platform::monotonicNanos();
    FrameSchedule schedule(start, options.rateHz);
    uint64_t frame = 0;
    uint64_t sent = 0;
    uint64_t failures = 0;
    bool stopped = false;
    while (options.seconds <= 0.0 || schedule.secondsOf(frame) < options.seconds) {
        if (!waitUntil(schedule.dueNanos(frame), controller.get())) {
            stopped = true;
            break;
        }
        if (controller == nullptr || controller->sendingFrames()) {
            composeFrame(scene, static_cast<uint32_t>(frame), schedule.secondsOf(frame), writer);
            if (sender.send(writer.text())) {
                ++sent;
            } else if (failures++ % kReportEveryFailures == 0) {
                std::fprintf(stderr, "ostrelsim: frame %llu could not be sent (%llu failed so far)\n",
                             static_cast<unsigned long long>(frame), static_cast<unsigned long long>(failures));
            }
        }
        frame = schedule.nextFrame(frame, platform::monotonicNanos());
    }
    if (!stopped && options.seconds > 0.0) {
        // The run lasts the time asked for, not just up to the last frame.
        waitUntil(start + static_cast<uint64_t>(options.seconds * 1e9), controller.get());
    }
    double elapsed = static_cast<double>(platform::monotonicNanos() - start) / 1e9;
    std::printf("ostrelsim: sent %llu frames in %s s\n", static_cast<unsigned long long>(sent),
                numberText(elapsed, 1).c_str());
    return kExitOk;
}

}  // namespace ostrelsim
