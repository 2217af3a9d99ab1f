#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/LogCapture.h"
#include "win/MachineChange.h"

namespace {

std::vector<std::wstring> observed;

void Observe(Change, const ChangeTarget& target, const wchar_t* current, const wchar_t* next)
{
    observed.push_back(std::wstring(target.path != nullptr ? target.path : L"") + L"|" +
                       (current != nullptr ? current : L"null") + L"|" + (next != nullptr ? next : L"null"));
}

class ScanModeTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        ObserveChanges(nullptr);
        SetScanMode(false);
        observed.clear();
    }
};

TEST_F(ScanModeTest, OutsideAScanEveryChangeIsMadeAndNothingIsSaid)
{
    LogCapture log;
    const ChangeObserver observer = {Observe, nullptr};
    ObserveChanges(&observer);
    EXPECT_FALSE(WithholdChange(Change::DeleteFile, ChangeTarget::File(L"C:\\x")));
    EXPECT_FALSE(WithholdChange(Change::CreateKey, ChangeTarget::Key(L"HKLM", "Software\\x")));
    EXPECT_FALSE(IsWithheldKey(L"HKLM", "Software\\x"));
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_TRUE(observed.empty());
}

// One line per change, in the form the tests read back change by change.
TEST_F(ScanModeTest, AScanWithholdsEachChangeWithOneLineAndTellsTheObserver)
{
    LogCapture log;
    const ChangeObserver observer = {Observe, nullptr};
    ObserveChanges(&observer);
    SetScanMode(true);
    EXPECT_TRUE(WithholdChange(Change::SetValue, ChangeTarget::Key(L"HKCR", L"CLSID\\{1}\\InprocServer32"),
                               L"C:\\evil.dll", L"%systemroot%\\good.dll"));
    EXPECT_TRUE(WithholdChange(Change::SetValue, ChangeTarget::Key(L"HKLM", "System\\S", L"Start"), nullptr,
                               L"(known good)"));
    EXPECT_TRUE(WithholdChange(Change::CreateKey, ChangeTarget::Key(L"HKLM", "System\\S\\Security")));
    EXPECT_TRUE(WithholdChange(Change::CopyFile, ChangeTarget::File("C:\\w\\services.exe"), nullptr, L"b.infected"));
    EXPECT_TRUE(WithholdChange(Change::DeleteFile, ChangeTarget::File(L"\\\\?\\C:\\$Recycle.Bin\\x")));
    const std::vector<std::wstring> expected = {
        L"info: Would set value HKCR\\CLSID\\{1}\\InprocServer32 @: C:\\evil.dll -> %systemroot%\\good.dll",
        L"info: Would set value HKLM\\System\\S \"Start\": (missing) -> (known good)",
        L"info: Would create key HKLM\\System\\S\\Security",
        L"info: Would copy file C:\\w\\services.exe -> b.infected",
        L"info: Would delete file \\\\?\\C:\\$Recycle.Bin\\x",
    };
    EXPECT_EQ(expected, log.Lines());
    EXPECT_EQ(5u, observed.size());
    EXPECT_EQ(L"CLSID\\{1}\\InprocServer32|C:\\evil.dll|%systemroot%\\good.dll", observed[0]);
    EXPECT_EQ(L"|null|(known good)", observed[1]);
}

// A later step of the same scan finds a key the scan would have created.
TEST_F(ScanModeTest, AKeyWhoseCreationWasWithheldExistsForTheRestOfTheScanOnly)
{
    LogCapture log;
    SetScanMode(true);
    WithholdChange(Change::CreateKey, ChangeTarget::Key(L"HKLM", "System\\S\\Security"));
    EXPECT_TRUE(IsWithheldKey(L"HKLM", "system\\s\\SECURITY"));
    EXPECT_FALSE(IsWithheldKey(L"HKCU", "System\\S\\Security"));
    EXPECT_FALSE(IsWithheldKey(L"HKLM", "System\\S"));
    SetScanMode(true);
    EXPECT_FALSE(IsWithheldKey(L"HKLM", "System\\S\\Security"));
}

}  // namespace
