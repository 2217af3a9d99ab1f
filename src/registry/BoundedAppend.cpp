#include "registry/BoundedAppend.h"

#include <cstring>
#include <cwchar>

bool AppendBounded(wchar_t* buffer, size_t capacity, const wchar_t* text)
{
    size_t used = 0;
    while (used < capacity && buffer[used] != L'\0') ++used;
    if (used == capacity) return false;
    const size_t added = wcslen(text);
    if (added >= capacity - used) return false;
    memcpy(buffer + used, text, added * sizeof(wchar_t));
    buffer[used + added] = L'\0';
    return true;
}
