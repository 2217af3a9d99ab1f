// The COM server repair: the line format, one repair on scratch keys (values
// of any length, keys locked against the administrators), and the eight real
// rows with their exact case in a throw-away prefix.
#include "registry/ComServerRepair.h"

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

TEST(ReplaceDefaultValue, LogsTheOldAndTheNewValue)
{
    const std::wstring key = FreshScratchPath(HKEY_CURRENT_USER, L"ComReplace");
    const struct {
        const wchar_t* current;
        Bytes stored;
    } cases[] = {
        {L"C:\\planted\\evil.dll", Utf16(L"C:\\planted\\evil.dll")},
        {kNewData, Utf16(kNewData)},  // already right: rewritten all the same
        {L"\"\"", Utf16(L"")},
        {L"abc", Utf16(L"abc", false)},  // stored without its NUL
        {L"x", {'x', 0, 'y'}},            // odd length: the half character is cut
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.current));
        StoreValue(HKEY_CURRENT_USER, key, nullptr, REG_SZ, c.stored);
        LogCapture capture;
        ReplaceDefaultValue(kNewData, HKEY_CURRENT_USER, key.c_str());
        EXPECT_EQ((Lines{Current(key, c.current), New(key)}), capture.Lines());
        const StoredValue stored = ReadStoredValue(HKEY_CURRENT_USER, key, nullptr);
        EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), stored.type);
        EXPECT_EQ(Utf16(kNewData), stored.bytes);
    }
}

TEST(ReplaceDefaultValue, ReadsTheCurrentValueAtAnyLength)
{
    // A planted path longer than any fixed buffer must not hide the hijack.
    const std::wstring key = FreshScratchPath(HKEY_CURRENT_USER, L"ComLong");
    for (size_t length : {258u, 259u, 260u, 300u, 5000u}) {
        SCOPED_TRACE(length);
        const std::wstring planted(length, L'p');
        StoreValue(HKEY_CURRENT_USER, key, nullptr, REG_SZ, Utf16(planted));
        LogCapture capture;
        ReplaceDefaultValue(kNewData, HKEY_CURRENT_USER, key.c_str());
        EXPECT_EQ((Lines{Current(key, planted), New(key)}), capture.Lines());
        EXPECT_EQ(Utf16(kNewData), ReadStoredValue(HKEY_CURRENT_USER, key, nullptr).bytes);
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

// The backup-and-restore open as a test sees it: each call with the
// privileges' state at that moment. A call with REG_OPTION_BACKUP_RESTORE
// and both privileges enabled gets the handle the test prepared, as Windows
// would give one past the key's DACL; anything else is refused, as Wine does.
struct BackupRestoreCall {
    DWORD options;
    REGSAM access;
    bool backupEnabled;
    bool restoreEnabled;
};
std::vector<BackupRestoreCall> backupRestoreCalls;
HKEY handleForBackupRestore = nullptr;

LONG WINAPI RecordingCreateKeyW(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES,
                                PHKEY key, LPDWORD)
{
    const BackupRestoreCall call = {options, access, TokenPrivilegeEnabled(L"SeBackupPrivilege"),
                                    TokenPrivilegeEnabled(L"SeRestorePrivilege")};
    backupRestoreCalls.push_back(call);
    if ((options & REG_OPTION_BACKUP_RESTORE) == 0 || !call.backupEnabled || !call.restoreEnabled ||
        handleForBackupRestore == nullptr)
        return ERROR_ACCESS_DENIED;
    *key = handleForBackupRestore;
    handleForBackupRestore = nullptr;
    return ERROR_SUCCESS;
}

const BackupRestoreCalls kRecordingCalls = {RecordingCreateKeyW, RegCreateKeyExA};

const char kFullAccess[] = "O:BAG:SYD:P(A;;KA;;;SY)(A;;KA;;;BA)";
// Query and set value (CC, DC) and no more, as a hijacked key may grant.
const char kQueryAndSetOnly[] = "O:BAG:SYD:P(A;;KA;;;SY)(A;;CCDC;;;BA)";
// Read only: even the repair's own open is refused.
const char kReadOnly[] = "O:BAG:SYD:P(A;;KA;;;SY)(A;;KR;;;BA)";

class LockedComKeyTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SetTokenPrivilege(L"SeBackupPrivilege", false));
        ASSERT_TRUE(SetTokenPrivilege(L"SeRestorePrivilege", false));
        backupRestoreCalls.clear();
        handleForBackupRestore = nullptr;
        key_ = FreshScratchPath(HKEY_LOCAL_MACHINE, L"ComLocked");
        StoreValue(HKEY_LOCAL_MACHINE, key_, nullptr, REG_SZ, Utf16(L"C:\\planted\\evil.dll"));
    }
    void TearDown() override
    {
        if (handleForBackupRestore != nullptr) RegCloseKey(handleForBackupRestore);
        SetKeySecurityString(HKEY_LOCAL_MACHINE, key_, kFullAccess);  // so the next test can delete it
    }
    // Locks the key with `sddl`; `keep` receives a handle opened for full
    // access before, which keeps that access.
    void Lock(const char* sddl, HKEY* keep = nullptr)
    {
        if (keep != nullptr) {
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0,
                                                   KEY_ALL_ACCESS | KEY_WOW64_64KEY, keep));
        }
        SetKeySecurityString(HKEY_LOCAL_MACHINE, key_, sddl);
        ASSERT_EQ(sddl, KeySecurityString(HKEY_LOCAL_MACHINE, key_));
    }
    std::wstring Line(const wchar_t* caption, const std::wstring& value) const
    {
        return std::wstring(caption) + L"HKLM\\" + key_ + L" " + value;
    }

    std::wstring key_;
};

