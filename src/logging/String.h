#pragma once
// A buffer of UTF-16 code units, owned unless it views somebody else's text.
// Every buffer comes from the logging allocator.
#include <cstdarg>

#include "logging/Object.h"

namespace logging {

class String : public Object {
public:
    String() = default;
    ~String() override;

    virtual void Release();
    virtual void Clear();
    // Allocates n units and leaves the string empty; returns 0, or n when n
    // already equals the length.
    virtual int Reserve(int units);
    virtual int ReserveNumber();
    virtual wchar_t* Data() const;
    // Views p up to e, or up to its NUL when e is null; the terminator counts
    // into the length.
    virtual void AssignView(const wchar_t* p, const wchar_t* e);
    // Decimal form of n; needs a buffer of at least 12 units.
    virtual int AssignInt(int n);
    virtual int Assign(const String& other);
    virtual int AppendChar(wchar_t c);
    // Appends up to p's NUL or until the capacity is reached.
    virtual int Append(const wchar_t* p);
    virtual int Append(const String& other);
    virtual void Reverse(wchar_t* first, wchar_t* last);
    virtual bool IsValid() const;
    // Unit index of other's text in this text, -1 when absent or invalid.
    virtual int Find(const String& other) const;
    virtual void FormatText(const wchar_t* format, ...);
    // Formats into a new owned buffer, complete however long the result is.
    virtual void FormatTextV(const wchar_t* format, va_list args);
    virtual const wchar_t* Text() const;
    virtual void ZeroFields();

    int Length() const { return static_cast<int>(end - begin); }

    wchar_t* begin = nullptr;
    wchar_t* end = nullptr;
    wchar_t* limit = nullptr;
    void* aux = nullptr;
    bool isView = false;
};

}  // namespace logging
