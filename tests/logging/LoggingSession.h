#pragma once
// Logging started for the length of one test, with the helpers the tests of
// the subsystem share.
#include <gtest/gtest.h>

#include <string>

#include "logging/Log.h"
#include "logging/String.h"
#include "logging/Target.h"

class LoggingSession : public ::testing::Test {
protected:
    void SetUp() override { StartLogging(); }
    void TearDown() override { StopLogging(); }
};

// The content of a string as a wide string (its length in units).
inline std::wstring Content(const logging::String& s)
{
    return s.begin ? std::wstring(s.begin, s.end) : std::wstring();
}

// A target that keeps every line it is handed; a plain target asks for a
// NUL behind each line, a file-like one does not.
class RecordingTarget : public logging::Target {
public:
    explicit RecordingTarget(bool plain = false) { nullTerminates = plain; }

    int WriteText(const logging::String& line) override
    {
        lines.push_back(Content(line));
        return result;
    }

    std::vector<std::wstring> lines;
    int result = 0;
};
