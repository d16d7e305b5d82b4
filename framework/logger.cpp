#include "framework/logger.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/clock.h"
#include "platform/thread.h"

namespace {

void copyText(char (&field)[CLogH::kTextSize], const char* text) noexcept {
    std::snprintf(field, sizeof field, "%s", text == nullptr ? "" : text);
}

// A logger copied from the host may carry a name or label that fills its
// whole field without a terminator: never read past the field.
void writeField(const char (&field)[CLogH::kTextSize]) noexcept {
    const void* end = std::memchr(field, '\0', sizeof field);
    size_t length = end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - field) : sizeof field;
    std::fwrite(field, 1, length, stdout);
}

}  // namespace

CLogH::CLogH() noexcept
    : showDate(1),
      showTime(1),
      showThreadId(1),
      enabled(1),
      name{},
      labels{},
      debugThreshold(1),
      debugLevel(0),
      ownerId(0) {
    copyText(name, "MESSAGE");
    copyText(labels[kInfo], "INFO");
    copyText(labels[kError], "ERROR");
    copyText(labels[kWarning], "WARNING");
    copyText(labels[kDebug], "DEBUG");
}

void CLogH::setName(const char* text) noexcept { copyText(name, text); }

bool CLogH::isDebugActive() const noexcept {
    return debugLevel != 0 && (ownerId == debugLevel || debugThreshold <= debugLevel);
}

void CLogH::writeHead() const noexcept {
    char format[16] = "";
    if (showDate) {
        std::strcat(format, "%b %d ");
    }
    if (showTime) {
        std::strcat(format, "%X ");
    }
    if (format[0] != '\0') {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        char text[kTextSize] = "";
        if (platform::toLocalTime(now, local) && std::strftime(text, sizeof text, format, &local) > 0) {
            std::fputs(text, stdout);
        }
    }
    writeField(name);
    if (showThreadId) {
        std::printf("[%u]: ", static_cast<unsigned>(platform::currentThreadId()));
    } else {
        std::fputs(": ", stdout);
    }
}

void CLogH::writeLine(Label label, const char* message, bool newline) const noexcept {
    writeHead();
    writeField(labels[label]);
    std::fputs(": ", stdout);
    std::fputs(message == nullptr ? "" : message, stdout);
    if (newline) {
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
}

void CLogH::info(const char* message, const bool& newline) const noexcept {
    if (enabled) {
        writeLine(kInfo, message, newline);
    }
}

void CLogH::error(const char* message, const bool& newline) const noexcept {
    if (enabled) {
        writeLine(kError, message, newline);
    }
}

void CLogH::debug(const char* message, const bool& newline) const noexcept {
    if (enabled && isDebugActive()) {
        writeLine(kDebug, message, newline);
    }
}

// vsnprintf cuts a long text at the buffer's end instead of writing past it.
void CLogH::writeFormatted(Label label, const char* format, std::va_list args) const noexcept {
    writeHead();
    char text[kFormatBufferSize] = {};
    if (format != nullptr) {
        std::vsnprintf(text, sizeof text, format, args);
    }
    writeField(labels[label]);
    std::fputs(": ", stdout);
    std::fputs(text, stdout);
}

void CLogH::infof(const char* format, ...) const noexcept {
    if (enabled) {
        std::va_list args;
        va_start(args, format);
        writeFormatted(kInfo, format, args);
        va_end(args);
    }
}

void CLogH::errorf(const char* format, ...) const noexcept {
    if (enabled) {
        std::va_list args;
        va_start(args, format);
        writeFormatted(kError, format, args);
        va_end(args);
    }
}
