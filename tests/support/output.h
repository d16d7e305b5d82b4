#pragma once
// The module prints to standard output: tests capture it and compare it whole.
#include <gtest/gtest.h>

#include <clocale>
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

// German (a decimal comma) as the process's C and C++ locales for the object's life, under either system's name
// for it; `installed` is false where there is none.
struct GermanLocale {
    GermanLocale() {
        for (const char* name : {"de_DE.UTF-8", "German_Germany.1252"}) {
            try {
                std::locale::global(std::locale(name));
            } catch (const std::runtime_error&) {  // MinGW's C++ library knows only "C": the C locale then
            }
            if ((installed = std::setlocale(LC_ALL, name) != nullptr)) break;
        }
    }
    ~GermanLocale() {
        std::locale::global(previous);
        std::setlocale(LC_ALL, "C");
    }
    std::locale previous;
    bool installed = false;
};

}  // namespace test_support
