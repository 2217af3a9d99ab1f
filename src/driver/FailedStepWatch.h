#pragma once
// Counts the run's failed steps as the log reports them: every step reports
// its failure at info level with a line that begins "Failed to" or ends in
// "failed" or "failure". An identifier that cannot be derived ("Failed to
// generate BOT ID") and a COM key that does not exist ("Failed to open
// registry key", the normal outcome where the rootkit never wrote it) are
// findings, not failed steps.
#include "logging/FormatterCustom.h"
#include "logging/Target.h"

class FailedStepWatch : public logging::Target {
public:
    FailedStepWatch();
    ~FailedStepWatch() override;
    int WriteText(const logging::String& line) override;

    int FailedSteps() const;

    // The judgement on one formatted line ("info: ...", CR LF optional).
    static bool IsFailedStepLine(const wchar_t* line, size_t length);

private:
    FormatterCustom lineFormat_;
    int failedSteps_;
};
