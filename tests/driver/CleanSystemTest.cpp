// The cleaning sequence's verdict lines on services.exe.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/CleanSystem.h"
#include "support/LogCapture.h"
#include "win/ScopedHandle.h"
#include "win/Wow64.h"

namespace {

std::vector<std::wstring> CleaningRunLinesOnWindows7()
{
    LogCapture capture;
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = 6;
    version.dwMinorVersion = 1;
    version.wProductType = VER_NT_WORKSTATION;
    wchar_t program[] = L"C:\\cleaner.exe";
    wchar_t* argv[] = {program};
    bool restorationMode = true;
    EXPECT_EQ(CleanSystemDone, CleanSystem(1, argv, version, &restorationMode));
    EXPECT_FALSE(restorationMode);
    return capture.Lines();
}

// An image that cannot be read is no evidence either way: the run says so,
// replaces nothing and still removes the rootkit's files.
TEST(CleanSystem, AnImageThatCannotBeReadIsReportedUncheckedNotClean)
{
    char directory[MAX_PATH];
    const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
    ASSERT_TRUE(length != 0 && length < MAX_PATH);
    const std::string image = std::string(directory) + "\\services.exe";
    struct Case {
        const char* name;
        bool hold;
        const wchar_t* verdictLine;
    } cases[] = {
        {"Wine's own service manager", false, L"info: services.exe appears to be clean"},
        {"held open by a party that shares nothing", true, L"info: Failed to check services.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedHandle holder;
        if (c.hold) {
            FsRedirectionGuard native;
            holder = ScopedHandle(CreateFileA(image.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(holder.IsValid());
        }
        const std::vector<std::wstring> lines = CleaningRunLinesOnWindows7();
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ((std::vector<std::wstring>{c.verdictLine, L"info: Attempting to remove malware files..."}),
                  std::vector<std::wstring>(lines.end() - 4, lines.end() - 2));
    }
}

}  // namespace
