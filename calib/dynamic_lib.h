#pragma once
// CDynamicLibH: loads one dynamic library, finds its procedures by name and
// remembers look-up results by slot number, so that a procedure called every
// cycle is looked up once (a missing one too).
#include <cstdint>
#include <vector>

#include "framework/logger.h"
#include "platform/dynamic_library.h"

class CDynamicLibH {
public:
    using ProcAddress = platform::ProcAddress;

    // Slot numbers above this are refused: the caller chooses them, and a
    // wild number must not make the cache grow without bound.
    static constexpr uint32_t kMaxProcSlots = 64;

    // With a name the library is loaded at once; the result of that load is
    // only logged. A given logger is copied (name included), otherwise a
    // fresh one named "CDynamicLibH" is made.
    explicit CDynamicLibH(const char* libraryName = nullptr, const CLogH* log = nullptr) noexcept;
    virtual ~CDynamicLibH();

    CDynamicLibH(const CDynamicLibH&) = delete;
    CDynamicLibH& operator=(const CDynamicLibH&) = delete;

    // False for an empty name, a failed load, or when a library is already
    // loaded (the first one stays).
    bool load(const char* name) noexcept;
    // Releases the library and forgets every cached look-up; always true.
    bool unload() noexcept;
    bool isLoaded() const noexcept { return library_.isOpen(); }

    ProcAddress getProcAddr(const char* name) noexcept;
    // The slot's earlier result when it was looked up before (a null result
    // included); otherwise looks `name` up once and keeps the result. The
    // name is not compared with the earlier look-up.
    ProcAddress getProcAddrCached(const char* name, uint32_t slot) noexcept;

    uint32_t cachedSlots() const noexcept { return static_cast<uint32_t>(procCache_.size()); }
    const CLogH& logger() const noexcept { return logger_; }

protected:
    CLogH& mutableLogger() noexcept { return logger_; }

private:
    struct ProcSlot {
        ProcAddress address;
        uint32_t tried;
    };

    void reportLoaded(const char* name) const noexcept;
    void reportLoadFailure(const char* name, const char* reason) const noexcept;

    platform::LibraryHandle library_;
    std::vector<ProcSlot> procCache_;
    CLogH logger_;
};
