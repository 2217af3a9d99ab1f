// The COM server repair: the line format, one repair on scratch keys (values
// of any length, keys locked against the administrators), and the eight real
// rows with their exact case in a throw-away prefix.
#include "registry/ComServerRepair.h"

#include "KeySecurityModel.h"
#include "RegistryTestKeys.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::wstring>;

TEST(LogRegistryLine, SpacesAndValueForms)
{
    LogCapture capture;
    LogRegistryLine(L"Current registry value ", HKEY_CLASSES_ROOT, L"CLSID\\{X}\\InprocServer32", L"a b.dll");
    LogRegistryLine(L"New registry value ", HKEY_CURRENT_USER, L"S", L"");
    LogRegistryLine(L"Failed to open registry key", HKEY_LOCAL_MACHINE, L"S", nullptr);
    LogRegistryLine(nullptr, HKEY_USERS, L"S", L"v");
    LogRegistryLine(L"", HKEY_LOCAL_MACHINE, L"S", L"%windir%");  // the value is no format
    EXPECT_EQ((Lines{
                  L"info: Current registry value  HKCR\\CLSID\\{X}\\InprocServer32 a b.dll",
                  L"info: New registry value  HKCU\\S \"\"",
                  L"info: Failed to open registry key HKLM\\S ",
                  L"info:  hk\\S v",
                  L"info:  HKLM\\S %windir%",
              }),
              capture.Lines());
}

const wchar_t kNewData[] = L"%systemroot%\\system32\\shell32.dll";

std::wstring Current(const std::wstring& key, const std::wstring& value)
{
    return L"info: Current registry value  HKCU\\" + key + L" " + value;
}

std::wstring New(const std::wstring& key)
{
    return L"info: New registry value  HKCU\\" + key + L" " + kNewData;
}

TEST(ReplaceDefaultValue, LogsTheOldValueAtAnyLengthAndTheNewValue)
{
    const std::wstring key = FreshScratchPath(HKEY_CURRENT_USER, L"ComReplace");
    struct Case {
        std::wstring current;
        Bytes stored;
    };
    const auto asLogged = [](const std::wstring& text) { return Case{text, Utf16(text)}; };
    const Case cases[] = {
        asLogged(L"C:\\planted\\evil.dll"),
        asLogged(kNewData),  // already right: rewritten all the same
        {L"\"\"", Utf16(L"")},
        {L"abc", Utf16(L"abc", false)},  // stored without its NUL
        {L"x", {'x', 0, 'y'}},            // odd length: the half character is cut
        // A planted path longer than any fixed buffer must not hide the hijack.
        asLogged(std::wstring(258, L'p')),
        asLogged(std::wstring(259, L'p')),
        asLogged(std::wstring(260, L'p')),
        asLogged(std::wstring(300, L'p')),
        asLogged(std::wstring(5000, L'p')),
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << Narrow(c.current.substr(0, 40)) << " (" << c.current.size() << " characters)");
        StoreValue(HKEY_CURRENT_USER, key, nullptr, REG_SZ, c.stored);
        LogCapture capture;
        ReplaceDefaultValue(kNewData, HKEY_CURRENT_USER, key.c_str());
        EXPECT_EQ((Lines{Current(key, c.current), New(key)}), capture.Lines());
        const StoredValue stored = ReadStoredValue(HKEY_CURRENT_USER, key, nullptr);
        EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), stored.type);
        EXPECT_EQ(Utf16(kNewData), stored.bytes);
    }
}

TEST(ReplaceDefaultValue, WritesAMissingDefaultValueButCreatesNoKey)
{
    const std::wstring key = FreshScratchPath(HKEY_CURRENT_USER, L"ComAbsent");
    LogCapture capture;
    ReplaceDefaultValue(kNewData, HKEY_CURRENT_USER, key.c_str());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key));
    StoreValue(HKEY_CURRENT_USER, key, L"Other", REG_SZ, Utf16(L"x"));  // a key without a default value
    ReplaceDefaultValue(kNewData, HKEY_CURRENT_USER, key.c_str());
    EXPECT_EQ((Lines{
                  L"info: Failed to open registry key HKCU\\" + key + L" ",
                  Current(key, L"\"\""),
                  New(key),
              }),
              capture.Lines());
    const StoredValue stored = ReadStoredValue(HKEY_CURRENT_USER, key, nullptr);
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), stored.type);
    EXPECT_EQ(Utf16(kNewData), stored.bytes);
}

// Query and set value (CC, DC) and no more, as a hijacked key may grant.
const char kQueryAndSetOnly[] = "O:BAG:SYD:P(A;;KA;;;SY)(A;;CCDC;;;BA)";
// Owned by SYSTEM and read only: even the repair's own open is refused.
const char kSystemOwnedReadOnly[] = "O:SYG:SYD:P(A;;KA;;;SY)(A;;KR;;;BA)";

