#pragma once
// Text comparison that the OS provides.

namespace platform {

// Case-insensitive comparison of two whole texts (ASCII letters fold);
// 0 when equal, otherwise negative or positive like strcmp. A null text
// sorts before every other text.
int compareIgnoreCase(const char* a, const char* b) noexcept;

inline bool equalsIgnoreCase(const char* a, const char* b) noexcept { return compareIgnoreCase(a, b) == 0; }

}  // namespace platform
