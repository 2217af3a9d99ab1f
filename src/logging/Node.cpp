#include "logging/Node.h"

#include "logging/Registries.h"

namespace logging {

namespace {

// Inserts under the set's lock; true when the node was not there yet.
bool InsertLocked(LockableNodesType& set, Node* node)
{
    ScopedLock lock(set);
    return set.insert(node).second;
}

bool EraseLocked(LockableNodesType& set, Node* node)
{
    ScopedLock lock(set);
    return set.erase(node) != 0;
}

void ClearLocked(LockableNodesType& set)
{
    ScopedLock lock(set);
    set.clear();
}

}  // namespace

Node::Node()
{
    if (LockableNodesType* allNodes = Registry(RegistryName::AllNodes))
        InsertLocked(*allNodes, this);
}

Node::~Node()
{
    // Partners are not told: only a target unlinks itself.
    ClearLocked(senders);
    ClearLocked(receivers);
    if (LockableNodesType* allNodes = ExistingRegistry(RegistryName::AllNodes))
        EraseLocked(*allNodes, this);
}

void Node::RegisterRoles()
{
    if (!CanReceive())
        return;
    if (LockableNodesType* receiving = Registry(RegistryName::ReceivingNodes))
        InsertLocked(*receiving, this);
    if (CanSend()) {
        if (LockableNodesType* filters = Registry(RegistryName::AllFilters))
            InsertLocked(*filters, this);
    }
}

bool Node::CanSend() const
{
    return true;
}

bool Node::CanReceive() const
{
    return true;
}

bool Node::AcceptsFrom(Node&)
{
    return CanReceive();
}

bool Node::IsTopicNode() const
{
    return false;
}

// Each lock is left before the partner is called, so a link never holds two
// node locks at once; the partner's call finds this node present and stops.
bool Node::AddReceiver(Node& node)
{
    if (!InsertLocked(receivers, &node))
        return false;
    node.AddSender(*this);
    return true;
}

bool Node::RemoveReceiver(Node& node)
{
    if (!EraseLocked(receivers, &node))
        return false;
    node.RemoveSender(*this);
    return true;
}

bool Node::AddSender(Node& node)
{
    if (!InsertLocked(senders, &node))
        return false;
    node.AddReceiver(*this);
    return true;
}

bool Node::RemoveSender(Node& node)
{
    if (!EraseLocked(senders, &node))
        return false;
    node.RemoveReceiver(*this);
    return true;
}

bool Node::AddReceivers(LockableNodesType& registry)
{
    return WalkRegistry(registry, &Node::AddReceiver);
}

bool Node::RemoveReceivers(LockableNodesType& registry)
{
    return WalkRegistry(registry, &Node::RemoveReceiver);
}

bool Node::AddSenders(LockableNodesType& registry)
{
    return WalkRegistry(registry, &Node::AddSender);
}

bool Node::RemoveSenders(LockableNodesType& registry)
{
    return WalkRegistry(registry, &Node::RemoveSender);
}

// The registry's lock is held for the whole walk, node locks inside it.
bool Node::WalkRegistry(LockableNodesType& registry, bool (Node::*operation)(Node&))
{
    ScopedLock lock(registry);
    bool any = false;
    for (Node* node : registry)
        any = (this->*operation)(*node) || any;
    return any;
}

}  // namespace logging