// A class registration of its own per test below HKLM\Software\Classes,
// holding a planted server; the last one stays locked in the prefix.
class LockedComKeyTest : public testing::Test {
protected:
    void SetUp() override
    {
        ResetKeySecurityModel();
        ASSERT_TRUE(SetTokenPrivilege(L"SeTakeOwnershipPrivilege", false));
        ASSERT_TRUE(SetTokenPrivilege(L"SeRestorePrivilege", false));
        const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
        clsid_ = L"CLSID\\{Vorn" + std::wstring(test.begin(), test.end()) + L"}";
        key_ = L"Software\\Classes\\" + clsid_ + L"\\InprocServer32";
        DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + clsid_);
        StoreValue(HKEY_LOCAL_MACHINE, key_, nullptr, REG_SZ, Utf16(L"C:\\planted\\evil.dll"));
    }
    void TearDown() override { ResetKeySecurityModel(); }
    // Locks the key with `sddl`; the model's stand-in for what
    // SeTakeOwnershipPrivilege grants is taken before.
    void Lock(const char* sddl)
    {
        ModelKeyBeforeLock(HKEY_LOCAL_MACHINE, key_);
        SetKeySecurityString(HKEY_LOCAL_MACHINE, key_, sddl);
        ASSERT_EQ(sddl, KeySecurityString(HKEY_LOCAL_MACHINE, key_));
    }
    // The class in the 32-bit view, where a write whose view is not certain
    // could land (the 32-bit program writes there without KEY_WOW64_64KEY).
    bool InThe32BitView() const
    {
        return KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\Classes\\" + clsid_) ||
               KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Wow6432Node\\" + clsid_);
    }
    std::wstring Line(const wchar_t* caption, const std::wstring& value) const
    {
        return std::wstring(caption) + L"HKLM\\" + key_ + L" " + value;
    }

    std::wstring clsid_;
    std::wstring key_;
};

const wchar_t kCurrent[] = L"info: Current registry value  ";
const wchar_t kNew[] = L"info: New registry value  ";

TEST_F(LockedComKeyTest, AKeyGrantingOnlyQueryAndSetValueIsRepaired)
{
    Lock(kQueryAndSetOnly);
    LogCapture capture;
    ReplaceDefaultValue(kNewData, HKEY_LOCAL_MACHINE, key_.c_str(), ModelledKeySecurityCalls());
    EXPECT_EQ((Lines{Line(kCurrent, L"C:\\planted\\evil.dll"), Line(kNew, kNewData)}), capture.Lines());
    EXPECT_EQ(Utf16(kNewData), ReadStoredValue(HKEY_LOCAL_MACHINE, key_, nullptr).bytes);
    EXPECT_EQ(kQueryAndSetOnly, KeySecurityString(HKEY_LOCAL_MACHINE, key_)) << "no route where the plain open serves";
}

// An installer's key (owned by another account, read-only for the
// administrators) under the models of Windows' owner and take-ownership
// rules: repaired in its own view, its security put back as it was.
TEST_F(LockedComKeyTest, AKeyTheAdministratorsMayOnlyReadIsRepairedAndKeepsItsSecurity)
{
    Lock(kSystemOwnedReadOnly);
    LogCapture capture;
    ReplaceDefaultValue(kNewData, HKEY_LOCAL_MACHINE, key_.c_str(), ModelledKeySecurityCalls());

    EXPECT_EQ((Lines{Line(kCurrent, L"C:\\planted\\evil.dll"), Line(kNew, kNewData)}), capture.Lines());
    EXPECT_EQ(Utf16(kNewData), ReadStoredValue(HKEY_LOCAL_MACHINE, key_, nullptr).bytes);
    EXPECT_EQ(kSystemOwnedReadOnly, KeySecurityString(HKEY_LOCAL_MACHINE, key_));
    EXPECT_TRUE(ModelRefusedOwners().empty());
    EXPECT_FALSE(InThe32BitView());
    EXPECT_TRUE(RoutePrivilegesOff()) << "enabled for the route only";
}

// Wine does not let SeTakeOwnershipPrivilege grant WRITE_OWNER: with the
// system's calls no route opens a key owned by another account, which is
// reported as before and keeps its value and its security.
TEST_F(LockedComKeyTest, AKeyNoRouteOpensIsReported)
{
    Lock(kSystemOwnedReadOnly);
    LogCapture capture;
    ReplaceDefaultValue(kNewData, HKEY_LOCAL_MACHINE, key_.c_str());
    EXPECT_EQ(Lines{Line(L"info: Failed to open registry key ", L"")}, capture.Lines());
    EXPECT_EQ(Utf16(L"C:\\planted\\evil.dll"), ReadStoredValue(HKEY_LOCAL_MACHINE, key_, nullptr).bytes);
    EXPECT_EQ(kSystemOwnedReadOnly, KeySecurityString(HKEY_LOCAL_MACHINE, key_));
    EXPECT_FALSE(InThe32BitView());
    EXPECT_TRUE(RoutePrivilegesOff());
}

