#pragma once
// Turns one delivered topic into one line of wide text for a target.
#include "logging/Object.h"
#include "logging/String.h"

namespace logging {

class Target;
class Topic;

class Formatter : public Object {
public:
    static const int kLineUnits = 16384;

    // Reserves the line buffer (16384 units) and the number buffer once.
    Formatter();
    ~Formatter() override = default;

    // The line, valid until the next call on this formatter; nothing beyond
    // 16384 units enters it.
    virtual String& FormatLine(const Topic& topic, const Target& target) = 0;
    virtual void BeforeLevelHook();
    // The fields of the topic that are rendered.
    virtual unsigned SelectFields(const Topic& topic) const;

    String lineBuffer;
    String numberBuffer;
};

}  // namespace logging
