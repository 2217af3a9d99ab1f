#include "logging/TopicSource.h"

#include "logging/SharedObjects.h"
#include "logging/Timer.h"

namespace logging {

bool TopicSource::CanReceive() const
{
    return false;
}

bool TopicSource::AddSender(Node&)
{
    return false;
}

bool TopicSource::RemoveSender(Node&)
{
    return false;
}

int Checkpoint::Send(Topic& topic)
{
    if (fields & FieldTimestamp) {
        if (Timer* timer = SharedTimer())
            timestamp = timer->ElapsedSeconds();
    }
    return TopicSource::Send(topic);
}

}  // namespace logging
