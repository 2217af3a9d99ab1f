#include "logging/WideFormat.h"

#include <cstdio>
#include <cwchar>

namespace logging {

int FormatWideTruncating(wchar_t* buffer, size_t units, const wchar_t* format, va_list args)
{
    if (!buffer || units == 0)
        return -1;
    // The runtime returns -1 when the output is longer than the count and
    // leaves no NUL when it is exactly as long; one unit stays for the NUL.
    const size_t count = units - 1;
    const int written = _vsnwprintf(buffer, count, format, args);
    if (written < 0 || static_cast<size_t>(written) > count) {
        buffer[count] = L'\0';
        return -1;
    }
    buffer[written] = L'\0';
    return written;
}

}  // namespace logging
