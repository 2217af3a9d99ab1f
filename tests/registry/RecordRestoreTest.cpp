// One record restored into scratch keys: the key (also one whose security
// refuses the record's open), its security and its values, with the exact
// log lines in order.
#include "registry/RecordRestore.h"

#include "KeySecurityModel.h"
#include "RegistryTestKeys.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::wstring>;

const char kAdminsAndSystem[] = "O:BAG:SYD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)";

KnownGoodRecord Record(HKEY root, const std::string& keyPath, const wchar_t* lines, uint32_t keepExisting = 0,
                       const char* sddl = kAdminsAndSystem)
{
    return KnownGoodRecord{0, keepExisting, root, keyPath.c_str(), sddl, lines};
}

std::wstring Creating(const std::wstring& rootAndPath, const wchar_t* outcome)
{
    return L"info: Creating " + rootAndPath + L" - " + outcome;
}

// The pass enables SeSecurityPrivilege before any record: without it an
// existing key does not open with its audit list.
class RestoreRecordTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SetTokenPrivilege(L"SeSecurityPrivilege", true)); }
};

TEST_F(RestoreRecordTest, ReportsHowTheKeyWasReached)
{
    const std::wstring path = FreshScratchPath(HKEY_LOCAL_MACHINE, L"KeyOutcome") + L"\\Parent\\Child";
    const std::string narrow = Narrow(path);
    LogCapture capture;

    // Missing parents are created with the key; a record without lines
    // logs only the key and the security step.
    RestoreRecord(Record(HKEY_LOCAL_MACHINE, narrow, L""));
    RestoreRecord(Record(HKEY_LOCAL_MACHINE, narrow, L""));
    RestoreRecord(Record(HKEY_CURRENT_USER, Narrow(FreshScratchPath(HKEY_CURRENT_USER, L"KeyOutcome")), L""));
    // A root the prefix table does not know is named by nothing.
    RestoreRecord(Record(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234)), "Software\\X",
                         L"\"A\"=dword:00000001\0"));

    EXPECT_EQ((Lines{
                  Creating(L"HKLM\\" + path, L"created new"),
                  L"info: Successfully set security information",
                  Creating(L"HKLM\\" + path, L"opened existing"),
                  L"info: Successfully set security information",
                  Creating(L"HKCU\\Software\\VornRegistryTest\\KeyOutcome", L"created new"),
                  L"info: Successfully set security information",
                  Creating(L"Software\\X", L"failed"),
              }),
              capture.Lines());
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, path));
}

TEST_F(RestoreRecordTest, SetsOwnerGroupAndProtectedDacl)
{
    const std::wstring path = FreshScratchPath(HKEY_LOCAL_MACHINE, L"Security");
    const char sddl[] = "O:SYG:SYD:P(A;CI;KA;;;SY)(A;CI;KR;;;BU)(A;CI;KA;;;BA)";
    RestoreRecord(Record(HKEY_LOCAL_MACHINE, Narrow(path), L"", 0, sddl));
    EXPECT_EQ(sddl, KeySecurityString(HKEY_LOCAL_MACHINE, path));
}

TEST_F(RestoreRecordTest, RestoresValuesWhenTheSecurityStringIsRejected)
{
    const std::wstring path = FreshScratchPath(HKEY_LOCAL_MACHINE, L"BadSddl");
    LogCapture capture;
    RestoreRecord(Record(HKEY_LOCAL_MACHINE, Narrow(path), L"\"Count\"=dword:00000001\0", 0, "O:BAG:SYD:(nonsense"));
    EXPECT_EQ((Lines{
                  Creating(L"HKLM\\" + path, L"created new"),
                  L"info: Failed to parse security descriptor",
                  L"info: Writing value \"Count\", current doesn't exist",
                  L"info: ... success",
              }),
              capture.Lines());
    EXPECT_EQ(DwordBytes(1), ReadStoredValue(HKEY_LOCAL_MACHINE, path, L"Count").bytes);
}

