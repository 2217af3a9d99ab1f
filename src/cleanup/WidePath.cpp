#include "cleanup/WidePath.h"

#include <windows.h>

#include <cstring>

namespace {

size_t Length(const wchar_t* text)
{
    return static_cast<size_t>(lstrlenW(text));
}

}  // namespace

bool CopyWideString(wchar_t* destination, size_t capacity, const wchar_t* text)
{
    const size_t length = Length(text);
    if (length >= capacity)
        return false;
    memcpy(destination, text, (length + 1) * sizeof(wchar_t));
    return true;
}

bool AppendWideString(wchar_t* destination, size_t capacity, const wchar_t* text)
{
    const size_t used = Length(destination);
    if (used >= capacity)
        return false;
    return CopyWideString(destination + used, capacity - used, text);
}

bool JoinPath(wchar_t* path, size_t capacity, const wchar_t* component)
{
    while (*component == L'\\')
        ++component;
    const size_t used = Length(path);
    const bool needsSeparator = used > 0 && path[used - 1] != L'\\';
    const size_t length = Length(component);
    if (used + (needsSeparator ? 1 : 0) + length >= capacity)
        return false;
    size_t at = used;
    if (needsSeparator)
        path[at++] = L'\\';
    memcpy(path + at, component, (length + 1) * sizeof(wchar_t));
    return true;
}
