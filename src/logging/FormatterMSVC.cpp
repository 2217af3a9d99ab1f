#include "logging/FormatterMSVC.h"

#include "logging/LevelName.h"
#include "logging/Target.h"
#include "logging/Topic.h"

namespace logging {

String& FormatterMSVC::FormatLine(const Topic& topic, const Target& target)
{
    lineBuffer.Clear();
    const unsigned f = SelectFields(topic);
    if (f & FieldFileName) {
        lineBuffer.Append(topic.fileName);
        lineBuffer.AppendChar(L'(');
    }
    if (f & FieldLine) {
        numberBuffer.AssignInt(topic.line);
        lineBuffer.Append(numberBuffer);
        lineBuffer.Append(L") : ");
    }
    BeforeLevelHook();
    if (f & FieldLevel) {
        lineBuffer.Append(LevelName(topic.level));
        lineBuffer.Append(L": ");
    }
    if (f & FieldBraceTag) {
        lineBuffer.Append(L"{");
        lineBuffer.Append(topic.braceTag);
        lineBuffer.Append(L"} ");
    }
    if (f & FieldBracketTag) {
        lineBuffer.Append(L"[");
        lineBuffer.Append(topic.bracketTag);
        lineBuffer.Append(L"] ");
    }
    if (f & FieldText) {
        lineBuffer.Append(topic.text);
        lineBuffer.Append(L"\r\n");
    }
    if (target.nullTerminates)
        lineBuffer.AppendChar(L'\0');
    return lineBuffer;
}

}  // namespace logging
