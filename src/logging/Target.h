#pragma once
// The end of the topic graph: every filter sends to every target, which
// formats each delivered topic into a line and writes it.
#include "logging/Mutex.h"
#include "logging/TopicSink.h"

namespace logging {

class Formatter;
class String;

class Target : public TopicSink {
public:
    // Installs the default formatter; every existing filter now sends here.
    Target();
    // Every filter stops sending here. The formatter is not destroyed.
    ~Target() override;

    // Formats and writes under deliveryLock; the result of WriteText.
    int Deliver(Topic& topic) override;
    // Writes one formatted line; 0 on success.
    virtual int WriteText(const String& line) = 0;

    Formatter* formatter;  // not owned; the owner may replace it
    Mutex deliveryLock;
    bool nullTerminates = true;
};

}  // namespace logging
