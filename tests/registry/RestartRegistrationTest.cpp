// The RunOnce value of the restoration run: quoted wide command line, one
// value, and nothing written for a path that does not fit.
#include "registry/RestartRegistration.h"

#include "RegistryTestKeys.h"
#include "support/LogCapture.h"
#include "support/ReadOnlyRegistryKey.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::wstring>;

const wchar_t kRunOnce[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kSucceeded[] = L"info: Successfully registered for start after reboot for services restoration";
const wchar_t kFailed[] = L"info: Failed to register for start after reboot for services restoration";

StoredValue Registered()
{
    return ReadStoredValue(HKEY_CURRENT_USER, kRunOnce, L"TarnvexEVCleaner");
}

void RemoveRegistration()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunOnce, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, L"TarnvexEVCleaner");
    RegCloseKey(key);
}

TEST(RegisterRestartRunFor, WritesTheQuotedPathAndTheSwitch)
{
    const wchar_t* paths[] = {
        L"C:\\x.exe",
        L"C:\\Documents and Settings\\x\\Desktop\\c.exe",
        L"C:\\Users\\\x0416\x0435\x043d\x044f\\\x684c\x9762\\c\x00e9.exe",  // outside any ANSI code page
    };
    for (const wchar_t* path : paths) {
        SCOPED_TRACE(Narrow(path));
        RemoveRegistration();
        LogCapture capture;
        EXPECT_TRUE(RegisterRestartRunFor(path));
        EXPECT_EQ(Lines{kSucceeded}, capture.Lines());
        const StoredValue stored = Registered();
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), stored.type);
        EXPECT_EQ(Utf16(L"\"" + std::wstring(path) + L"\" -r"), stored.bytes);
    }
    RemoveRegistration();
    RegisterRestartRunFor(L"C:\\x.exe");
    EXPECT_EQ(28u, Registered().bytes.size());  // 13 characters and the NUL
}

// The restoration after the restart logs where the cleaning run logged; the
// runtime must read the directory back as one argument.
TEST(RegisterRestartRunFor, CarriesTheLogDirectoryQuotedSoThatItReadsBackWhole)
{
    const struct {
        const wchar_t* directory;
        const wchar_t* commandLine;
    } cases[] = {
        {L"C:\\scan logs", L"\"C:\\x.exe\" -r -log \"C:\\scan logs\""},
        {L"\\\\server\\share\\logs\\", L"\"C:\\x.exe\" -r -log \"\\\\server\\share\\logs\\\\\""},
        {L"C:\\", L"\"C:\\x.exe\" -r -log \"C:\\\\\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.directory));
        RemoveRegistration();
        EXPECT_TRUE(RegisterRestartRunFor(L"C:\\x.exe", c.directory));
        EXPECT_EQ(Utf16(c.commandLine), Registered().bytes);
        int count = 0;
        LPWSTR* argv = CommandLineToArgvW(c.commandLine, &count);
        ASSERT_NE(nullptr, argv);
        ASSERT_EQ(4, count);
        EXPECT_STREQ(c.directory, argv[3]);
        LocalFree(argv);
    }
    RemoveRegistration();
}

TEST(RegisterRestartRunFor, ASecondRegistrationReplacesTheFirst)
{
    RemoveRegistration();
    RegisterRestartRunFor(L"C:\\first.exe");
    RegisterRestartRunFor(L"C:\\second one\\c.exe");

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kRunOnce, 0, KEY_READ, &key));
    int ours = 0;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (_wcsicmp(name, L"TarnvexEVCleaner") == 0) ++ours;
    }
    RegCloseKey(key);
    EXPECT_EQ(1, ours);
    EXPECT_EQ(Utf16(L"\"C:\\second one\\c.exe\" -r"), Registered().bytes);
}

std::wstring PathOfLength(size_t length)
{
    std::wstring path = L"C:\\";
    path += std::wstring(length - 3 - 4, L'd');
    return path + L".exe";
}

TEST(RegisterRestartRunFor, APathThatDoesNotFitWritesNothing)
{
    // Quotes, " -r" and the NUL take 6 of the 260 characters.
    RemoveRegistration();
    {
        LogCapture capture;
        RegisterRestartRunFor(PathOfLength(254).c_str());
        EXPECT_EQ(Lines{kSucceeded}, capture.Lines());
        EXPECT_EQ(Utf16(L"\"" + PathOfLength(254) + L"\" -r"), Registered().bytes);
    }
    for (size_t length : {255u, 256u, 259u, 400u}) {
        SCOPED_TRACE(length);
        StoreValue(HKEY_CURRENT_USER, kRunOnce, L"TarnvexEVCleaner", REG_SZ, Utf16(L"earlier"));
        LogCapture capture;
        EXPECT_FALSE(RegisterRestartRunFor(PathOfLength(length).c_str()));
        EXPECT_EQ(Lines{kFailed}, capture.Lines());
        EXPECT_EQ(Utf16(L"earlier"), Registered().bytes);
    }
}

// A RunOnce key the program may not write is a failed registration, said in
// the log and to the caller, and the earlier value stays.
TEST(RegisterRestartRunFor, AKeyWithoutWriteAccessFails)
{
    StoreValue(HKEY_CURRENT_USER, kRunOnce, L"TarnvexEVCleaner", REG_SZ, Utf16(L"earlier"));
    LogCapture capture;
    {
        ReadOnlyRegistryKey readOnly(HKEY_CURRENT_USER, kRunOnce);
        ASSERT_TRUE(readOnly.Restricted());
        EXPECT_FALSE(RegisterRestartRunFor(L"C:\\x.exe"));
    }
    EXPECT_EQ(Lines{kFailed}, capture.Lines());
    EXPECT_EQ(Utf16(L"earlier"), Registered().bytes);
}

TEST(RegisterRestartRun, RegistersTheRunningProgram)
{
    RemoveRegistration();
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    LogCapture capture;
    RegisterRestartRun();
    EXPECT_EQ(Lines{kSucceeded}, capture.Lines());
    EXPECT_EQ(Utf16(L"\"" + std::wstring(self) + L"\" -r"), Registered().bytes);
}

}  // namespace
