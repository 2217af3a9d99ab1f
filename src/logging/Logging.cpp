// Counted start and stop of the logging subsystem and its final teardown.
#include <cstdlib>

#include "logging/Allocator.h"
#include "logging/Filter.h"
#include "logging/Log.h"
#include "logging/Mutex.h"
#include "logging/Node.h"
#include "logging/Registries.h"
#include "logging/SharedObjects.h"

namespace logging {

namespace {

// Constructed during static initialisation, before the entry runs.
Mutex initialisationLock;
int initialisationCount = 0;

void EmptyAndDeleteRegistry(RegistryName name)
{
    if (LockableNodesType* registry = ExistingRegistry(name)) {
        registry->clear();
        DeleteRegistry(name);
    }
}

// Destroys every node still registered, the registries, the shared objects
// and the allocator. Takes no registry lock.
void FinalTeardown()
{
    DeleteSharedTimer();
    DeleteDefaultFormatter();
    DefaultFilterSlot() = nullptr;
    // The role registries go first, so no destructor below finds a partner
    // through them; they are deleted even without nodes, so none outlives
    // the allocator.
    EmptyAndDeleteRegistry(RegistryName::ReceivingNodes);
    EmptyAndDeleteRegistry(RegistryName::AllFilters);
    EmptyAndDeleteRegistry(RegistryName::AllTargets);
    if (LockableNodesType* allNodes = ExistingRegistry(RegistryName::AllNodes)) {
        {
            LockableNodesType copy;
            copy.insert(allNodes->begin(), allNodes->end());
            // Each destructor erases its node from AllNodes; a message's
            // destructor clears its call site's flag.
            for (Node* node : copy)
                delete node;
            copy.clear();
        }
        allNodes->clear();
        DeleteRegistry(RegistryName::AllNodes);
    }
    DeleteMessageCreationLock();
    SetAllocator(nullptr, nullptr);
}

void ExitTeardown()
{
    FinalTeardown();
}

// Registered after the initialisation lock is constructed, so it runs
// before that lock is destroyed.
const int exitTeardownRegistered = atexit(ExitTeardown);

}  // namespace

}  // namespace logging

int StartLogging()
{
    using namespace logging;
    ScopedLock lock(initialisationLock);
    if (initialisationCount++ == 0) {
        SetAllocator(malloc, free);
        if (!DefaultFilter())
            new Filter(LevelDebug, 0.0);
    }
    return 0;
}

void StopLogging()
{
    using namespace logging;
    ScopedLock lock(initialisationLock);
    if (initialisationCount == 0)
        return;
    if (--initialisationCount == 0)
        FinalTeardown();
}
