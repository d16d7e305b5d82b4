#pragma once
// OwnedPtr<T>: sole owner of an object whose class the owner's own file does
// not see (the framework owns calibration handlers and the device owns its
// tracking client, both declared in folders built on top of it).
//
// The release function is made in adopt(), which is compiled where T is
// complete; destroying or resetting the owner only calls it, so it works
// with T declared but not defined. Not copyable; movable.
#include <utility>

template <class T>
class OwnedPtr {
public:
    using Release = void (*)(T*) noexcept;

    OwnedPtr() noexcept = default;
    // For objects not made with new (a caller-owned pool, a test stand-in).
    OwnedPtr(T* object, Release release) noexcept : object_(object), release_(release) {}
    OwnedPtr(const OwnedPtr&) = delete;
    OwnedPtr& operator=(const OwnedPtr&) = delete;
    OwnedPtr(OwnedPtr&& other) noexcept
        : object_(std::exchange(other.object_, nullptr)), release_(std::exchange(other.release_, nullptr)) {}
    OwnedPtr& operator=(OwnedPtr&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = std::exchange(other.object_, nullptr);
            release_ = std::exchange(other.release_, nullptr);
        }
        return *this;
    }
    ~OwnedPtr() { reset(); }

    // Takes an object made with new (null is fine: the owner stays empty).
    // Any object held before is released first.
    void adopt(T* object) noexcept {
        reset();
        object_ = object;
        release_ = [](T* owned) noexcept { delete owned; };
    }

    void reset() noexcept {
        T* object = std::exchange(object_, nullptr);
        Release release = std::exchange(release_, nullptr);
        if (object != nullptr && release != nullptr) {
            release(object);
        }
    }

    T* get() const noexcept { return object_; }
    T* operator->() const noexcept { return object_; }
    T& operator*() const noexcept { return *object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    T* object_ = nullptr;
    Release release_ = nullptr;
};
