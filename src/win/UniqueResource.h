#pragma once
// The one owner template behind the Win32 owners of this directory: holds a
// value, closes it with its traits on every way out, and is movable, not
// copyable. Traits give Invalid() (the empty value), IsValid(v) and Close(v).

template <typename T, typename Traits>
class UniqueResource {
public:
    UniqueResource() : value_(Traits::Invalid()) {}
    explicit UniqueResource(T value) : value_(value) {}
    ~UniqueResource() { Close(); }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other) {
            Close();
            value_ = other.Release();
        }
        return *this;
    }

    bool IsValid() const { return Traits::IsValid(value_); }
    T Get() const { return value_; }
    // For out-parameters: closes what is held and hands out the slot.
    T* Receive()
    {
        Close();
        return &value_;
    }
    // Gives up ownership without closing.
    T Release()
    {
        T value = value_;
        value_ = Traits::Invalid();
        return value;
    }
    void Close()
    {
        if (IsValid())
            Traits::Close(value_);
        value_ = Traits::Invalid();
    }

private:
    T value_;
};
