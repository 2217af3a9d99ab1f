#pragma once
#include "logging/Topic.h"

namespace logging {

// Sends every message it accepts to every target. The first filter
// constructed becomes the default filter.
class Filter : public Topic {
public:
    Filter(int level, double timestamp);
    ~Filter() override;
};

// The default filter (level 80, made by the first start of logging), or null.
Filter* DefaultFilter();

}  // namespace logging
