// The run's registry backup: `reg import` of the file puts back the very type
// and bytes the run replaced, removes what it added, at every moment of the
// run; nothing that could not be read is recorded; and the file is made once
// per run, never over another, and not at all when nothing changed.
#include "registry/ComServerRepair.h"
#include "registry/RecordRestore.h"
#include "registry/RegistryBackup.h"
#include "registry/RegistryValueRead.h"
#include "registry/RestartRegistration.h"

#include "BackupScenario.h"
#include "RegistryTestKeys.h"
#include "support/LogCapture.h"
#include "win/ScopedHandle.h"
#include "win/Wow64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::wstring>;

Bytes Sequence(size_t size)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

TEST(RegistryBackup, ImportPutsBackEveryTypeByteForByteAndRemovesWhatWasAdded)
{
    struct Case {
        const wchar_t* name;
        DWORD type;
        Bytes bytes;
        bool wineAddsNul;
    } cases[] = {
        {L"text \"quoted\" \\ back\\slashed", REG_SZ, Utf16(L"C:\\a \"b\" \\\\c\\ \x00e9\x4e2d\x0416")},
        {L"expand", REG_EXPAND_SZ, Utf16(L"%SystemRoot%\\system32\\svchost.exe -k netsvcs")},
        {L"multi", REG_MULTI_SZ, Utf16(std::wstring(L"RpcSs\0EventSystem\0\0", 19), false)},
        {L"dword", REG_DWORD, DwordBytes(0xDEADBEEF)},
        {L"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {L"binary empty", REG_BINARY, {}},
        {L"binary 64 KiB", REG_BINARY, Sequence(65536)},
        {L"odd-length string", REG_SZ, {'a', 0, 'b', 0, 'c'}, true},
        {L"string without NUL", REG_SZ, Utf16(L"abc", false), true},
        {L"string with a line break", REG_SZ, Utf16(L"two\r\nlines")},
        {L"dword of three bytes", REG_DWORD, {1, 2, 3}},
        {L"none", REG_NONE, {9}},
        {L"planted type 0x20", 0x20, {'M', 'Z', 0, 0x90}},
        {nullptr, REG_SZ, Utf16(L"the default value")},
    };
    const std::wstring key = FreshScratchPath(HKEY_CURRENT_USER, L"BackupTypes");
    BackupDirectory directory;
    LogCapture capture;
    BeginRegistryBackup(RunStart(15));
    for (const Case& c : cases) {
        BackUpValue(nullptr, HKEY_CURRENT_USER, key.c_str(), c.name, c.type, c.bytes.empty() ? nullptr : c.bytes.data(),
                    static_cast<DWORD>(c.bytes.size()));
        // What the run then writes in its place.
        StoreValue(HKEY_CURRENT_USER, key, c.name, REG_DWORD, DwordBytes(0));
    }
    BackUpMissingValue(nullptr, HKEY_CURRENT_USER, key.c_str(), L"added by the run");
    StoreValue(HKEY_CURRENT_USER, key, L"added by the run", REG_SZ, Utf16(L"new"));
    EndRegistryBackup();

    const std::wstring name = L"Registry backup 2026.12.10 13-04-15.reg";
    ASSERT_EQ((Lines{L"info: Registry backup (incomplete until the run ends): "
                     L"Registry backup 2026.12.10 13-04-15 (incomplete).reg",
                     L"info: Registry backup: " + name}),
              capture.Lines());
    ASSERT_EQ(0, ImportScript(directory.File(name)));
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.name != nullptr ? c.name : L"(default)"));
        const StoredValue stored = ReadStoredValue(HKEY_CURRENT_USER, key, c.name);
        EXPECT_TRUE(stored.exists);
        EXPECT_EQ(c.type, stored.type);
        if (c.wineAddsNul) {
            // Wine's registry rewrites string data without a whole final NUL
            // when reg.exe sets it (Windows keeps the bytes as given): the
            // script's exact bytes are checked below instead.
            std::printf("[ NOTE     ] %s: read back through Wine's string handling, script checked\n",
                        Narrow(c.name).c_str());
        } else {
            EXPECT_TRUE(c.bytes == stored.bytes) << c.bytes.size() << " bytes, read back " << stored.bytes.size();
        }
    }
    EXPECT_FALSE(ReadStoredValue(HKEY_CURRENT_USER, key, L"added by the run").exists);

    const std::wstring script = ScriptText(directory.File(name));
    EXPECT_NE(std::wstring::npos, script.find(L"\r\n\"odd-length string\"=hex(1):61,00,62,00,63\r\n"));
    EXPECT_NE(std::wstring::npos, script.find(L"\r\n\"string without NUL\"=hex(1):61,00,62,00,63,00\r\n"));
    EXPECT_NE(std::wstring::npos, script.find(L"\r\n\"planted type 0x20\"=hex(20):4d,5a,00,90\r\n"));
    EXPECT_NE(std::wstring::npos, script.find(L"\r\n\"dword\"=dword:deadbeef\r\n"));
    EXPECT_NE(std::wstring::npos, script.find(L"\r\n\"added by the run\"=-\r\n"));
    EXPECT_EQ(0u, script.find(L"Windows Registry Editor Version 5.00\r\n\r\n"));
}

