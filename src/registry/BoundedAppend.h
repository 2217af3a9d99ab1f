#pragma once
// Appending to a fixed wide buffer without ever passing its end.
#include <cstddef>

// Appends `text` to the NUL-terminated contents of `buffer`, which holds
// `capacity` characters including the terminator. When the result would not
// fit (or `buffer` holds no terminator), returns false and leaves `buffer` as
// it was.
bool AppendBounded(wchar_t* buffer, size_t capacity, const wchar_t* text);
