#include "logging/Registries.h"

namespace logging {

namespace {

LockableNodesType* registries[4] = {};

LockableNodesType*& Slot(RegistryName name)
{
    return registries[static_cast<int>(name)];
}

}  // namespace

LockableNodesType* Registry(RegistryName name)
{
    LockableNodesType*& slot = Slot(name);
    if (!slot)
        slot = new LockableNodesType;
    return slot;
}

LockableNodesType* ExistingRegistry(RegistryName name)
{
    return Slot(name);
}

void DeleteRegistry(RegistryName name)
{
    LockableNodesType*& slot = Slot(name);
    delete slot;
    slot = nullptr;
}

}  // namespace logging
