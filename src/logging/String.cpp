#include "logging/String.h"

#include <cstdlib>
#include <cwchar>

#include "logging/Allocator.h"
#include "logging/WideFormat.h"

namespace logging {

namespace {

// A text longer than this is kept cut rather than doubled again: a runtime
// that reports -1 for a reason other than truncation would otherwise double
// until memory runs out. Lines are cut far below this anyway.
const size_t kTextLimitBytes = size_t(1) << 25;

const wchar_t kDigits[] = L"0123456789";

// Units of [p, e) before the first NUL.
size_t BoundedLength(const wchar_t* p, const wchar_t* e)
{
    size_t length = 0;
    while (p + length < e && p[length] != L'\0')
        ++length;
    return length;
}

}  // namespace

String::~String()
{
    Release();
}

void String::Release()
{
    if (begin && !isView) {
        Free(begin);
        begin = end = limit = nullptr;
    }
    if (aux) {
        Free(aux);
        aux = nullptr;
    }
}

void String::Clear()
{
    end = begin;
}

int String::Reserve(int units)
{
    if (units == Length())
        return units;
    if (units < 0)
        return 0;
    wchar_t* buffer = static_cast<wchar_t*>(Allocate(static_cast<size_t>(units) * sizeof(wchar_t)));
    if (!isView)
        Free(begin);
    begin = end = buffer;
    limit = buffer ? buffer + units : nullptr;
    isView = false;
    return 0;
}

int String::ReserveNumber()
{
    Reserve(32);
    return 32;
}

wchar_t* String::Data() const
{
    return begin;
}

void String::AssignView(const wchar_t* p, const wchar_t* e)
{
    const size_t length = e ? static_cast<size_t>(e - p) : wcslen(p);
    begin = const_cast<wchar_t*>(p);
    end = limit = begin + length + 1;
    isView = true;
}

int String::AssignInt(int n)
{
    // Sign, ten digits and the NUL.
    if (!begin || limit - begin < 12)
        return 0;
    end = begin;
    unsigned magnitude = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
    do {
        *end++ = kDigits[magnitude % 10];
        magnitude /= 10;
    } while (magnitude != 0);
    if (n < 0)
        *end++ = L'-';
    *end = L'\0';
    Reverse(begin, end - 1);
    return Length();
}

int String::Assign(const String& other)
{
    if (!other.begin)
        return 0;
    const int length = other.Length();
    Release();
    if (isView)
        ZeroFields();
    Reserve(length + 1);
    if (!begin)
        return 0;
    wmemcpy(begin, other.begin, static_cast<size_t>(length));
    end = begin + length;
    *end = L'\0';
    return length;
}

int String::AppendChar(wchar_t c)
{
    if (end < limit)
        *end++ = c;
    return Length();
}

int String::Append(const wchar_t* p)
{
    if (!p)
        return 0;
    while (*p != L'\0' && end < limit)
        *end++ = *p++;
    return Length();
}

int String::Append(const String& other)
{
    if (!other.begin)
        return 0;
    // Bounded by the other string's content as well as by its NUL.
    const wchar_t* p = other.begin;
    while (p < other.end && *p != L'\0' && end < limit)
        *end++ = *p++;
    return Length();
}

void String::Reverse(wchar_t* first, wchar_t* last)
{
    if (!first || !last)
        return;
    while (first < last) {
        const wchar_t unit = *first;
        *first++ = *last;
        *last-- = unit;
    }
}

bool String::IsValid() const
{
    return begin != nullptr;
}

int String::Find(const String& other) const
{
    if (!IsValid() || !other.IsValid())
        return -1;
    const size_t length = BoundedLength(begin, end);
    const size_t needle = BoundedLength(other.begin, other.end);
    if (needle > length)
        return -1;
    for (size_t at = 0; at + needle <= length; ++at) {
        if (wmemcmp(begin + at, other.begin, needle) == 0)
            return static_cast<int>(at);
    }
    return -1;
}

void String::FormatText(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatTextV(format, args);
    va_end(args);
}

void String::FormatTextV(const wchar_t* format, va_list args)
{
    Release();
    const size_t formatLength = format ? wcslen(format) : 0;
    if (formatLength == 0) {
        Clear();
        return;
    }
    // Twice the format's length in units to start with, doubled on every cut.
    size_t size = formatLength < kTextLimitBytes / 4 ? formatLength * 4 : kTextLimitBytes;
    wchar_t* buffer;
    for (;;) {
        buffer = static_cast<wchar_t*>(Allocate(size));
        if (!buffer)
            abort();
        buffer[0] = L'\0';
        va_list pass;
        va_copy(pass, args);
        const int written = FormatWideTruncating(buffer, size / sizeof(wchar_t), format, pass);
        va_end(pass);
        if (written != -1 || size >= kTextLimitBytes)
            break;
        Free(buffer);
        size *= 2;
    }
    AssignView(buffer, nullptr);
    isView = false;
}

const wchar_t* String::Text() const
{
    return begin;
}

void String::ZeroFields()
{
    begin = end = limit = nullptr;
    aux = nullptr;
    isView = false;
}

}  // namespace logging
