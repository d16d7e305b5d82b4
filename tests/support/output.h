#pragma once
// Everything the module prints goes to standard output: tests capture it and
// compare it whole. A host may run in a comma-decimal locale.
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
template <class Run>
std::string capturedStderr(Run&& run) {
    testing::internal::CaptureStderr();
    run();
    return testing::internal::GetCapturedStderr();
}

// The process's C and C++ locales German for the object's life; `active`
// is false where that locale is not installed.
struct GermanLocale {
    GermanLocale() {
        try {
            previous = std::locale::global(std::locale("de_DE.UTF-8"));
            active = true;
        } catch (const std::runtime_error&) {
        }
    }
    ~GermanLocale() { std::locale::global(previous); }
    std::locale previous;
    bool active = false;
};

}  // namespace test_support

#define SKIP_WITHOUT_GERMAN_LOCALE(german) \
    if (!(german).active)                  \
    GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (scripts/install-deps.sh generates it as root)"
