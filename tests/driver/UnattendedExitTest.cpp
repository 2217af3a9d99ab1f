// The exit codes of the unattended run as a deployment tool reads them, and
// the failed steps behind code 1.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "CapturedStdout.h"
#include "driver/FailedStepWatch.h"
#include "driver/RunCleaner.h"
#include "driver/UnattendedRun.h"
#include "logging/Log.h"
#include "support/LogCapture.h"

namespace {

int privilegeCalls = 0;
int restartCalls = 0;
bool restartWorks = true;

bool CountedPrivilege()
{
    ++privilegeCalls;
    return true;
}
bool CountedDelayedRestart()
{
    ++restartCalls;
    return restartWorks;
}
bool NeverImmediate()
{
    ADD_FAILURE() << "an unattended run never restarts without a delay";
    return false;
}

struct Case {
    const char* what;
    int runResult;
    bool noRestart;
    bool restartWorks;
    int failedSteps;
    int expected;
    int restartsInitiated;
};

TEST(UnattendedExit, CodesForEveryOutcome)
{
    const Case cases[] = {
        {"nothing changed", 0, false, true, 0, 0, 0},
        {"changes, -norestart", RunResultRestart, true, true, 0, 3010, 0},
        {"changes, restart initiated", RunResultRestart, false, true, 0, 1641, 1},
        {"changes, restart refused", RunResultRestart, false, false, 0, 3010, 1},
        {"a failed step wins over 1641, the restart still follows", RunResultRestart, false, true, 2, 1, 1},
        {"a failed step wins over 3010", RunResultRestart, true, true, 1, 1, 0},
        {"a failed step wins over 0", 0, false, true, 1, 1, 0},
        {"unsupported Windows", 3, false, true, 0, 3, 0},
        {"version not determined", 8, false, true, 0, 8, 0},
    };
    const RestartSteps steps{CountedPrivilege, NeverImmediate, CountedDelayedRestart};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        FailedStepWatch watch;
        for (int i = 0; i < c.failedSteps; ++i)
            LogInfo(L"Failed to restore services.exe");
        privilegeCalls = restartCalls = 0;
        restartWorks = c.restartWorks;
        UnattendedReport report;
        report.restartNeeded = c.runResult == RunResultRestart;
        CapturedStdout out;
        EXPECT_EQ(c.expected, FinishUnattendedRun(c.runResult, c.noRestart, false, watch, report, steps));
        EXPECT_EQ(c.restartsInitiated, restartCalls);
        const std::string text = out.Text();
        if (c.runResult == 0 || c.runResult == RunResultRestart) {
            const std::string last = "exit code " + std::to_string(c.expected) + "\n";
            ASSERT_GE(text.size(), last.size());
            EXPECT_EQ(last, text.substr(text.size() - last.size())) << text;
            EXPECT_NE(std::string::npos, text.find("Summary: ")) << text;
        }
        EXPECT_EQ(!c.restartWorks && c.restartsInitiated > 0,
                  text.find("Failed to initiate system reboot. Restart your system manually.") != std::string::npos);
    }
}

// Every step reports its failure in the log in one of three forms; two
// findings share the first form and are no failed step.
TEST(FailedStepWatch, JudgesTheStepsOutcomeLines)
{
    const struct {
        const wchar_t* line;
        bool failed;
    } cases[] = {
        {L"info: Failed to restore services.exe\r\n", true},
        {L"info: Creating HKLM\\System\\CurrentControlSet\\Services\\BITS - failed\r\n", true},
        {L"info: ... failed\r\n", true},
        {L"info: Changing file permissions on file C:\\x... failure\r\n", true},
        {L"info: Failed to acquire needed privileges.\r\n", true},
        {L"info: Failed to generate BOT ID\r\n", false},
        {L"info: Failed to open registry key HKCU\\Software\\Classes\\CLSID\\{42aedc87}\\InprocServer32 \r\n", false},
        {L"info: ... success\r\n", false},
        {L"info: Restored services.exe successfully\r\n", false},
        {L"debug: AdjustTokenPrivileges error: 5\n\r\n", false},
        {L"info: Value \"failed\" matches known good one, skipping update\r\n", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.failed, FailedStepWatch::IsFailedStepLine(c.line, wcslen(c.line))) << testing::PrintToString(
            std::wstring(c.line));
    }
}

}  // namespace