const wchar_t kCurrent[] = L"info: Current registry value  ";
const wchar_t kNew[] = L"info: New registry value  ";
const REGSAM kRepairAccess = KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY;

TEST_F(LockedComKeyTest, AKeyGrantingOnlyQueryAndSetValueIsRepaired)
{
    Lock(kQueryAndSetOnly);
    LogCapture capture;
    ReplaceDefaultValue(kNewData, HKEY_LOCAL_MACHINE, key_.c_str(), kRecordingCalls);
    EXPECT_EQ((Lines{Line(kCurrent, L"C:\\planted\\evil.dll"), Line(kNew, kNewData)}), capture.Lines());
    EXPECT_EQ(Utf16(kNewData), ReadStoredValue(HKEY_LOCAL_MACHINE, key_, nullptr).bytes);
    EXPECT_EQ(kQueryAndSetOnly, KeySecurityString(HKEY_LOCAL_MACHINE, key_));
    EXPECT_TRUE(backupRestoreCalls.empty()) << "no privileged open where the plain one serves";
}

TEST_F(LockedComKeyTest, ARefusedOpenIsFollowedByTheBackupRestoreOpen)
{
    HKEY keep = nullptr;
    Lock(kReadOnly, &keep);
    handleForBackupRestore = keep;
    LogCapture capture;
    ReplaceDefaultValue(kNewData, HKEY_LOCAL_MACHINE, key_.c_str(), kRecordingCalls);

    ASSERT_EQ(1u, backupRestoreCalls.size());
    const BackupRestoreCall& call = backupRestoreCalls[0];
    EXPECT_EQ(static_cast<DWORD>(REG_OPTION_BACKUP_RESTORE), call.options);
    EXPECT_EQ(kRepairAccess, call.access);
    EXPECT_TRUE(call.backupEnabled);
    EXPECT_TRUE(call.restoreEnabled);
    EXPECT_FALSE(TokenPrivilegeEnabled(L"SeBackupPrivilege")) << "enabled for the open only";
    EXPECT_FALSE(TokenPrivilegeEnabled(L"SeRestorePrivilege")) << "enabled for the open only";

    EXPECT_EQ((Lines{Line(kCurrent, L"C:\\planted\\evil.dll"), Line(kNew, kNewData)}), capture.Lines());
    EXPECT_EQ(Utf16(kNewData), ReadStoredValue(HKEY_LOCAL_MACHINE, key_, nullptr).bytes);
    EXPECT_EQ(kReadOnly, KeySecurityString(HKEY_LOCAL_MACHINE, key_));
}

// Wine ignores REG_OPTION_BACKUP_RESTORE: no route opens the key, which is
// reported as before and keeps its value and its security.
TEST_F(LockedComKeyTest, AKeyNoRouteOpensIsReported)
{
    Lock(kReadOnly);
    LogCapture capture;
    ReplaceDefaultValue(kNewData, HKEY_LOCAL_MACHINE, key_.c_str());
    EXPECT_EQ(Lines{Line(L"info: Failed to open registry key ", L"")}, capture.Lines());
    EXPECT_EQ(Utf16(L"C:\\planted\\evil.dll"), ReadStoredValue(HKEY_LOCAL_MACHINE, key_, nullptr).bytes);
    EXPECT_EQ(kReadOnly, KeySecurityString(HKEY_LOCAL_MACHINE, key_));
    EXPECT_FALSE(TokenPrivilegeEnabled(L"SeBackupPrivilege"));
    EXPECT_FALSE(TokenPrivilegeEnabled(L"SeRestorePrivilege"));
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
