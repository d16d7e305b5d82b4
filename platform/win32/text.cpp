#include "platform/text.h"

namespace platform {

// Not lstrcmpiA: that compares by the user's locale with word-sort rules
// (hyphens and apostrophes weigh less), so "co-op" and "coop" could match and
// the order would differ between machines. The texts are keywords: fold
// ASCII letters only, exactly as on every other system.
namespace {
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
