#include "logging/LevelName.h"

#include "logging/Log.h"

namespace logging {

const wchar_t* LevelName(int level)
{
    if (level <= LevelNone)
        return L"none";
    if (level <= LevelEmergency)
        return L"emergency";
    if (level <= LevelAlert)
        return L"alert";
    if (level <= LevelCritical)
        return L"critical";
    if (level <= LevelError)
        return L"error";
    if (level <= LevelWarning)
        return L"warning";
    if (level <= LevelInfo)
        return L"info";
    if (level <= LevelDebug)
        return L"debug";
    return L"unknown";
}

}  // namespace logging
