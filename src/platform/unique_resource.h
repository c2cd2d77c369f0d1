#pragma once
// Ownership of one operating-system resource (a file descriptor, a handle, a
// socket). Traits give the value type, the "none" value, the validity test
// and the close call. Not thread-safe: one owner at a time; moving transfers
// the resource, destruction and reset() close it.

#include <utility>

namespace platform {

template <typename Traits>
class UniqueResource {
public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value value) : value_(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset();
            value_ = other.release();
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Value get() const { return value_; }
    bool valid() const { return Traits::valid(value_); }
    Value release() { return std::exchange(value_, Traits::none()); }
    void reset() {
        if (valid()) Traits::close(value_);
        value_ = Traits::none();
    }

private:
    Value value_ = Traits::none();
};

}  // namespace platform
