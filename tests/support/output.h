#pragma once
// The module prints to standard output: tests capture it and compare it whole.
#include <gtest/gtest.h>

#include <locale>
#include <stdexcept>
#include <string>

namespace test_support {

template <class Run>
std::string capturedStdout(Run&& run) {
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
}

// The process's locales German for the object's life, where that locale is installed.
struct GermanLocale {
    GermanLocale() {
        try {
            previous = std::locale::global(std::locale("de_DE.UTF-8"));
        } catch (const std::runtime_error&) {
        }
    }
    ~GermanLocale() { std::locale::global(previous); }
    std::locale previous;
};

}  // namespace test_support
