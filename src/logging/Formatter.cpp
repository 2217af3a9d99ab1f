#include "logging/Formatter.h"

#include "logging/Topic.h"

namespace logging {

Formatter::Formatter()
{
    lineBuffer.Reserve(kLineUnits);
    numberBuffer.ReserveNumber();
}

void Formatter::BeforeLevelHook() {}

unsigned Formatter::SelectFields(const Topic& topic) const
{
    return topic.fields;
}

}  // namespace logging
