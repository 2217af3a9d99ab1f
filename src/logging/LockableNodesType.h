#pragma once
// A set of nodes ordered by address, with the lock that guards it.
#include <functional>
#include <set>

#include "logging/Allocator.h"
#include "logging/Mutex.h"

namespace logging {

class Node;

class LockableNodesType : public Mutex, public std::set<Node*, std::less<Node*>, Allocator<Node*>> {
};

}  // namespace logging
