#pragma once
// Everything the module prints goes to standard output: tests capture it and
// compare it whole.
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

// The process in a comma-decimal locale (C and C++) for the object's life,
// as a host in Germany may run; `active` is false where it is not installed.
class GermanLocale {
public:
    GermanLocale() {
        try {
            previous_ = std::locale::global(std::locale("de_DE.UTF-8"));
            active = true;
        } catch (const std::runtime_error&) {
        }
    }
    ~GermanLocale() { std::locale::global(previous_); }
    GermanLocale(const GermanLocale&) = delete;
    GermanLocale& operator=(const GermanLocale&) = delete;
    bool active = false;

private:
    std::locale previous_;
};

}  // namespace test_support

#define SKIP_WITHOUT_GERMAN_LOCALE(german)                                                                \
    if (!(german).active)                                                                                \
    GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (scripts/install-deps.sh generates it as root)"
