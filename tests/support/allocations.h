#pragma once
// The global operator new of a program that links allocations.cpp: counts
// allocations while an AllocationCount lives, and fails them inside
// throwsWithoutMemory (which tells whether an exception left the call).
#include <functional>

namespace test_support {

struct AllocationCount {
    AllocationCount() noexcept;
    ~AllocationCount();
    long count() const noexcept;
    long long bytes() const noexcept;
};
bool throwsWithoutMemory(const std::function<void()>& run);

}  // namespace test_support
