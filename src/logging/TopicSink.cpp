#include "logging/TopicSink.h"

namespace logging {

void TopicSink::RegisterRoles() {}

bool TopicSink::CanSend() const
{
    return false;
}

bool TopicSink::AddReceiver(Node&)
{
    return false;
}

bool TopicSink::RemoveReceiver(Node&)
{
    return false;
}

}  // namespace logging
