#include "logging/Timer.h"

#include <windows.h>

namespace logging {

namespace {

double Counter()
{
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return static_cast<double>(value.QuadPart);
}

}  // namespace

Timer::Timer()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticksPerMicrosecond = static_cast<double>(frequency.QuadPart) * 1e-6;
    start = Counter() / ticksPerMicrosecond / 1000000.0;
}

double Timer::ElapsedSeconds() const
{
    return Counter() / ticksPerMicrosecond / 1000000.0 - start;
}

}  // namespace logging
