#include "driver/FailedStepWatch.h"

#include <cwchar>

#include "logging/String.h"

namespace {

bool StartsWith(const wchar_t* text, size_t length, const wchar_t* start)
{
    const size_t startLength = wcslen(start);
    return length >= startLength && wmemcmp(text, start, startLength) == 0;
}

bool EndsWith(const wchar_t* text, size_t length, const wchar_t* end)
{
    const size_t endLength = wcslen(end);
    return length >= endLength && wmemcmp(text + length - endLength, end, endLength) == 0;
}

const wchar_t* const kFindings[] = {L"Failed to generate BOT ID", L"Failed to open registry key"};

}  // namespace

FailedStepWatch::FailedStepWatch() : failedSteps_(0)
{
    nullTerminates = false;
    formatter = &lineFormat_;
}

FailedStepWatch::~FailedStepWatch()
{
    formatter = nullptr;
}

int FailedStepWatch::WriteText(const logging::String& line)
{
    if (line.Length() > 0 && IsFailedStepLine(line.Data(), static_cast<size_t>(line.Length())))
        ++failedSteps_;
    return 0;
}

int FailedStepWatch::FailedSteps() const
{
    return failedSteps_;
}

bool FailedStepWatch::IsFailedStepLine(const wchar_t* line, size_t length)
{
    const wchar_t kInfo[] = L"info: ";
    if (!StartsWith(line, length, kInfo))
        return false;  // debug lines are detail of a step that reports itself
    const wchar_t* text = line + wcslen(kInfo);
    length -= wcslen(kInfo);
    while (length > 0 && (text[length - 1] == L'\n' || text[length - 1] == L'\r' || text[length - 1] == L' '))
        --length;
    for (const wchar_t* finding : kFindings) {
        if (StartsWith(text, length, finding))
            return false;
    }
    return StartsWith(text, length, L"Failed to") || EndsWith(text, length, L"failed") ||
           EndsWith(text, length, L"failure");
}
