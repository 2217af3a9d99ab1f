// "-undo FILE": a backup of the program takes its run back (values, added
// values, created keys and key security), the undo's own backup takes the
// undo back, and a file the program did not write or cannot read through
// changes nothing.
#include "registry/RegistryBackup.h"
#include "registry/RegistryUndo.h"

#include "BackupScenario.h"
#include "RegistryTestKeys.h"
#include "support/LogCapture.h"
#include "win/ScopedHandle.h"
#include "win/ScopedRegKey.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::wstring>;

std::string SecurityDifferences(const SecurityState& expected, const SecurityState& actual)
{
    std::string report;
    for (const auto& key : expected) {
        const auto found = actual.find(key.first);
        if (found == actual.end() || found->second != key.second)
            report += Narrow(key.first) + ": " + key.second + " now " +
                      (found == actual.end() ? std::string("(missing)") : found->second) + "\n";
    }
    return report;
}

class Undo : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SetTokenPrivilege(L"SeSecurityPrivilege", true)); }

    // The scenario run with its backup; the file's path.
    std::wstring RunWithBackup(const BackupDirectory& directory, WORD second)
    {
        BeginRegistryBackup(RunStart(second));
        RunScenario();
        EndRegistryBackup();
        return directory.File(directory.Files().back());
    }

    // The undo as a run makes it: with its own backup.
    UndoOutcome UndoWithBackup(const std::wstring& file, WORD second)
    {
        BeginRegistryBackup(RunStart(second));
        const UndoOutcome outcome = UndoRegistryBackup(file.c_str());
        EndRegistryBackup();
        return outcome;
    }
};

TEST_F(Undo, TakesTheRunBackKeySecurityIncludedAndIsItselfUndoable)
{
    PrepareScenario();
    const RegistryState before = ScenarioState();
    const SecurityState securityBefore = ScenarioSecurity();
    BackupDirectory directory;
    LogCapture capture;
    const std::wstring run = RunWithBackup(directory, 40);
    const RegistryState after = ScenarioState();
    const SecurityState securityAfter = ScenarioSecurity();
    ASSERT_NE("", Differences(before, after));
    ASSERT_NE("", SecurityDifferences(securityBefore, securityAfter));

    const UndoOutcome undone = UndoWithBackup(run, 41);
    EXPECT_EQ(UndoResult::Done, undone.result);
    EXPECT_TRUE(undone.complete);
    EXPECT_EQ("", Differences(before, ScenarioState()));
    EXPECT_EQ("", SecurityDifferences(securityBefore, ScenarioSecurity()));
    const Lines lines = capture.Lines();
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), L"info: Undo finished"));

    // The undo's own backup takes the undo back.
    const std::vector<std::wstring> files = directory.Files();
    ASSERT_EQ(2u, files.size());
    const UndoOutcome redone = UndoWithBackup(directory.File(L"Registry backup 2026.12.10 13-04-41.reg"), 42);
    EXPECT_EQ(UndoResult::Done, redone.result);
    EXPECT_EQ("", Differences(after, ScenarioState()));
    EXPECT_EQ("", SecurityDifferences(securityAfter, ScenarioSecurity()));
}