TEST(RegistryBackup, ImportRemovesTheKeysTheRunCreatedAndNoOther)
{
    const std::wstring key = FreshScratchPath(HKEY_CURRENT_USER, L"BackupKeys");
    StoreValue(HKEY_CURRENT_USER, key, L"kept", REG_DWORD, DwordBytes(1));
    BackupDirectory directory;
    LogCapture capture;
    BeginRegistryBackup(RunStart(16));
    for (const std::wstring& created : {key + L"\\New", key + L"\\New\\Deeper", key + L"\\Other\\Below"}) {
        BackUpKeyToBeCreated(HKEY_CURRENT_USER, Narrow(created).c_str());
        StoreValue(HKEY_CURRENT_USER, created, L"value", REG_DWORD, DwordBytes(2));
        BackUpValue(nullptr, HKEY_CURRENT_USER, created.c_str(), L"value", REG_DWORD, DwordBytes(3).data(), 4);
    }
    EndRegistryBackup();
    ASSERT_EQ(1u, directory.Files().size());
    ASSERT_EQ(0, ImportScript(directory.File(directory.Files()[0])));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, key));
    EXPECT_TRUE(ReadStoredValue(HKEY_CURRENT_USER, key, L"kept").exists);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key + L"\\New"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key + L"\\Other"));
    // Each removal is the outermost key that was missing, and what lies below
    // a created key is not recorded besides.
    const std::wstring script = ScriptText(directory.File(directory.Files()[0]));
    EXPECT_NE(std::wstring::npos, script.find(L"\\BackupKeys\\New]\r\n"));
    EXPECT_NE(std::wstring::npos, script.find(L"\\BackupKeys\\Other]\r\n"));
    EXPECT_EQ(std::wstring::npos, script.find(L"Deeper"));
    EXPECT_EQ(std::wstring::npos, script.find(L"\"value\"="));
}

// One file per run: a second run in the same second gets a sibling, a run
// without a change gets none, and nothing is written outside a run.
TEST(RegistryBackup, OneNewFilePerRunThatChangedSomething)
{
    const std::wstring key = FreshScratchPath(HKEY_CURRENT_USER, L"BackupNames");
    const BYTE one[] = {1};
    BackupDirectory directory;
    LogCapture capture;
    BackUpValue(nullptr, HKEY_CURRENT_USER, key.c_str(), L"outside a run", REG_BINARY, one, 1);
    for (int run = 0; run < 3; ++run) {
        BeginRegistryBackup(RunStart(17));
        BackUpValue(nullptr, HKEY_CURRENT_USER, key.c_str(), L"v", REG_BINARY, one, 1);
        EndRegistryBackup();
    }
    BeginRegistryBackup(RunStart(18));
    EndRegistryBackup();
    Lines finished;
    for (const std::wstring& line : capture.Lines())
        if (line.find(L"(incomplete") == std::wstring::npos)
            finished.push_back(line);
    EXPECT_EQ((Lines{L"info: Registry backup: Registry backup 2026.12.10 13-04-17.reg",
                     L"info: Registry backup: Registry backup 2026.12.10 13-04-17 (2).reg",
                     L"info: Registry backup: Registry backup 2026.12.10 13-04-17 (3).reg"}),
              finished);
    EXPECT_EQ(3u, directory.Files().size());
}

// A backup that cannot be written is said once; the steps go on.
TEST(RegistryBackup, AFileThatCannotBeMadeIsOneFailureLine)
{
    const std::wstring key = FreshScratchPath(HKEY_CURRENT_USER, L"BackupFails");
    const BYTE one[] = {1};
    BackupDirectory directory;
    ASSERT_TRUE(CreateDirectoryW(directory.File(L"Registry backup 2026.12.10 13-04-19.reg").c_str(), nullptr));
    LogCapture capture;
    BeginRegistryBackup(RunStart(19));
    BackUpValue(nullptr, HKEY_CURRENT_USER, key.c_str(), L"a", REG_BINARY, one, 1);
    BackUpMissingValue(nullptr, HKEY_CURRENT_USER, key.c_str(), L"b");
    BackUpKeyToBeCreated(HKEY_CURRENT_USER, "Software\\VornRegistryTest\\BackupFails\\c");
    EndRegistryBackup();
    EXPECT_EQ(Lines{L"info: Failed to write registry backup"}, capture.Lines());
    EXPECT_EQ(1u, directory.Files().size());
}

