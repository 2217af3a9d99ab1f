#include "logging/LogFileSync.h"

namespace logging {

int LogFileSync::WriteUnits(size_t count, const wchar_t* data)
{
    const int result = LogFile::WriteUnits(count, data);
    if (file)
        fflush(file);
    return result;
}

}  // namespace logging
