#pragma once
// The four global registries through which new nodes find their partners.
// Each is created on first use and deleted by the final teardown.
#include "logging/LockableNodesType.h"

namespace logging {

enum class RegistryName { AllNodes, ReceivingNodes, AllFilters, AllTargets };

// The registry, created when missing (null only when allocation fails).
LockableNodesType* Registry(RegistryName name);
// The registry when it exists, null otherwise.
LockableNodesType* ExistingRegistry(RegistryName name);
// Deletes the registry and clears its pointer.
void DeleteRegistry(RegistryName name);

}  // namespace logging
