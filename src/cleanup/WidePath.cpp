#include "cleanup/WidePath.h"

#include <cstring>

bool JoinPathCounted(wchar_t* path, size_t capacity, const wchar_t* component, size_t length)
{
    while (length > 0 && *component == L'\\') {
        ++component;
        --length;
    }
    const size_t used = TextLength(path);
    const bool needsSeparator = used > 0 && path[used - 1] != L'\\';
    if (length >= capacity || used + (needsSeparator ? 1 : 0) + length >= capacity)
        return false;
    size_t at = used;
    if (needsSeparator)
        path[at++] = L'\\';
    memcpy(path + at, component, length * sizeof(wchar_t));
    path[at + length] = L'\0';
    return true;
}

bool JoinPath(wchar_t* path, size_t capacity, const wchar_t* component)
{
    return JoinPathCounted(path, capacity, component, TextLength(component));
}
