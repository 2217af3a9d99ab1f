#include "logging/FormatterCustom.h"

#include "logging/Topic.h"

unsigned FormatterCustom::SelectFields(const logging::Topic& topic) const
{
    return topic.fields & ~static_cast<unsigned>(logging::FieldLine | logging::FieldFileName);
}
