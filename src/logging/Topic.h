#pragma once
// A node that carries the message fields: what a message says, what a
// filter accepts.
#include <cstdarg>

#include "logging/Node.h"
#include "logging/String.h"

namespace logging {

// Presence bits of Topic::fields.
enum : unsigned {
    FieldLevel = 0x01,
    FieldLine = 0x02,
    FieldFileName = 0x04,
    FieldBraceTag = 0x08,
    FieldBracketTag = 0x10,
    FieldText = 0x20,
    FieldTimestamp = 0x40,
};

class Topic : public Node {
public:
    // With an initial text the text views it and FieldText is set; the level,
    // line and timestamp set their bits when they differ from 88, 0 and 0.0.
    Topic(int level, int line, double timestamp, const wchar_t* initialText = nullptr);
    ~Topic() override = default;

    bool AcceptsFrom(Node& node) override;
    bool IsTopicNode() const override;
    bool AddReceiver(Node& node) override;

    // Delivers the topic to every receiver that is a topic; the sum of their results.
    virtual int Send(Topic& topic);
    virtual int Emit();
    // Passes the topic on.
    virtual int Deliver(Topic& topic);
    // Whether this topic, as a receiver, accepts the sending topic.
    virtual bool Matches(const Topic& topic) const;
    virtual int FormatText(const wchar_t* format, ...);
    int FormatTextV(const wchar_t* format, va_list args);

    String fileName;
    String braceTag;
    String bracketTag;
    String text;
    int level = 0;
    int line = 0;
    double timestamp = 0.0;
    unsigned fields = 0;

protected:
    // The bare topic part of a target: no bits, no level rules.
    struct BareTopic {};
    explicit Topic(BareTopic);
};

}  // namespace logging
