#pragma once
#include "logging/Formatter.h"

namespace logging {

// Renders every field a topic carries except the timestamp: file name and
// "(", line number and ") : ", level name and ": ", "{tag} ", "[tag] ",
// text and CR LF, and a NUL for a target that asks for one.
class FormatterMSVC : public Formatter {
public:
    String& FormatLine(const Topic& topic, const Target& target) override;
};

}  // namespace logging
