// The controller part of the device information block: output numbers,
// valuator order with scales, button order and tracker emulations.
#include <cstdio>
#include <locale>
#include <sstream>
#include <string>

#include "calib/con_common.h"

namespace {

constexpr char kContinuation[] = "                      :";
constexpr const char* kComponentNames[TrackerEmulation::kComponents] = {"X", "Y", "Z", "Azim", "Elev", "Roll"};

// Numbers as the default stream format writes them, whatever the process
// locale: the block is read by people comparing it with their config.
std::ostringstream classicStream() {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    return out;
}

void finishLine(const std::ostringstream& out) {
    std::fputs(out.str().c_str(), stdout);
    std::fputc('\n', stdout);
}

// a3*X^3 + a2*X^2 + a1*X + a0 with the zero terms left out (nothing at all
// when every coefficient is 0). A positive term after any written one gets
// its "+", also when the terms before it cancel out.
void writeScale(std::ostringstream& out, const float (&a)[4]) {
    static const char* const kPowers[4] = {"X^3", "X^2", "X", ""};
    bool written = false;
    for (int j = 0; j < 4; ++j) {
        if (a[j] == 0.0f) {
            continue;
        }
        if (written && a[j] > 0.0f) {
            out << '+';
        }
        out << a[j] << kPowers[j];
        written = true;
    }
}

}  // namespace

void CConCommonH::printControllerLabel(uint32_t c) const {
    logger_.info(kContinuation, false);
    if (count_ != 1) {
        std::printf(" %u:", static_cast<unsigned>(c));
    }
}

// Header, then " k->o" for every own valuator (button) k that has an
// output o, valuators with their scale.
void CConCommonH::printOrder(uint32_t c, const ControllerMap& map, bool buttons) const {
    logger_.info(buttons ? "BUTTON ORDER          : <Real but> -> <Output but>"
                         : "VALUATOR ORDER(SCALE) : <Real val> -> <Output val>",
                 true);
    printControllerLabel(c);
    const uint32_t* order = buttons ? map.buttonOrder : map.valuatorOrder;
    const uint32_t size = buttons ? ControllerMap::kMaxButtons : ControllerMap::kMaxValuators;
    std::ostringstream out = classicStream();
    for (uint32_t k = 1; k <= size; ++k) {
        if (order[k - 1] == 0) {
            continue;
        }
        out << ' ' << k << "->" << order[k - 1];
        if (!buttons) {
            out << '(';
            writeScale(out, map.valuatorScale[k - 1]);
            out << ')';
        }
    }
    finishLine(out);
}

void CConCommonH::printEmulation(uint32_t c, const TrackerEmulation& e) const {
    logger_.info("TRACKER EMULATION     :", false);
    std::ostringstream head = classicStream();
    if (count_ != 1) {
        head << ' ' << c << "->";
    } else {
        head << " As ";
    }
    head << "tracker[" << e.trackerId << ']';
    finishLine(head);

    printControllerLabel(c);
    std::ostringstream position = classicStream();
    position << " Init Values:"
             << " X=" << e.initPose[0] << " Y=" << e.initPose[1] << " Z=" << e.initPose[2];
    finishLine(position);

    printControllerLabel(c);
    std::ostringstream angles = classicStream();
    angles << " Init Values:"
           << " Azim=" << e.initPose[3] << " Elev=" << e.initPose[4] << " Roll=" << e.initPose[5];
    finishLine(angles);

    printControllerLabel(c);
    std::ostringstream assign = classicStream();
    assign << " Val Assign :";
    for (int i = 0; i < TrackerEmulation::kComponents; ++i) {
        if (e.valuatorAssign[i] != 0) {
            assign << ' ' << e.valuatorAssign[i] << "->" << kComponentNames[i];
        }
    }
    finishLine(assign);

    if (e.resetButton != 0) {
        printControllerLabel(c);
        std::printf(" Reset But  : %u\n", static_cast<unsigned>(e.resetButton));
    }
}

void CConCommonH::printReport() const {
    logger_.info("CONTROLLER ORDER      : <Real con> -> <Output con>", true);
    logger_.info(kContinuation, false);
    std::ostringstream outputs = classicStream();
    for (uint32_t c = 1; c <= count_; ++c) {
        if (maps_[c - 1].outputId != 0) {
            outputs << ' ' << c << "->" << (maps_[c - 1].outputId + controllerBase);
        }
    }
    finishLine(outputs);
    for (uint32_t c = 1; c <= count_; ++c) {
        const ControllerMap& map = maps_[c - 1];
        if (map.outputId == 0) {
            continue;
        }
        if (map.numValuators != 0) {
            printOrder(c, map, false);
        }
        if (map.numButtons != 0) {
            printOrder(c, map, true);
        }
        if (map.emulation) {
            printEmulation(c, *map.emulation);
        }
    }
    std::fflush(stdout);
}
