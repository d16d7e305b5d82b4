#pragma once
// Linking allocations.cpp counts allocations while an AllocationCount lives; inside throwsWithoutMemory they fail.
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