TEST_F(RestoreRecordTest, KeepsTheFirstHandleWhenTheNewSecurityForbidsReopening)
{
    const std::wstring path = FreshScratchPath(HKEY_LOCAL_MACHINE, L"ReadOnlyDacl");
    // The administrators may only read the key once this is set.
    const char readOnlyForAdmins[] = "O:BAG:SYD:P(A;;KA;;;SY)(A;;KR;;;BA)";
    LogCapture capture;
    RestoreRecord(Record(HKEY_LOCAL_MACHINE, Narrow(path), L"\"Start\"=dword:00000002\0\"Name\"=\"bits\"\0", 0,
                         readOnlyForAdmins));

    HKEY reopened = nullptr;
    ASSERT_EQ(ERROR_ACCESS_DENIED,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &reopened))
        << "the key should no longer open for full access";
    EXPECT_EQ((Lines{
                  Creating(L"HKLM\\" + path, L"created new"),
                  L"info: Successfully set security information",
                  L"info: Writing value \"Start\", current doesn't exist",
                  L"info: ... success",
                  L"info: Writing value \"Name\", current doesn't exist",
                  L"info: ... success",
              }),
              capture.Lines());
    EXPECT_EQ(DwordBytes(2), ReadStoredValue(HKEY_LOCAL_MACHINE, path, L"Start").bytes);
    EXPECT_EQ(Utf16(L"bits"), ReadStoredValue(HKEY_LOCAL_MACHINE, path, L"Name").bytes);
}

// What is stored before the record runs, and what must be stored after.
struct ValueCase {
    const wchar_t* name;
    bool present;
    DWORD storedType;
    Bytes stored;
    DWORD expectedType;
    Bytes expected;
};

TEST_F(RestoreRecordTest, WritesOnlyMissingOrDifferingValues)
{
    const std::wstring path = FreshScratchPath(HKEY_LOCAL_MACHINE, L"Values");
    const Bytes failureActions = {0x80, 0x51, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00,
                                  0x00, 0x14, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xc0, 0xd4, 0x01, 0x00, 0x01, 0x00,
                                  0x00, 0x00, 0xe0, 0x93, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const ValueCase cases[] = {
        {L"Missing", false, REG_NONE, {}, REG_DWORD, DwordBytes(0x20)},
        {L"Same", true, REG_DWORD, DwordBytes(3), REG_DWORD, DwordBytes(3)},
        // Equal bytes under another type match and keep their type.
        {L"OtherType", true, REG_EXPAND_SZ, Utf16(L"abc"), REG_EXPAND_SZ, Utf16(L"abc")},
        // Stored without its NUL: shorter than the known-good form.
        {L"NoNul", true, REG_SZ, Utf16(L"abc", false), REG_SZ, Utf16(L"abc")},
        {L"Differs", true, REG_DWORD, DwordBytes(4), REG_DWORD, DwordBytes(2)},
        {L"FailureActions", true, REG_BINARY, {0x01}, REG_BINARY, failureActions},
        {L"Empty", true, REG_BINARY, {0x01}, REG_BINARY, {}},
    };
    for (const ValueCase& c : cases) {
        if (c.present) StoreValue(HKEY_LOCAL_MACHINE, path, c.name, c.storedType, c.stored);
    }
    const wchar_t block[] =
        L"\"Missing\"=dword:00000020\0"
        L"\"Same\"=dword:00000003\0"
        L"\"OtherType\"=\"abc\"\0"
        L"\"NoNul\"=\"abc\"\0"
        L"@=\"rejected\"\0"
        L"\"Differs\"=dword:00000002\0"
        L"\"FailureActions\"=hex:80,51,01,00,00,00,00,00,00,00,00,00,03,00,00,00,14,00,00,00,01,00,00,00,c0,d4,01,00,"
        L"01,00,00,00,e0,93,04,00,00,00,00,00,00,00,00,00\0"
        L"\"Empty\"=hex:\0";

    LogCapture capture;
    RestoreRecord(Record(HKEY_LOCAL_MACHINE, Narrow(path), block));
    EXPECT_EQ((Lines{
                  Creating(L"HKLM\\" + path, L"opened existing"),
                  L"info: Successfully set security information",
                  L"info: Writing value \"Missing\", current doesn't exist",
                  L"info: ... success",
                  L"info: Value \"Same\" matches known good one, skipping update",
                  L"info: Value \"OtherType\" matches known good one, skipping update",
                  L"info: Updating value \"NoNul\", current value differs from known good one",
                  L"info: ... success",
                  L"info: Failed to parse value entry, skipping.",
                  L"info: Updating value \"Differs\", current value differs from known good one",
                  L"info: ... success",
                  L"info: Updating value \"FailureActions\", current value differs from known good one",
                  L"info: ... success",
                  L"info: Updating value \"Empty\", current value differs from known good one",
                  L"info: ... success",
              }),
              capture.Lines());
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        const StoredValue stored = ReadStoredValue(HKEY_LOCAL_MACHINE, path, c.name);
        ASSERT_TRUE(stored.exists);
        EXPECT_EQ(c.expectedType, stored.type);
        EXPECT_EQ(c.expected, stored.bytes);
    }

    // A second pass over the same record finds everything in place.
    capture.Clear();
    RestoreRecord(Record(HKEY_LOCAL_MACHINE, Narrow(path), block));
    Lines second = {Creating(L"HKLM\\" + path, L"opened existing"), L"info: Successfully set security information"};
    for (const wchar_t* name : {L"Missing", L"Same", L"OtherType", L"NoNul"})
        second.push_back(std::wstring(L"info: Value \"") + name + L"\" matches known good one, skipping update");
    second.push_back(L"info: Failed to parse value entry, skipping.");
    for (const wchar_t* name : {L"Differs", L"FailureActions", L"Empty"})
        second.push_back(std::wstring(L"info: Value \"") + name + L"\" matches known good one, skipping update");
    EXPECT_EQ(second, capture.Lines());
}

