#pragma once
// CLogH: the diagnostic line writer every framework object holds a copy of.
// A plain value type: the host hands one in and objects copy it whole, so
// the field order is part of the host interface.
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "native.h"

class CLogH {
public:
    enum Label { kInfo = 0, kError = 1, kWarning = 2, kDebug = 3 };
    static constexpr int kTextSize = 100;
    static constexpr int kFormatBufferSize = 256;

    CLogH() noexcept;

    void setName(const char* text) noexcept;
    void setOwnerId(int32_t id) noexcept { ownerId = id; }
    bool isDebugActive() const noexcept;

    // Stream form: head, label, message; newline ends the line and flushes.
    // With newline false the caller finishes the line on standard output.
    void info(const char* message, const bool& newline) const noexcept;
    void error(const char* message, const bool& newline) const noexcept;
    void debug(const char* message, const bool& newline) const noexcept;

    // Printf form: head, label, formatted text (cut to 255 characters); the
    // format carries its own "\n", nothing is added or flushed.
    void infof(const char* format, ...) const noexcept ZELOSTREL_PRINTF_FORMAT(2, 3);
    void errorf(const char* format, ...) const noexcept ZELOSTREL_PRINTF_FORMAT(2, 3);

    uint8_t showDate;
    uint8_t showTime;
    uint8_t showThreadId;
    uint8_t enabled;
    char name[kTextSize];
    char labels[4][kTextSize];
    int32_t debugThreshold;
    int32_t debugLevel;
    int32_t ownerId;

private:
    void writeHead() const noexcept;
    void writeLine(Label label, const char* message, bool newline) const noexcept;
    void writeFormatted(Label label, const char* format, std::va_list args) const noexcept;
};
// The host copies loggers field by field: the layout is the host's.
static_assert(offsetof(CLogH, enabled) == 3 && offsetof(CLogH, name) == 4 && offsetof(CLogH, labels) == 104 &&
                  offsetof(CLogH, debugThreshold) == 504 && offsetof(CLogH, debugLevel) == 508 &&
                  offsetof(CLogH, ownerId) == 512 && sizeof(CLogH) == 516,
              "CLogH: four flag bytes, name, four labels, threshold, level, owner id");
