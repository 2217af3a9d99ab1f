#include "logging/Target.h"

#include "logging/Formatter.h"
#include "logging/FormatterMSVC.h"
#include "logging/Registries.h"
#include "logging/SharedObjects.h"

namespace logging {

Target::Target() : TopicSink(BareTopic{}), formatter(DefaultFormatter())
{
    if (LockableNodesType* targets = Registry(RegistryName::AllTargets)) {
        ScopedLock lock(*targets);
        targets->insert(this);
    }
    if (LockableNodesType* filters = Registry(RegistryName::AllFilters))
        AddSenders(*filters);
}

Target::~Target()
{
    // No registry means no filter can still list this target.
    if (LockableNodesType* filters = ExistingRegistry(RegistryName::AllFilters))
        RemoveSenders(*filters);
    if (LockableNodesType* targets = ExistingRegistry(RegistryName::AllTargets)) {
        ScopedLock lock(*targets);
        targets->erase(this);
    }
}

int Target::Deliver(Topic& topic)
{
    ScopedLock lock(deliveryLock);
    if (!formatter)
        return -1;
    return WriteText(formatter->FormatLine(topic, *this));
}

}  // namespace logging
