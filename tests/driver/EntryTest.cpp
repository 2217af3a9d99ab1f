#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CapturedStdout.h"
#include "driver/Console.h"
#include "driver/Entry.h"
#include "driver/Restart.h"
#include "driver/RunCleaner.h"
#include "support/LogCapture.h"
#include "win/ScopedHandle.h"

namespace {

bool Succeeds()
{
    return true;
}
bool Fails()
{
    return false;
}

wchar_t program[] = L"C:\\cleaner.exe";
wchar_t restoreArgument[] = L"-r";

const char kManualRestart[] = "Failed to initiate system reboot. Restart your system manually.\n";

TEST(Entry, ARestartThatCannotBeInitiatedAsksForAManualOneAndKeepsResult5)
{
    wchar_t* argv[] = {program, restoreArgument};
    for (RestartSteps steps : {RestartSteps{Fails, Succeeds}, RestartSteps{Succeeds, Fails}}) {
        CapturedStdout out;
        EXPECT_EQ(5, RunEntry(2, argv, steps));
        const std::string text = out.Text();
        ASSERT_GE(text.size(), sizeof(kManualRestart) - 1);
        EXPECT_EQ(kManualRestart, text.substr(text.size() - (sizeof(kManualRestart) - 1)));
    }
}

TEST(Entry, AnInitiatedRestartPrintsNothingMore)
{
    wchar_t* argv[] = {program, restoreArgument};
    CapturedStdout out;
    EXPECT_EQ(5, RunEntry(2, argv, RestartSteps{Succeeds, Succeeds}));
    EXPECT_EQ(std::string::npos, out.Text().find("Failed to initiate"));
}

void QueryFails(OSVERSIONINFOEXW& version)
{
    ZeroMemory(&version, sizeof(version));
}

TEST(RunFlow, AnUndeterminedVersionEndsWithResult8AfterTheStartLines)
{
    LogCapture log;
    wchar_t* argv[] = {program};
    CapturedStdout out;
    EXPECT_EQ(8, RunCleaner(1, argv, QueryFails));
    EXPECT_EQ(std::string::npos, out.Text().find("OS: "));
    const std::vector<std::wstring> lines = log.Lines();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(L"info: " + std::wstring(80, L'-'), lines[0]);
    EXPECT_EQ(L"info: VORN Win32/Tarnvex.EV Cleaner v1.0.0.7 (Dec  4 2012 11:33:22)", lines[1]);
    EXPECT_EQ(L"info: " + std::wstring(62, L'-'), lines[2]);
    EXPECT_EQ(0u, lines[3].find(L"info: Log started "));
}

DWORD WINAPI DirectoryOf(DWORD length, LPSTR buffer, DWORD needed)
{
    if (needed == 0)
        return 0;
    if (needed >= length)
        return needed + 1;  // the size the call would need, terminator included
    memset(buffer, 'd', needed);
    buffer[0] = 'C';
    buffer[needed] = '\0';
    return needed;
}
DWORD WINAPI Directory259(DWORD length, LPSTR buffer)
{
    return DirectoryOf(length, buffer, 259);
}
DWORD WINAPI Directory260(DWORD length, LPSTR buffer)
{
    return DirectoryOf(length, buffer, 260);
}
DWORD WINAPI DirectoryFails(DWORD length, LPSTR buffer)
{
    return DirectoryOf(length, buffer, 0);
}

TEST(FinishedNotice, NamesTheDirectoryOnlyWhenItFitsInMaxPath)
{
    const std::string generic = "Cleaner finished, check \"RA Ravariv\" directory for logs\n";
    {
        CapturedStdout out;
        PrintFinishedNotice(Directory259);
        EXPECT_EQ("Cleaner finished, check C" + std::string(258, 'd') + "\\RA Ravariv directory for logs\n",
                  out.Text());
    }
    {
        CapturedStdout out;
        PrintFinishedNotice(Directory260);
        EXPECT_EQ(generic, out.Text());
    }
    {
        CapturedStdout out;
        PrintFinishedNotice(DirectoryFails);
        EXPECT_EQ(generic, out.Text());
    }
}

TEST(ShutdownPrivilege, IsEnabledAndEnabledAgain)
{
    LogCapture log;
    EXPECT_TRUE(EnableShutdownPrivilege());
    EXPECT_TRUE(EnableShutdownPrivilege());
    EXPECT_TRUE(log.Lines().empty());
}

TEST(ShutdownPrivilege, ATokenWithoutItIsReportedAtDebugLevel)
{
    ScopedHandle process;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, process.Receive()));
    LUID shutdown;
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &shutdown));
    LUID_AND_ATTRIBUTES removed = {shutdown, 0};
    ScopedHandle restricted;
    ASSERT_TRUE(CreateRestrictedToken(process.Get(), 0, 0, nullptr, 1, &removed, 0, nullptr, restricted.Receive()));

    LogCapture log;
    EXPECT_FALSE(SetPrivilege(restricted.Get(), true));
    EXPECT_EQ(std::vector<std::wstring>{L"debug: The token does not have the specified privilege.\n"}, log.Lines());
}

}  // namespace