// The restart registration backs up the RunOnce value of its name as it was:
// an earlier one, or none, so that taking the run back takes it back too.
TEST(RegistryBackup, TheRestartRegistrationBacksUpWhatItReplaces)
{
    const wchar_t runOnce[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    for (bool earlier : {true, false}) {
        SCOPED_TRACE(earlier ? "an earlier value" : "no earlier value");
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, runOnce, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                                 &key, nullptr));
        RegDeleteValueW(key, L"TarnvexEVCleaner");
        RegCloseKey(key);
        if (earlier)
            StoreValue(HKEY_CURRENT_USER, runOnce, L"TarnvexEVCleaner", REG_SZ, Utf16(L"\"C:\\old.exe\" -r"));
        BackupDirectory directory;
        LogCapture capture;
        BeginRegistryBackup(RunStart(20));
        ASSERT_TRUE(RegisterRestartRunFor(L"C:\\new.exe"));
        EndRegistryBackup();
        const std::vector<std::wstring> files = directory.Files();
        ASSERT_EQ(1u, files.size());
        // The user's hive under its own name, as the registry names the key.
        const std::wstring script = ScriptText(directory.File(files[0]));
        const std::wstring line = earlier ? L"\"TarnvexEVCleaner\"=\"\\\"C:\\\\old.exe\\\" -r\"\r\n"
                                          : L"\"TarnvexEVCleaner\"=-\r\n";
        EXPECT_NE(std::wstring::npos, script.find(L"\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce]\r\n" + line))
            << Narrow(script);
        ASSERT_EQ(0, ImportScript(directory.File(files[0])));
        const StoredValue after = ReadStoredValue(HKEY_CURRENT_USER, runOnce, L"TarnvexEVCleaner");
        EXPECT_EQ(earlier, after.exists);
    }
}

// The moments at which a run may stop: right before and right after each
// write of the backup. At the chosen one, what is on disk is imported and the
// scenario's keys compared with their state before the run.
struct StopAt {
    int moment;
    const BackupDirectory* directory;
    RegistryState before;
    int seen = 0;
    bool reached = false;
    std::wstring file;
    std::string differences;
};

void ImportAtTheStop(void* context)
{
    StopAt& stop = *static_cast<StopAt*>(context);
    if (++stop.seen != stop.moment)
        return;
    stop.reached = true;
    const std::vector<std::wstring> files = stop.directory->Files();
    // No file yet: nothing has changed. A file that holds no entry yet does
    // not import, and nothing has changed either.
    if (files.size() == 1) {
        stop.file = files[0];
        ImportScript(stop.directory->File(files[0]));
    }
    stop.differences = Differences(stop.before, ScenarioState());
}

class StoppedRun : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SetTokenPrivilege(L"SeSecurityPrivilege", true)); }
    void TearDown() override { SetRegistryBackupObserver(nullptr, nullptr); }
};

// Whatever is on disk when the run stops takes it back: a value changed
// twice under the two names of one key gets its state before the run, keys the
// run created go, values it had not reached yet stay as they are.
TEST_F(StoppedRun, AtEveryMomentTheFileOnDiskImportsToTheStateBeforeTheRun)
{
    int moments = 0;
    for (int moment = 1; moment < 200; ++moment) {
        PrepareScenario();
        BackupDirectory directory;
        LogCapture capture;
        StopAt stop{moment, &directory, ScenarioState()};
        SetRegistryBackupObserver(ImportAtTheStop, &stop);
        BeginRegistryBackup(RunStart(30));
        RunScenario();
        EndRegistryBackup();
        SetRegistryBackupObserver(nullptr, nullptr);
        if (!stop.reached)
            break;
        moments = moment;
        EXPECT_EQ("", stop.differences) << "stopped at moment " << moment;
        // Until the run ends the file's name says that it is incomplete.
        if (!stop.file.empty()) {
            EXPECT_NE(std::wstring::npos, stop.file.find(L" (incomplete).reg")) << Narrow(stop.file);
        }
    }
    // Every entry written and flushed on its own (and the batches of the
    // restoration): more than a few moments.
    EXPECT_GT(moments, 12);

    // The whole run: its changes are there, and the complete file takes them
    // back, the value reached under two names recorded once.
    PrepareScenario();
    const RegistryState before = ScenarioState();
    BackupDirectory directory;
    LogCapture capture;
    BeginRegistryBackup(RunStart(31));
    RunScenario();
    EndRegistryBackup();
    EXPECT_NE("", Differences(before, ScenarioState()));
    ASSERT_EQ(Lines{L"Registry backup 2026.12.10 13-04-31.reg"}, directory.Files());
    const std::wstring file = directory.File(directory.Files()[0]);
    const std::wstring script = ScriptText(file);
    size_t defaults = 0;
    for (size_t at = script.find(L"Server\\InprocServer32]\r\n@="); at != std::wstring::npos;
         at = script.find(L"Server\\InprocServer32]\r\n@=", at + 1))
        ++defaults;
    EXPECT_EQ(1u, defaults) << Narrow(script);
    EXPECT_NE(std::wstring::npos, script.find(L"\r\n; Complete: every change of the run is in this file."));
    EXPECT_EQ(script.size() - 32, script.rfind(L"\r\n; End of the registry backup\r\n")) << Narrow(script);
    ASSERT_EQ(0, ImportScript(file));
    EXPECT_EQ("", Differences(before, ScenarioState()));
}

