// The tracker calibration report of the module's information printout.
//
// Labelled lines start with the logger's info head; the rest of such a line
// is formatted with a stream and written through C stdio, so that it keeps
// its place between the logger's own writes. The stream's number format
// carries over within one report: matrix elements switch it to fixed with
// 3 decimals, and offsets printed later use whatever is in force.
#include <cstdio>
#include <iomanip>
#include <locale>
#include <sstream>

#include "calib/tra_common.h"

namespace {

constexpr char kContinuation[] = "                      :";

class ReportWriter {
public:
    // The classic locale: a host's global locale must not turn 1.000 into 1,000.
    explicit ReportWriter(const CLogH& log) : log_(log) { out_.imbue(std::locale::classic()); }
    ~ReportWriter() { flush(); }

    // A labelled line; `lineEnd` closes it at once.
    void labelled(const char* label, bool lineEnd = false) {
        flush();
        log_.info(label, lineEnd);
    }

    void endLine() {
        out_ << '\n';
        flush();
    }

    std::ostringstream& out() { return out_; }

    // Three rows of indices 4r + c, then an empty line. `trackerNumber` 0
    // leaves the tracker number out.
    void matrixBlock(const char* label, const Matrix4& matrix, uint32_t trackerNumber) {
        for (int row = 0; row < 3; ++row) {
            labelled(row == 0 ? label : kContinuation);
            if (trackerNumber != 0) {
                out_ << ' ' << trackerNumber;
            }
            for (int column = 0; column < 3; ++column) {
                out_ << " [" << row << "][" << column << "]:" << std::fixed << std::setprecision(3) << std::setw(6)
                     << matrix.m[4 * row + column];
            }
            endLine();
        }
        endLine();
    }

    void offset(const Matrix4& holder) {
        out_ << " X:" << holder.m[3] << " Y:" << holder.m[7] << " Z:" << holder.m[11];
    }

private:
    // The text after a head is ours: it shows even when the logger is
    // disabled and writes no head.
    void flush() {
        std::fputs(out_.str().c_str(), stdout);
        out_.str(std::string());
    }

    const CLogH& log_;
    std::ostringstream out_;
};

}  // namespace

bool CTraCommonH::printSettings(bool showCave) const {
    ReportWriter report(logger_);
    if (showCave) {
        report.labelled(caveCoordinates ? "CAVE COORDINATES      : Used" : "CAVE COORDINATES      : Unused", true);
    }
    if (transmitterOffsetSet_) {
        report.labelled("TRANSMITTER OFFSET    :");
        report.offset(transmitterOffset_);
        report.endLine();
    }
    if (transmitterRotationSet_) {
        report.matrixBlock("TRANSMITTER ROTATION  :", transmitterRotation_, 0);
    }
    if (transmitterOffsetSet_ || transmitterRotationSet_) {
        report.matrixBlock("TRANSMITTER TRANSFORM :", transmitterTransform_, 0);
    }
    report.labelled("TRACKER ORDER         : <Real tra> -> <Output tra>", true);
    report.labelled(kContinuation);
    for (uint32_t i = 1; i <= trackerCount(); ++i) {
        const TrackerCalib& slot = trackers_[i - 1];
        if (slot.order != 0) {
            report.out() << ' ' << i << "->" << static_cast<uint32_t>(slot.order + storageBase);
        }
    }
    report.endLine();
    for (uint32_t k = 1; k <= trackerCount(); ++k) {
        const TrackerCalib& slot = trackers_[k - 1];
        if (slot.order == 0) {
            continue;
        }
        if (slot.sensorOffsetSet) {
            report.labelled("SENSOR OFFSET         :");
            report.out() << ' ' << k;
            report.offset(slot.sensorOffset);
            report.endLine();
        }
        if (slot.sensorRotationSet) {
            report.matrixBlock("SENSOR ROTATION       :", slot.sensorRotation, k);
        }
        if (slot.sensorOffsetSet || slot.sensorRotationSet) {
            report.matrixBlock("SENSOR TRANSFORM      :", slot.sensorTransform, k);
        }
    }
    if (calibLibrary_ != nullptr) {
        report.labelled("CALIBRATION LIBRARY   :");
        report.out() << " name:" << calibLibraryName_;
        report.endLine();
        for (size_t j = 0; j < calibArgs_.size(); ++j) {
            report.labelled(kContinuation);
            report.out() << " arg[" << j << "]:" << calibArgs_[j];
            report.endLine();
        }
    }
    return true;
}
