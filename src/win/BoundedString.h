#pragma once
// Copying and appending into fixed character buffers without ever passing
// their end: the program's stand-ins for the bounded "_s" runtime functions,
// which Windows XP's runtime lacks. Each returns false and leaves the buffer
// as it was when the result with its NUL would not fit.
#include <cstddef>
#include <cstring>

// Units of text before its NUL.
template <typename Char>
size_t TextLength(const Char* text)
{
    size_t length = 0;
    while (text[length] != Char(0))
        ++length;
    return length;
}

// Copies text into buffer (capacity in characters, NUL included).
template <typename Char>
bool CopyBounded(Char* buffer, size_t capacity, const Char* text)
{
    const size_t length = TextLength(text);
    if (length >= capacity)
        return false;
    memcpy(buffer, text, (length + 1) * sizeof(Char));
    return true;
}

// Appends text to the NUL-terminated contents of buffer; a buffer without a
// NUL within its capacity is refused too.
template <typename Char>
bool AppendBounded(Char* buffer, size_t capacity, const Char* text)
{
    size_t used = 0;
    while (used < capacity && buffer[used] != Char(0))
        ++used;
    if (used == capacity)
        return false;
    return CopyBounded(buffer + used, capacity - used, text);
}
