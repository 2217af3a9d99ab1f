#pragma once
// A node of the topic graph: the nodes it sends to and the nodes it receives
// from. Links are made in pairs, so A lists B as a receiver exactly when B
// lists A as a sender.
#include "logging/LockableNodesType.h"
#include "logging/Object.h"

namespace logging {

class Node : public Object {
public:
    Node();
    ~Node() override;

    virtual void RegisterRoles();
    virtual bool CanSend() const;
    virtual bool CanReceive() const;
    virtual bool AcceptsFrom(Node& node);
    virtual bool IsTopicNode() const;
    virtual bool AddReceiver(Node& node);
    virtual bool AddReceivers(LockableNodesType& registry);
    virtual bool RemoveReceiver(Node& node);
    virtual bool RemoveReceivers(LockableNodesType& registry);
    virtual bool AddSender(Node& node);
    virtual bool AddSenders(LockableNodesType& registry);
    virtual bool RemoveSender(Node& node);
    virtual bool RemoveSenders(LockableNodesType& registry);

    LockableNodesType receivers;
    LockableNodesType senders;

private:
    // Calls the (virtual) operation for each node of the registry in address
    // order; true when any call returned true.
    bool WalkRegistry(LockableNodesType& registry, bool (Node::*operation)(Node&));
};

}  // namespace logging
