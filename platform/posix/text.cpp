#include "platform/text.h"

namespace platform {

namespace {
// ASCII only: the texts are keywords, and a locale (Turkish dotless i) must
// not change what matches.
int foldAscii(unsigned char c) noexcept { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }
}  // namespace

int compareIgnoreCase(const char* a, const char* b) noexcept {
    if (a == nullptr || b == nullptr) {
        return (a == nullptr ? 0 : 1) - (b == nullptr ? 0 : 1);
    }
    for (;; ++a, ++b) {
        int ca = foldAscii(static_cast<unsigned char>(*a));
        int cb = foldAscii(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) {
            return ca - cb;
        }
    }
}

}  // namespace platform