struct Row {
    HKEY root;
    const wchar_t* rootName;
    const wchar_t* subKey;
};

const Row kRows[] = {
    {HKEY_CLASSES_ROOT, L"HKCR", L"CLSID\\{5839FCA9-774D-42A1-ACDA-D6A79037F57F}\\InprocServer32"},
    {HKEY_LOCAL_MACHINE, L"HKLM", L"Software\\Classes\\CLSID\\{5839FCA9-774D-42A1-ACDA-D6A79037F57F}\\InprocServer32"},
    {HKEY_CLASSES_ROOT, L"HKCR", L"CLSID\\{fbeb8a05-beee-4442-804e-409d6c4515e9}\\InprocServer32"},
    {HKEY_LOCAL_MACHINE, L"HKLM", L"Software\\Classes\\CLSID\\{fbeb8a05-beee-4442-804e-409d6c4515e9}\\InprocServer32"},
    {HKEY_CLASSES_ROOT, L"HKCR", L"CLSID\\{F3130CDB-AA52-4C3A-AB32-85FFC23AF9C1}\\InprocServer32"},
    {HKEY_LOCAL_MACHINE, L"HKLM", L"Software\\Classes\\CLSID\\{f3130cdb-aa52-4c3a-ab32-85ffc23af9c1}\\InprocServer32"},
    {HKEY_CLASSES_ROOT, L"HKCR", L"CLSID\\{42aedc87-2188-41fd-b9a3-0c966feabec1}\\InprocServer32"},
    {HKEY_CURRENT_USER, L"HKCU", L"Software\\Classes\\CLSID\\{42aedc87-2188-41fd-b9a3-0c966feabec1}\\InprocServer32"},
};

const wchar_t* const kRowData[] = {
    L"%systemroot%\\system32\\wbem\\fastprox.dll", L"%systemroot%\\system32\\wbem\\fastprox.dll",
    L"%systemroot%\\system32\\shell32.dll",        L"%systemroot%\\system32\\shell32.dll",
    L"%systemroot%\\system32\\wbem\\wbemess.dll",  L"%systemroot%\\system32\\wbem\\wbemess.dll",
};

void RemoveRowKeys()
{
    for (const Row& row : kRows) DeleteKeyTree(row.root, row.subKey);
}

TEST(RepairComServerPaths, ReportsEveryMissingKey)
{
    RemoveRowKeys();
    LogCapture capture;
    RepairComServerPaths(0x61);
    Lines expected;
    for (const Row& row : kRows)
        expected.push_back(std::wstring(L"info: Failed to open registry key ") + row.rootName + L"\\" + row.subKey + L" ");
    EXPECT_EQ(expected, capture.Lines());
    for (const Row& row : kRows) EXPECT_FALSE(KeyExists(row.root, row.subKey));
}

TEST(RepairComServerPaths, RewritesEveryRowWithItsOwnCase)
{
    const struct {
        uint32_t versionCode;
        const wchar_t* fourthClassServer;
    } generations[] = {
        {0x00000061u, L"%SystemRoot%\\system32\\shell32.dll"},
        {0x80000060u, L"%SystemRoot%\\system32\\shell32.dll"},
        {0x00000051u, L"%SystemRoot%\\system32\\shdocvw.dll"},
        {0x80000052u, L"%SystemRoot%\\system32\\shdocvw.dll"},
    };
    for (const auto& generation : generations) {
        SCOPED_TRACE(testing::Message() << std::hex << generation.versionCode);
        RemoveRowKeys();
        for (const Row& row : kRows) StoreValue(row.root, row.subKey, nullptr, REG_SZ, Utf16(L"planted.dll"));
        LogCapture capture;
        RepairComServerPaths(generation.versionCode);

        // HKCR and HKLM\Software\Classes are one key here, so every second
        // row of a class reads what the first one wrote.
        Lines expected;
        for (size_t i = 0; i < 8; ++i) {
            const std::wstring key = std::wstring(kRows[i].rootName) + L"\\" + kRows[i].subKey;
            const wchar_t* data = i < 6 ? kRowData[i] : generation.fourthClassServer;
            const bool sharesTheKeyBefore = i == 1 || i == 3 || i == 5;
            expected.push_back(L"info: Current registry value  " + key + L" " +
                               (sharesTheKeyBefore ? data : L"planted.dll"));
            expected.push_back(L"info: New registry value  " + key + L" " + data);
        }
        EXPECT_EQ(expected, capture.Lines());
        for (size_t i = 0; i < 8; ++i) {
            const StoredValue stored = ReadStoredValue(kRows[i].root, kRows[i].subKey, nullptr);
            EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), stored.type) << i;
            EXPECT_EQ(Utf16(i < 6 ? kRowData[i] : generation.fourthClassServer), stored.bytes) << i;
        }
    }
}

}  // namespace