// A read the registry refuses (Windows refuses a handle without
// KEY_QUERY_VALUE with error 5) is never taken for a missing value.
LONG WINAPI RefusingQuery(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
{
    if (name == nullptr || wcscmp(name, L"Refused") == 0 || wcscmp(name, L"TarnvexEVCleaner") == 0)
        return ERROR_ACCESS_DENIED;
    return RegQueryValueExW(key, name, reserved, type, data, size);
}

TEST_F(StoppedRun, AValueThatCannotBeReadIsLeftAsItIsAndNotRecorded)
{
    const std::wstring path = FreshScratchPath(HKEY_LOCAL_MACHINE, L"Unreadable");
    const std::wstring runOnce = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    StoreValue(HKEY_LOCAL_MACHINE, path, L"Refused", REG_DWORD, DwordBytes(4));
    StoreValue(HKEY_LOCAL_MACHINE, path, nullptr, REG_SZ, Utf16(L"C:\\planted.dll"));
    StoreValue(HKEY_CURRENT_USER, runOnce, L"TarnvexEVCleaner", REG_SZ, Utf16(L"\"C:\\old.exe\" -r"));
    const std::string narrow = Narrow(path);
    const KnownGoodRecord record = {0, 0, HKEY_LOCAL_MACHINE, narrow.c_str(), "O:BAG:SYD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)",
                                    L"\"Refused\"=dword:00000002\0\"Readable\"=dword:00000003\0"};
    BackupDirectory directory;
    LogCapture capture;
    SetRegistryValueQuery(RefusingQuery);
    BeginRegistryBackup(RunStart(32));
    RestoreRecord(record);
    ReplaceDefaultValue(L"%systemroot%\\system32\\new.dll", HKEY_LOCAL_MACHINE, path.c_str());
    const bool registered = RegisterRestartRunFor(L"C:\\new.exe");
    EndRegistryBackup();
    SetRegistryValueQuery(nullptr);

    EXPECT_EQ(DwordBytes(4), ReadStoredValue(HKEY_LOCAL_MACHINE, path, L"Refused").bytes);
    EXPECT_EQ(DwordBytes(3), ReadStoredValue(HKEY_LOCAL_MACHINE, path, L"Readable").bytes);
    EXPECT_EQ(Utf16(L"C:\\planted.dll"), ReadStoredValue(HKEY_LOCAL_MACHINE, path, nullptr).bytes);
    EXPECT_FALSE(registered);
    EXPECT_EQ(Utf16(L"\"C:\\old.exe\" -r"), ReadStoredValue(HKEY_CURRENT_USER, runOnce, L"TarnvexEVCleaner").bytes);
    const Lines lines = capture.Lines();
    for (const std::wstring& expected :
         {std::wstring(L"info: Failed to read value \"Refused\" (error 5), left unchanged"),
          L"info: Failed to read registry key HKLM\\" + path + L" ",
          std::wstring(L"info: Failed to register for start after reboot for services restoration")})
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), expected)) << Narrow(expected);
    ASSERT_EQ(1u, directory.Files().size());
    const std::wstring script = ScriptText(directory.File(directory.Files()[0]));
    EXPECT_NE(std::wstring::npos, script.find(L"\"Readable\"=-"));
    EXPECT_EQ(std::wstring::npos, script.find(L"Refused")) << Narrow(script);
    EXPECT_EQ(std::wstring::npos, script.find(L"@=")) << Narrow(script);
    EXPECT_EQ(std::wstring::npos, script.find(L"TarnvexEVCleaner")) << Narrow(script);
}

}  // namespace
