#include "logging/Filter.h"

#include "logging/Registries.h"
#include "logging/SharedObjects.h"

namespace logging {

Filter* DefaultFilter()
{
    return DefaultFilterSlot();
}

Filter::Filter(int filterLevel, double filterTimestamp) : Topic(filterLevel, 0, filterTimestamp)
{
    if (!DefaultFilterSlot())
        DefaultFilterSlot() = this;
    if (LockableNodesType* targets = Registry(RegistryName::AllTargets))
        AddReceivers(*targets);
    if (LockableNodesType* filters = Registry(RegistryName::AllFilters)) {
        ScopedLock lock(*filters);
        filters->insert(this);
    }
}

Filter::~Filter()
{
    // A filter destroyed before the final teardown must not stay findable.
    if (DefaultFilterSlot() == this)
        DefaultFilterSlot() = nullptr;
    if (LockableNodesType* filters = ExistingRegistry(RegistryName::AllFilters)) {
        ScopedLock lock(*filters);
        filters->erase(this);
    }
}

}  // namespace logging
