#include "tests/support/allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> counting{false}, refusing{false};
std::atomic<long> allocations{0};
std::atomic<long long> allocatedBytes{0};

void* allocate(std::size_t size) noexcept {
    if (counting) ++allocations, allocatedBytes += static_cast<long long>(size);
    return refusing ? nullptr : std::malloc(size == 0 ? 1 : size);
}
}  // namespace

// GCC cannot see that every operator new here is malloc-based.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace test_support {

AllocationCount::AllocationCount() noexcept { allocations = 0, allocatedBytes = 0, counting = true; }
AllocationCount::~AllocationCount() { counting = false; }
long AllocationCount::count() const noexcept { return allocations; }
long long AllocationCount::bytes() const noexcept { return allocatedBytes; }

bool throwsWithoutMemory(const std::function<void()>& run) {
    refusing = true;
    bool threw = false;
    try {
        run();
    } catch (...) {
        threw = true;
    }
    refusing = false;
    return threw;
}

}  // namespace test_support