TEST_F(RestoreRecordTest, KeepExistingLeavesDifferentValuesAndWritesMissingOnes)
{
    const std::wstring path = FreshScratchPath(HKEY_LOCAL_MACHINE, L"KeepExisting");
    StoreValue(HKEY_LOCAL_MACHINE, path, L"Rule-1", REG_SZ, Utf16(L"v2.10|Action=Allow|"));
    LogCapture capture;
    RestoreRecord(Record(HKEY_LOCAL_MACHINE, Narrow(path),
                         L"\"Rule-1\"=\"v2.0|Action=Block|\"\0\"Rule-2\"=\"v2.0|Dir=In|\"\0", 1));
    EXPECT_EQ((Lines{
                  Creating(L"HKLM\\" + path, L"opened existing"),
                  L"info: Successfully set security information",
                  L"info: Value \"Rule-1\" doesn't need updating",
                  L"info: Writing value \"Rule-2\", current doesn't exist",
                  L"info: ... success",
              }),
              capture.Lines());
    EXPECT_EQ(Utf16(L"v2.10|Action=Allow|"), ReadStoredValue(HKEY_LOCAL_MACHINE, path, L"Rule-1").bytes);
    EXPECT_EQ(Utf16(L"v2.0|Dir=In|"), ReadStoredValue(HKEY_LOCAL_MACHINE, path, L"Rule-2").bytes);
}

