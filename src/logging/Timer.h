#pragma once
#include "logging/Object.h"

namespace logging {

// Seconds from the performance counter, counted from construction.
class Timer : public Object {
public:
    Timer();
    double ElapsedSeconds() const;

    double ticksPerMicrosecond = 0.0;
    double start = 0.0;
};

}  // namespace logging
