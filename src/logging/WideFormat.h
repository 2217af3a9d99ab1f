#pragma once
#include <cstdarg>
#include <cstddef>

namespace logging {

// Formats into buffer with the runtime's wide printf conventions, writing at
// most units - 1 characters and always a NUL (units must be at least 1).
// Returns the number of characters written, or -1 when the output was cut.
// Behaves as the bounded runtime formatter with truncation, which the
// runtime of Windows XP does not have.
int FormatWideTruncating(wchar_t* buffer, size_t units, const wchar_t* format, va_list args);

}  // namespace logging
