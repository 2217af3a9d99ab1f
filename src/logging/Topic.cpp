#include "logging/Topic.h"

#include "logging/Log.h"

namespace logging {

Topic::Topic(int topicLevel, int topicLine, double topicTimestamp, const wchar_t* initialText)
{
    if (initialText) {
        text.AssignView(initialText, nullptr);
        fields |= FieldText;
    }
    level = topicLevel;
    if (topicLevel != LevelAll)
        fields |= FieldLevel;
    line = topicLine;
    if (topicLine != 0)
        fields |= FieldLine;
    timestamp = topicTimestamp;
    if (topicTimestamp != 0.0)
        fields |= FieldTimestamp;
}

Topic::Topic(BareTopic)
{
    level = LevelAll;
}

bool Topic::AcceptsFrom(Node& node)
{
    return CanReceive() && node.IsTopicNode() && Matches(static_cast<Topic&>(node));
}

bool Topic::IsTopicNode() const
{
    return true;
}

bool Topic::AddReceiver(Node& node)
{
    if (node.IsTopicNode() && !node.AcceptsFrom(*this))
        return false;
    return Node::AddReceiver(node);
}

int Topic::Send(Topic& topic)
{
    ScopedLock lock(receivers);
    int sum = 0;
    for (Node* receiver : receivers) {
        if (receiver->IsTopicNode())
            sum += static_cast<Topic*>(receiver)->Deliver(topic);
    }
    return sum;
}

int Topic::Emit()
{
    return Send(*this);
}

int Topic::Deliver(Topic& topic)
{
    return Send(topic);
}

bool Topic::Matches(const Topic& other) const
{
    if ((fields & FieldLevel) && other.level > level)
        return false;
    if ((fields & FieldBraceTag) && other.braceTag.Find(braceTag) == -1)
        return false;
    if ((fields & FieldBracketTag) && other.bracketTag.Find(bracketTag) == -1)
        return false;
    if ((fields & FieldFileName) && other.fileName.Find(fileName) == -1)
        return false;
    if ((fields & FieldLine) && other.line != line)
        return false;
    if ((fields & FieldText) && other.text.Find(text) == -1)
        return false;
    if ((fields & FieldTimestamp) && timestamp > other.timestamp)
        return false;
    return true;
}

int Topic::FormatText(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int result = FormatTextV(format, args);
    va_end(args);
    return result;
}

int Topic::FormatTextV(const wchar_t* format, va_list args)
{
    text.FormatTextV(format, args);
    fields |= FieldText;
    return text.Length();
}

}  // namespace logging
