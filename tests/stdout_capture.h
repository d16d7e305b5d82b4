#pragma once
// Everything the module prints goes to standard output: tests compare it.
#include <gtest/gtest.h>

#include <string>

namespace test_support {

// What `run` writes on standard output.
template <class Run>
std::string capturedStdout(Run run) {
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
}

}  // namespace test_support
