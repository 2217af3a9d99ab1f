#pragma once
#include "logging/Topic.h"

namespace logging {

// A topic that only receives: it sends to nobody and is never registered
// by role.
class TopicSink : public Topic {
public:
    using Topic::Topic;

    void RegisterRoles() override;
    bool CanSend() const override;
    bool AddReceiver(Node& node) override;
    bool RemoveReceiver(Node& node) override;
};

}  // namespace logging