TEST_F(RestoreRecordTest, ExistingKeyFailsWithoutTheSecurityPrivilege)
{
    const std::wstring path = FreshScratchPath(HKEY_LOCAL_MACHINE, L"NoPrivilege");
    // A key that carries its own security, as the service keys do.
    RestoreRecord(Record(HKEY_LOCAL_MACHINE, Narrow(path), L""));
    StoreValue(HKEY_LOCAL_MACHINE, path, L"Start", REG_DWORD, DwordBytes(4));
    ASSERT_TRUE(SetTokenPrivilege(L"SeSecurityPrivilege", false));
    LogCapture capture;
    RestoreRecord(Record(HKEY_LOCAL_MACHINE, Narrow(path), L"\"Start\"=dword:00000002\0"));
    ASSERT_TRUE(SetTokenPrivilege(L"SeSecurityPrivilege", true));
    EXPECT_EQ(Lines{Creating(L"HKLM\\" + path, L"failed")}, capture.Lines());
    EXPECT_EQ(DwordBytes(4), ReadStoredValue(HKEY_LOCAL_MACHINE, path, L"Start").bytes);
}

// The table's security for BITS\Parameters from Vista on: the administrators
// own the key but may not set its values.
const char kBitsParameters[] =
    "O:BAG:BAD:PAI(A;;KA;;;SY)(A;CIIO;GA;;;SY)(A;;CCSWRPWPRC;;;BA)(A;CIIO;GXGR;;;BA)(A;;CCSWRPWPRC;;;BU)"
    "(A;CIIO;GXGR;;;BU)S:AI(AU;SAFA;WDWO;;;BA)";
const wchar_t kServiceDllLine[] =
    L"\"ServiceDll\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,25,00,5c,00,53,00,79,"
    L"00,73,00,74,00,65,00,6d,00,33,00,32,00,5c,00,71,00,6d,00,67,00,72,00,2e,00,64,00,6c,00,6c,00,00,00\0";
const wchar_t kServiceDll[] = L"%SystemRoot%\\System32\\qmgr.dll";
const char kAdminsFullAccess[] = "O:BAG:SYD:P(A;;KA;;;SY)(A;;KA;;;BA)";

// A service key that already carries the table's security, and a hijacked
// ServiceDll in it.
class LockedRecordTest : public RestoreRecordTest {
protected:
    void SetUp() override
    {
        RestoreRecordTest::SetUp();
        ASSERT_TRUE(SetTokenPrivilege(L"SeTakeOwnershipPrivilege", false));
        ASSERT_TRUE(SetTokenPrivilege(L"SeRestorePrivilege", false));
        path_ = FreshScratchPath(HKEY_LOCAL_MACHINE, L"BitsParameters");
        StoreValue(HKEY_LOCAL_MACHINE, path_, L"ServiceDll", REG_EXPAND_SZ, Utf16(L"C:\\planted\\evil.dll"));
    }
    void TearDown() override { SetKeySecurityString(HKEY_LOCAL_MACHINE, path_, kAdminsFullAccess); }

    // Sets the table's security; returns it as the registry reports it.
    std::string Lock()
    {
        SetKeySecurityString(HKEY_LOCAL_MACHINE, path_, kBitsParameters);
        HKEY full = nullptr;
        EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0,
                                                     KEY_ALL_ACCESS | KEY_WOW64_64KEY, &full))
            << "the table's security refuses the record's open";
        return KeySecurityString(HKEY_LOCAL_MACHINE, path_);
    }
    KnownGoodRecord BitsRecord() const
    {
        narrow_ = Narrow(path_);
        return KnownGoodRecord{0, 0, HKEY_LOCAL_MACHINE, narrow_.c_str(), kBitsParameters, kServiceDllLine};
    }
    Lines Restored() const
    {
        return {Creating(L"HKLM\\" + path_, L"opened existing"), L"info: Successfully set security information",
                L"info: Updating value \"ServiceDll\", current value differs from known good one",
                L"info: ... success"};
    }

    std::wstring path_;
    mutable std::string narrow_;
};

