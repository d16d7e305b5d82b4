#pragma once
// The global operator new of a test program that links allocations.cpp:
// it counts allocations while an AllocationCount lives, and refuses them
// inside withoutMemory.
#include <cstddef>

namespace test_support {

class AllocationCount {
public:
    AllocationCount() noexcept;
    ~AllocationCount();
    AllocationCount(const AllocationCount&) = delete;
    AllocationCount& operator=(const AllocationCount&) = delete;
    long count() const noexcept;
    long long bytes() const noexcept;
};

// Runs f while every allocation fails; true when an exception left f.
bool throwsWithoutMemory(void (*f)(void*), void* context);
template <class F>
bool throwsWithoutMemory(F&& f) {
    return throwsWithoutMemory([](void* context) { (*static_cast<F*>(context))(); }, &f);
}

}  // namespace test_support
