#include "cleanup/WidePath.h"

#include <cstring>

bool JoinPath(wchar_t* path, size_t capacity, const wchar_t* component)
{
    while (*component == L'\\')
        ++component;
    const size_t used = TextLength(path);
    const bool needsSeparator = used > 0 && path[used - 1] != L'\\';
    const size_t length = TextLength(component);
    if (used + (needsSeparator ? 1 : 0) + length >= capacity)
        return false;
    size_t at = used;
    if (needsSeparator)
        path[at++] = L'\\';
    memcpy(path + at, component, (length + 1) * sizeof(wchar_t));
    return true;
}
