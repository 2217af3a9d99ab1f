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

}  // namespace