TEST_F(LockedRecordTest, TheOwnersRightOpensAKeyThatRefusesTheRecord)
{
    const std::string tableSecurity = Lock();
    ASSERT_NE("", tableSecurity);

    // The open alone leaves the key's security as it found it.
    {
        bool createdNew = true;
        ScopedRegKey key = OpenRecordKey(HKEY_LOCAL_MACHINE, Narrow(path_).c_str(), &createdNew);
        ASSERT_TRUE(key.IsValid());
        EXPECT_FALSE(createdNew);
        EXPECT_EQ(tableSecurity, KeySecurityString(HKEY_LOCAL_MACHINE, path_));
    }

    LogCapture capture;
    RestoreRecord(BitsRecord());
    EXPECT_EQ(Restored(), capture.Lines());
    EXPECT_EQ(Utf16(kServiceDll), ReadStoredValue(HKEY_LOCAL_MACHINE, path_, L"ServiceDll").bytes);
    EXPECT_EQ(tableSecurity, KeySecurityString(HKEY_LOCAL_MACHINE, path_));
}

// A service key owned by SYSTEM whose DACL lets the administrators only read
// it (an installer's key, a rootkit's lock), under the models of Windows'
// owner and take-ownership rules.
class ModelledLockTest : public RestoreRecordTest {
protected:
    static std::wstring TestName()
    {
        const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        return std::wstring(name.begin(), name.end());
    }
    void SetUp() override
    {
        RestoreRecordTest::SetUp();
        ResetKeySecurityModel();
        ASSERT_TRUE(SetTokenPrivilege(L"SeTakeOwnershipPrivilege", false));
        ASSERT_TRUE(SetTokenPrivilege(L"SeRestorePrivilege", false));
        path_ = FreshScratchPath(HKEY_LOCAL_MACHINE, name_);
        narrow_ = Narrow(path_);
        StoreValue(HKEY_LOCAL_MACHINE, path_, L"ServiceDll", REG_EXPAND_SZ, Utf16(L"C:\\planted\\evil.dll"));
        ModelKeyBeforeLock(HKEY_LOCAL_MACHINE, path_);
        SetKeySecurityString(HKEY_LOCAL_MACHINE, path_, kLocked);
        ASSERT_EQ(kLocked, KeySecurityString(HKEY_LOCAL_MACHINE, path_));
    }
    void TearDown() override { ResetKeySecurityModel(); }

    KnownGoodRecord BitsRecord() const
    {
        return KnownGoodRecord{0, 0, HKEY_LOCAL_MACHINE, narrow_.c_str(), kBitsParameters, kServiceDllLine};
    }
    bool InThe32BitView() const
    {
        return KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\VornRegistryTest\\" + name_);
    }

    static constexpr const char* kLocked = "O:SYG:SYD:P(A;;KA;;;SY)(A;;KR;;;BA)";
    // A key of its own per test: the last one stays locked.
    std::wstring name_ = L"Locked" + TestName();
    std::wstring path_;
    std::string narrow_;
};

TEST_F(ModelledLockTest, TheRouteReachesTheKeyInItsOwnViewAndTheTableSecurityIsSet)
{
    // The table's security as the registry reports it once set.
    const std::wstring reference = FreshScratchPath(HKEY_LOCAL_MACHINE, L"BitsReference");
    StoreValue(HKEY_LOCAL_MACHINE, reference, L"X", REG_DWORD, DwordBytes(1));
    SetKeySecurityString(HKEY_LOCAL_MACHINE, reference, kBitsParameters);
    const std::string tableSecurity = KeySecurityString(HKEY_LOCAL_MACHINE, reference);

    LogCapture capture;
    RestoreRecord(BitsRecord(), ModelledKeySecurityCalls());
    EXPECT_EQ((Lines{Creating(L"HKLM\\" + path_, L"opened existing"), L"info: Successfully set security information",
                     L"info: Updating value \"ServiceDll\", current value differs from known good one",
                     L"info: ... success"}),
              capture.Lines());
    EXPECT_EQ(Utf16(kServiceDll), ReadStoredValue(HKEY_LOCAL_MACHINE, path_, L"ServiceDll").bytes);
    EXPECT_EQ(tableSecurity, KeySecurityString(HKEY_LOCAL_MACHINE, path_));
    EXPECT_TRUE(ModelRefusedOwners().empty());
    EXPECT_FALSE(InThe32BitView());
    EXPECT_TRUE(RoutePrivilegesOff()) << "enabled for the route only";
}

