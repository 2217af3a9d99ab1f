#pragma once
#include "logging/Topic.h"

namespace logging {

// A topic that only sends: it receives from nobody.
class TopicSource : public Topic {
public:
    using Topic::Topic;

    bool CanReceive() const override;
    bool AddSender(Node& node) override;
    bool RemoveSender(Node& node) override;
};

// A source that stamps the time on what it sends when it carries a timestamp.
class Checkpoint : public TopicSource {
public:
    using TopicSource::TopicSource;

    int Send(Topic& topic) override;
};

}  // namespace logging
