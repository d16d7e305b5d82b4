#pragma once
// OwnedText: a zero-terminated text copy that never throws. Copying may
// fail for want of memory; the caller hears it and keeps the old text.
#include <cstring>
#include <memory>
#include <new>

class OwnedText {
public:
    // False (and the text unchanged) when no memory could be had.
    bool assign(const char* text) noexcept {
        if (text == nullptr) text = "";
        const size_t size = std::strlen(text) + 1;
        std::unique_ptr<char[]> copy(new (std::nothrow) char[size]);
        if (!copy) return false;
        std::memcpy(copy.get(), text, size);
        text_ = std::move(copy);
        return true;
    }
    const char* c_str() const noexcept { return text_ ? text_.get() : ""; }
    bool empty() const noexcept { return *c_str() == '\0'; }

private:
    std::unique_ptr<char[]> text_;
};
