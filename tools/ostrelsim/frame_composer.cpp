#include "tools/ostrelsim/frame_composer.h"

#include "tools/ostrelsim/motion.h"

namespace ostrelsim {

namespace {

constexpr double kSeenQuality = 1.0;
constexpr double kNotSeenQuality = -1.0;

void writeBodies(const SceneCounts& scene, double t, FrameWriter& writer) {
    int visible = 0;
    for (int i = 0; i < scene.bodies; ++i) {
        visible += droppedOut(ObjectKind::Body, i, t) ? 0 : 1;
    }
    writer.beginBodies(visible);
    for (int i = 0; i < scene.bodies; ++i) {
        if (!droppedOut(ObjectKind::Body, i, t)) {
            writer.body(BodyEntry{i, kSeenQuality, bodyPose(i, t)});
        }
    }
    writer.endLine();
}

WandEntry wandAt(const SceneCounts& scene, int i, double t) {
    WandEntry entry{};
    entry.id = i;
    entry.buttonCount = scene.format == 1 ? kOlderWandButtons : kWandButtons;
    entry.buttons = pressedButtons(i, entry.buttonCount, t);
    joystickPosition(i, t, entry.joystick);
    // Buttons and joystick keep working while the wand is out of sight.
    if (droppedOut(ObjectKind::Wand, i, t)) {
        entry.quality = kNotSeenQuality;
    } else {
        entry.quality = kSeenQuality;
        entry.pose = wandPose(i, t);
    }
    return entry;
}

void writeWands(const SceneCounts& scene, double t, FrameWriter& writer) {
    if (scene.format == 1) {
        writer.beginOlderWands(scene.wands);
    } else {
        writer.beginWands(scene.wands, scene.wands);
    }
    for (int i = 0; i < scene.wands; ++i) {
        WandEntry entry = wandAt(scene, i, t);
        if (scene.format == 1) {
            writer.olderWand(entry);
        } else {
            writer.wand(entry);
        }
    }
    writer.endLine();
}

void writeTools(const SceneCounts& scene, double t, FrameWriter& writer) {
    if (scene.format == 1) {
        writer.beginOlderTools(scene.tools);
    } else {
        writer.beginTools(scene.tools, scene.tools);
    }
    for (int i = 0; i < scene.tools; ++i) {
        ToolEntry entry{};
        entry.id = i;
        entry.buttonCount = kToolButtons;
        entry.buttons = pressedButtons(i, kToolButtons, t + 1.0);
        entry.tipRadius = kToolTipRadius;
        if (droppedOut(ObjectKind::Tool, i, t)) {
            entry.quality = kNotSeenQuality;
        } else {
            entry.quality = kSeenQuality;
            entry.pose = toolPose(i, t);
        }
        if (scene.format == 1) {
            writer.olderTool(entry);
        } else {
            writer.tool(entry);
        }
    }
    writer.endLine();
}

void writeInertial(const SceneCounts& scene, double t, FrameWriter& writer) {
    writer.beginInertial(scene.inertial);
    for (int i = 0; i < scene.inertial; ++i) {
        InertialEntry entry{i, 2, 0.0, inertialPose(i, t)};
        double blind = secondsOutOfSight(ObjectKind::Inertial, i, t);
        if (blind >= 0.0) {
            // The drift estimate grows with the time spent without optical help.
            entry.state = 1;
            entry.error = 0.5 + 5.0 * blind;
        }
        writer.inertial(entry);
    }
    writer.endLine();
}

void writeMarkers(const SceneCounts& scene, double t, FrameWriter& writer) {
    writer.beginMarkers(scene.markers);
    for (int i = 0; i < scene.markers; ++i) {
        MarkerEntry entry{i + 1, kSeenQuality, {}};
        markerPosition(i, scene.markers, t, entry.loc);
        writer.marker(entry);
    }
    writer.endLine();
}

}  // namespace

int calibratedBodyCount(const SceneCounts& scene) noexcept {
    return scene.format == 1 ? scene.bodies + scene.wands + scene.tools : scene.bodies;
}

void composeFrame(const SceneCounts& scene, uint32_t frame, double seconds, FrameWriter& writer) {
    writer.clear();
    writer.frameCounter(frame);
    writer.timestamp(seconds);
    writer.calibratedBodies(calibratedBodyCount(scene));
    if (scene.bodies > 0) writeBodies(scene, seconds, writer);
    if (scene.wands > 0) writeWands(scene, seconds, writer);
    if (scene.tools > 0) writeTools(scene, seconds, writer);
    if (scene.inertial > 0) writeInertial(scene, seconds, writer);
    if (scene.markers > 0) writeMarkers(scene, seconds, writer);
}

}  // namespace ostrelsim
