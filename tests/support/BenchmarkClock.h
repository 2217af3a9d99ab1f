#pragma once
// The clock of the benchmark programs: seconds from the performance counter.
#include <windows.h>

inline double SecondsNow()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}
