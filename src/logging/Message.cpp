#include "logging/Message.h"

#include "logging/Registries.h"

namespace logging {

Message::Message(int messageLevel, bool* siteCreatedFlag, int messageLine, double messageTimestamp)
    : Checkpoint(messageLevel, messageLine, messageTimestamp, L""), createdFlag(siteCreatedFlag)
{
    *createdFlag = true;
    if (LockableNodesType* filters = Registry(RegistryName::AllFilters))
        AddReceivers(*filters);
}

Message::~Message()
{
    *createdFlag = false;
}

void Message::Relink()
{
    if (LockableNodesType* filters = Registry(RegistryName::AllFilters)) {
        RemoveReceivers(*filters);
        AddReceivers(*filters);
    }
}

}  // namespace logging
