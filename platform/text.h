#pragma once
// Text comparison for keywords, the same on every system.

namespace platform {

// Case-insensitive comparison of two whole texts; 0 when equal, otherwise
// negative or positive like strcmp. A null text sorts before every other
// text. ASCII letters only: the texts are keywords, and neither a locale
// (Turkish dotless i) nor a system's word-sort rules (hyphens weighing
// less) may change what matches, so no OS comparison is used.
inline int compareIgnoreCase(const char* a, const char* b) noexcept {
    if (a == nullptr || b == nullptr) {
        return (a == nullptr ? 0 : 1) - (b == nullptr ? 0 : 1);
    }
    auto fold = [](char c) noexcept {
        const auto u = static_cast<unsigned char>(c);
        return (u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : int{u};
    };
    for (;; ++a, ++b) {
        const int ca = fold(*a);
        const int cb = fold(*b);
        if (ca != cb || ca == 0) {
            return ca - cb;
        }
    }
}

inline bool equalsIgnoreCase(const char* a, const char* b) noexcept { return compareIgnoreCase(a, b) == 0; }

}  // namespace platform