void Plant(const std::wstring& path, const std::string& bytes)
{
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(file.IsValid());
    ASSERT_TRUE(WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

std::string FileBytes(const std::wstring& path)
{
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char block[65536];
    DWORD read = 0;
    while (file.IsValid() && ReadFile(file.Get(), block, sizeof block, &read, nullptr) && read != 0)
        bytes.append(block, read);
    return bytes;
}

std::string Utf16File(const std::wstring& text)
{
    std::string bytes("\xff\xfe", 2);
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

// The offset in bytes of `text` in a UTF-16 file's bytes.
size_t Offset(const std::string& bytes, const std::wstring& text)
{
    const std::string encoded = Utf16File(text).substr(2);
    const size_t at = bytes.find(encoded);
    return at == std::string::npos ? 0 : at;
}

TEST_F(Undo, RefusesAFileItDidNotWriteOrCannotReadThroughAndChangesNothing)
{
    PrepareScenario();
    BackupDirectory directory;
    LogCapture capture;
    const std::string backup = FileBytes(RunWithBackup(directory, 43));
    const RegistryState after = ScenarioState();
    const SecurityState securityAfter = ScenarioSecurity();
    const size_t value = Offset(backup, L"\"Start\"=dword:00000004");
    const size_t endLine = Offset(backup, L"\r\n; End of the registry backup");
    ASSERT_NE(0u, value);
    ASSERT_NE(0u, endLine);
    std::string tampered = backup;
    tampered[value + 2 * 21] = 'z';

    const struct Case {
        const char* what;
        std::string bytes;
        UndoResult result;
    } cases[] = {
        {"another program's registry script",
         Utf16File(L"Windows Registry Editor Version 5.00\r\n\r\n"
                   L"[HKEY_LOCAL_MACHINE\\System\\VornRegistryTest\\Stops\\Service]\r\n\"Start\"=dword:00000009\r\n"),
         UndoResult::NotABackup},
        {"a text file", "Start=9\r\n", UndoResult::NotABackup},
        {"cut inside a value line", backup.substr(0, value + 2 * 10), UndoResult::Damaged},
        {"cut before its end line", backup.substr(0, endLine + 4), UndoResult::Damaged},
        {"a value line changed", tampered, UndoResult::Damaged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring path = directory.File(L"planted.reg");
        Plant(path, c.bytes);
        const size_t files = directory.Files().size();
        EXPECT_EQ(c.result, UndoWithBackup(path, 44).result);
        EXPECT_EQ("", Differences(after, ScenarioState()));
        EXPECT_EQ("", SecurityDifferences(securityAfter, ScenarioSecurity()));
        EXPECT_EQ(files, directory.Files().size()) << "the refused undo wrote a backup";
    }
    EXPECT_EQ(UndoResult::NotOpened, UndoWithBackup(directory.File(L"missing.reg"), 45).result);
}

// Windows sets another owner than the caller's user or Administrators only
// with SeRestorePrivilege enabled (ERROR_INVALID_OWNER otherwise, "Owner of a
// New Object"), and an audit list only with SeSecurityPrivilege
// (ERROR_PRIVILEGE_NOT_HELD); Wine accepts both. The stand-in refuses as
// Windows does.
LONG WINAPI SetSecurityAsWindows(HKEY key, SECURITY_INFORMATION parts, PSECURITY_DESCRIPTOR descriptor)
{
    if ((parts & OWNER_SECURITY_INFORMATION) != 0 && !TokenPrivilegeEnabled(L"SeRestorePrivilege")) {
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        BYTE admins[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof(admins);
        if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
            !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size) || !EqualSid(owner, admins))
            return ERROR_INVALID_OWNER;
    }
    if ((parts & SACL_SECURITY_INFORMATION) != 0 && !TokenPrivilegeEnabled(L"SeSecurityPrivilege"))
        return ERROR_PRIVILEGE_NOT_HELD;
    return RegSetKeySecurity(key, parts, descriptor);
}

TEST_F(Undo, KeySecurityIsSetWithThePrivilegesItTakesForThatCallOnly)
{
    const std::wstring path = FreshScratchPath(HKEY_LOCAL_MACHINE, L"UndoSecurity");
    StoreValue(HKEY_LOCAL_MACHINE, path, L"v", REG_DWORD, DwordBytes(1));
    const char sddl[] = "O:SYG:SYD:(A;;KA;;;BA)(A;;KA;;;SY)S:(AU;SAFA;WDWO;;;BA)";
    for (const wchar_t* privilege : {L"SeRestorePrivilege", L"SeSecurityPrivilege", L"SeTakeOwnershipPrivilege"})
        ASSERT_TRUE(SetTokenPrivilege(privilege, false));

    // Without the privileges the model refuses as Windows does: what a tool
    // that enables none (PowerShell's Set-Acl) meets.
    {
        ScopedRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0,
                                               READ_CONTROL | WRITE_DAC | WRITE_OWNER | KEY_WOW64_64KEY,
                                               key.Receive()));
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr));
        EXPECT_EQ(ERROR_INVALID_OWNER,
                  SetSecurityAsWindows(key.Get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor));
        LocalFree(descriptor);
    }

    const std::wstring wide(sddl, sddl + sizeof(sddl) - 1);
    const KeySecurityCalls asWindows{RegOpenKeyExW, RegOpenKeyExA, SetSecurityAsWindows};
    EXPECT_EQ(ERROR_SUCCESS, ApplyBackedUpKeySecurity(HKEY_LOCAL_MACHINE, path.c_str(), wide.c_str(), asWindows));
    EXPECT_EQ("O:SYG:SYD:(A;;KA;;;BA)(A;;KA;;;SY)", KeySecurityString(HKEY_LOCAL_MACHINE, path));
    for (const wchar_t* privilege : {L"SeRestorePrivilege", L"SeSecurityPrivilege", L"SeTakeOwnershipPrivilege"})
        EXPECT_FALSE(TokenPrivilegeEnabled(privilege)) << Narrow(privilege);
}

}  // namespace