// Putting back an owner of another account needs SeRestorePrivilege: when
// that is refused, the route reports it and hands out no handle; the DACL is
// the key's own again.
TEST_F(ModelledLockTest, AnOwnerThatCannotBePutBackFailsTheOpen)
{
    ModelRestorePrivilegeHeld(false);
    LogCapture capture;
    RestoreRecord(BitsRecord(), ModelledKeySecurityCalls());
    EXPECT_EQ((Lines{L"info: Failed to put back the security of a locked key",
                     Creating(L"HKLM\\" + path_, L"failed")}),
              capture.Lines());
    EXPECT_EQ(Utf16(L"C:\\planted\\evil.dll"), ReadStoredValue(HKEY_LOCAL_MACHINE, path_, L"ServiceDll").bytes);
    EXPECT_EQ("O:BAG:SYD:P(A;;KA;;;SY)(A;;KR;;;BA)", KeySecurityString(HKEY_LOCAL_MACHINE, path_));
    EXPECT_EQ(std::vector<std::string>{"S-1-5-18"}, ModelRefusedOwners());
}

TEST_F(RestoreRecordTest, AKeyNoRouteOpensIsReportedAndKept)
{
    // Owned by SYSTEM and read-only for the administrators: Wine does not
    // let SeTakeOwnershipPrivilege grant WRITE_OWNER, so no route opens it.
    // The key stays locked in this throw-away prefix.
    const std::wstring path = FreshScratchPath(HKEY_LOCAL_MACHINE, L"NoRoute");
    StoreValue(HKEY_LOCAL_MACHINE, path, L"ServiceDll", REG_EXPAND_SZ, Utf16(L"C:\\planted\\evil.dll"));
    const char locked[] = "O:SYG:SYD:P(A;;KA;;;SY)(A;;KR;;;BA)";
    SetKeySecurityString(HKEY_LOCAL_MACHINE, path, locked);
    ASSERT_EQ(locked, KeySecurityString(HKEY_LOCAL_MACHINE, path));
    LogCapture capture;
    RestoreRecord(Record(HKEY_LOCAL_MACHINE, Narrow(path), kServiceDllLine, 0, kBitsParameters));
    EXPECT_EQ(Lines{Creating(L"HKLM\\" + path, L"failed")}, capture.Lines());
    EXPECT_EQ(Utf16(L"C:\\planted\\evil.dll"), ReadStoredValue(HKEY_LOCAL_MACHINE, path, L"ServiceDll").bytes);
    EXPECT_EQ(locked, KeySecurityString(HKEY_LOCAL_MACHINE, path));
}

TEST(RestoreValue, ReportsAFailedWrite)
{
    const std::wstring path = FreshScratchPath(HKEY_LOCAL_MACHINE, L"WriteFails");
    StoreValue(HKEY_LOCAL_MACHINE, path, L"Start", REG_DWORD, DwordBytes(4));
    HKEY readOnly = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &readOnly));
    LogCapture capture;
    RestoreValue(L"\"Start\"=dword:00000002", readOnly, 0);
    RestoreValue(L"\"Type\"=dword:00000020", readOnly, 0);
    RegCloseKey(readOnly);
    EXPECT_EQ((Lines{
                  L"info: Updating value \"Start\", current value differs from known good one",
                  L"info: ... failed",
                  L"info: Writing value \"Type\", current doesn't exist",
                  L"info: ... failed",
              }),
              capture.Lines());
    EXPECT_EQ(DwordBytes(4), ReadStoredValue(HKEY_LOCAL_MACHINE, path, L"Start").bytes);
}

}  // namespace
