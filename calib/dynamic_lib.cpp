#include "calib/dynamic_lib.h"

#include <cstdio>
#include <new>

namespace {

constexpr bool kLineEnd = true;
constexpr bool kOpenLine = false;

// Ends a line that the logger opened with its head (or, when disabled,
// did not write): the rest is written straight to the output.
void finishLine(const char* first, const char* second) noexcept {
    std::fputs(first, stdout);
    std::fputs(second, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

CDynamicLibH::CDynamicLibH(const char* libraryName, const CLogH* log) noexcept
    : library_(), procCache_(), logger_(log != nullptr ? *log : CLogH()) {
    if (log == nullptr) {
        logger_.setName("CDynamicLibH");
    }
    logger_.setOwnerId(3);
    logger_.debug("CDynamicLibH: \"constructor\" called.", kLineEnd);
    logger_.debug("CDynamicLibH: \"init\" called.", kLineEnd);
    if (libraryName != nullptr) {
        load(libraryName);
    }
}

CDynamicLibH::~CDynamicLibH() {
    logger_.debug("CDynamicLibH: \"destructor\" called.", kLineEnd);
    unload();
}

bool CDynamicLibH::load(const char* name) noexcept {
    logger_.debug("CDynamicLibH: \"load\" called.", kLineEnd);
    if (name == nullptr || name[0] == '\0') {
        logger_.error("CDynamicLibH: Library name is empty.", kLineEnd);
        return false;
    }
    if (library_.isOpen()) {
        return false;
    }
    char reason[256];
    if (!platform::openLibrary(name, library_, reason, sizeof reason)) {
        reportLoadFailure(name, reason);
        return false;
    }
    reportLoaded(name);
    return true;
}

void CDynamicLibH::reportLoadFailure(const char* name, const char* reason) const noexcept {
    logger_.error("CDynamicLibH: Can not load the library ", kOpenLine);
    finishLine(name, "");
    // The system's own words help the user; they never replace the line above.
    if (logger_.isDebugActive()) {
        logger_.debug("CDynamicLibH: ", kOpenLine);
        finishLine("System reason: ", reason);
    }
}

void CDynamicLibH::reportLoaded(const char* name) const noexcept {
    if (logger_.isDebugActive()) {
        logger_.debug("CDynamicLibH: ", kOpenLine);
        finishLine(name, " library loaded.");
    }
}

bool CDynamicLibH::unload() noexcept {
    logger_.debug("CDynamicLibH: \"unload\" called.", kLineEnd);
    platform::closeLibrary(library_);
    procCache_.clear();
    return true;
}

CDynamicLibH::ProcAddress CDynamicLibH::getProcAddr(const char* name) noexcept {
    logger_.debug("CDynamicLibH: \"getProcAddr\" called.", kLineEnd);
    if (!library_.isOpen()) {
        logger_.error("CDynamicLibH: Library has not been loaded.", kLineEnd);
        return nullptr;
    }
    return platform::findProcedure(library_, name);
}

CDynamicLibH::ProcAddress CDynamicLibH::getProcAddrCached(const char* name, uint32_t slot) noexcept {
    logger_.debug("CDynamicLibH: \"getProcAddrCached\" called.", kLineEnd);
    if (!library_.isOpen()) {
        logger_.error("CDynamicLibH: Library has not been loaded.", kLineEnd);
        return nullptr;
    }
    if (slot > kMaxProcSlots) {
        logger_.error("CDynamicLibH: Procedure slot out of range.", kLineEnd);
        return nullptr;
    }
    if (slot >= procCache_.size()) {
        try {
            procCache_.resize(slot + 1, ProcSlot{nullptr, 0});
        } catch (const std::bad_alloc&) {
            return nullptr;  // nothing cached; the next call tries again
        }
    }
    ProcSlot& entry = procCache_[slot];
    if (entry.address != nullptr || entry.tried != 0) {
        return entry.address;
    }
    entry.tried = 1;
    entry.address = getProcAddr(name);
    return entry.address;
}
