#pragma once
#include "logging/Mutex.h"
#include "logging/TopicSource.h"

namespace logging {

// The long-lived message of one call site, created on its first pass and
// linked once to every filter that accepts it.
class Message : public Checkpoint {
public:
    // Sets *createdFlag to true; the destructor sets it back to false.
    Message(int level, bool* createdFlag, int line, double timestamp);
    ~Message() override;

    virtual void Relink();

    Mutex transmitLock;
    bool* createdFlag;
};

}  // namespace logging
