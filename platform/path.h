#pragma once
// How paths are written on this system, for code that joins a folder and a
// file name a user gave. Only the text is looked at; nothing is opened.
#include <cstddef>
#include <string_view>

namespace platform {

// Whether c separates folders ('/'; on Windows also '\').
bool isPathSeparator(char c) noexcept;

// Whether the path starts at a root rather than at the current folder
// ("/lib"; on Windows also "C:\lib", "C:/lib", "\lib" and "\\server\lib").
bool isAbsolutePath(std::string_view path) noexcept;

// The position of the last separator, or npos when there is none.
inline size_t lastPathSeparator(std::string_view path) noexcept {
    for (size_t i = path.size(); i > 0; --i) {
        if (isPathSeparator(path[i - 1])) {
            return i - 1;
        }
    }
    return std::string_view::npos;
}

}  // namespace platform
