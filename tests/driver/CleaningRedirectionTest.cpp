// When the cleaning sequence switches WoW64 file-system redirection: only
// around the calls that name the native system directory. With it off, a
// 32-bit process on 64-bit Windows cannot load a DLL on demand (the
// cryptographic provider of the identifier, the ACL provider of the
// removal), so everything else must run with redirection as Windows set it.
// A recording fake stands in for the system's switches and marks each one in
// the log, between the lines of the sequence.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cleanup/MalwareFiles.h"
#include "cleanup/ServicesExeTestFiles.h"
#include "driver/CleanSystem.h"
#include "logging/Log.h"
#include "support/LogCapture.h"
#include "win/Wow64.h"

namespace {

const std::wstring kOff = L"debug: [redirection off]";
const std::wstring kOn = L"debug: [redirection on]";

// Records each switch and passes it on to the system, so that the sequence
// still reads the files it reads under WoW64.
class RecordingRedirection {
public:
    RecordingRedirection()
    {
        system_ = LookUpWow64RedirectionApi();
        redirection_.wow64 = true;
        redirection_.api = Wow64RedirectionApi{Disable, Revert};
        OverrideWow64Redirection(&redirection_);
        depth_ = 0;
    }
    ~RecordingRedirection() { OverrideWow64Redirection(nullptr); }
    RecordingRedirection(const RecordingRedirection&) = delete;
    RecordingRedirection& operator=(const RecordingRedirection&) = delete;

    static bool Off() { return depth_ > 0; }

private:
    static BOOL WINAPI Disable(PVOID* oldValue)
    {
        ++depth_;
        LogDebug(L"[redirection off]");
        *oldValue = nullptr;
        return system_.disable != nullptr && system_.revert != nullptr ? system_.disable(oldValue) : TRUE;
    }
    static BOOL WINAPI Revert(PVOID oldValue)
    {
        --depth_;
        LogDebug(L"[redirection on]");
        return system_.disable != nullptr && system_.revert != nullptr ? system_.revert(oldValue) : TRUE;
    }

    static Wow64RedirectionApi system_;
    static int depth_;
    Wow64Redirection redirection_;
};
Wow64RedirectionApi RecordingRedirection::system_;
int RecordingRedirection::depth_;

size_t IndexOf(const std::vector<std::wstring>& lines, const std::wstring& line)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == line)
            return i;
    return lines.size();
}

OSVERSIONINFOEXW Windows7()
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = 6;
    version.dwMinorVersion = 1;
    version.wProductType = VER_NT_WORKSTATION;
    return version;
}

// An infected services.exe in the native system directory (Wine's own kept
// aside), a clean copy of its version in the component store, and a run
// directory holding "RA Ravariv" for the backup: the replacement runs whole.
class InfectedImageWithCleanCopy {
public:
    InfectedImageWithCleanCopy()
        : image_(SystemDirectory() + "\\services.exe"),
          stock_(image_ + ".stock"),
          store_(WindowsDirectory() + "\\winsxs\\x86_microsoft-windows-s..controlmanager_6.1.7601.17514")
    {
        char current[MAX_PATH];
        const DWORD length = GetCurrentDirectoryA(MAX_PATH, current);
        if (length != 0 && length < MAX_PATH)
            savedDirectory_ = current;
        work_ = MakeScratchDirectory("redirection");
        const std::string infected = ReadFileBytesOrEmpty(SiblingFixtureImagePath("v6.1.7601.17514-nodyn.exe"));
        FsRedirectionGuard native;
        ready_ = !savedDirectory_.empty() && !work_.empty() && !infected.empty() &&
                 CreateDirectoryA((work_ + "\\RA Ravariv").c_str(), nullptr) &&
                 SetCurrentDirectoryA(work_.c_str()) && MoveFileA(image_.c_str(), stock_.c_str()) &&
                 WriteFileBytes(image_, infected) && CreateDirectoryA(store_.c_str(), nullptr) &&
                 PlantCopy(SiblingFixtureImagePath("v6.1.7601.17514-dyn.exe"), store_ + "\\services.exe");
    }
    ~InfectedImageWithCleanCopy()
    {
        SetCurrentDirectoryA(savedDirectory_.c_str());
        RemoveTree(work_);
        RemoveTree(store_);
        FsRedirectionGuard native;
        DeleteFileA(image_.c_str());
        MoveFileA(stock_.c_str(), image_.c_str());
    }
    InfectedImageWithCleanCopy(const InfectedImageWithCleanCopy&) = delete;
    InfectedImageWithCleanCopy& operator=(const InfectedImageWithCleanCopy&) = delete;

    bool Ready() const { return ready_; }

private:
    const std::string image_;
    const std::string stock_;
    const std::string store_;
    std::string savedDirectory_;
    std::string work_;
    bool ready_ = false;
};

size_t SwitchesBetween(const std::vector<std::wstring>& lines, size_t from, size_t to)
{
    size_t switches = 0;
    for (size_t i = from; i < to && i < lines.size(); ++i)
        switches += lines[i] == kOff ? 1 : 0;
    return switches;
}

TEST(CleaningRedirection, OffOnlyAroundTheServiceHostImageAndOnAgainAtOnce)
{
    InfectedImageWithCleanCopy machine;
    ASSERT_TRUE(machine.Ready());
    RecordingRedirection recorder;
    LogCapture capture;
    wchar_t program[] = L"C:\\cleaner.exe";
    wchar_t* argv[] = {program};
    bool restorationMode = true;
    ASSERT_EQ(CleanSystemDone, CleanSystem(1, argv, Windows7(), &restorationMode));
    EXPECT_FALSE(RecordingRedirection::Off());

    const std::vector<std::wstring> lines = capture.Lines();
    const size_t firstOff = IndexOf(lines, kOff);
    const size_t infected = IndexOf(lines, L"info: services.exe appears to be infected");
    const size_t version = IndexOf(lines, L"info: Current infected services.exe version: 6.1.7601.17514");
    const size_t backup = IndexOf(lines, L"info: Making backup of current services.exe");
    const size_t restored = IndexOf(lines, L"info: Restored services.exe successfully");
    const size_t removal = IndexOf(lines, L"info: Attempting to remove malware files...");
    ASSERT_LT(firstOff, lines.size()) << "the image was read with redirection on";
    ASSERT_LT(restored, lines.size()) << "the replacement did not run whole";
    ASSERT_LT(removal, lines.size());
    // Each switch off is followed at once by the switch back: no log line and
    // no other step of the sequence runs in between.
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == kOff) {
            ASSERT_LT(i + 1, lines.size());
            EXPECT_EQ(kOn, lines[i + 1]) << i;
        }
    }
    // The COM repair before, the identifier and the removal after: all with
    // redirection as Windows set it.
    EXPECT_NE(std::wstring::npos, lines[firstOff - 1].find(L"registry key")) << "COM repair not before the check";
    EXPECT_LE(1u, SwitchesBetween(lines, firstOff, infected)) << "the check";
    EXPECT_LE(1u, SwitchesBetween(lines, infected, version)) << "the examination of the image";
    EXPECT_EQ(0u, SwitchesBetween(lines, version, backup)) << "the store search";
    EXPECT_EQ(3u, SwitchesBetween(lines, backup, restored)) << "the backup, the staged copy and the rename";
    EXPECT_LT(restored, removal);
    for (size_t i = removal; i < lines.size(); ++i)
        EXPECT_NE(kOff, lines[i]) << i;
    EXPECT_EQ(L"info: Cleaning finished", lines.back());
}

bool NtfsVolume(VolumeFacts* facts)
{
    EXPECT_FALSE(RecordingRedirection::Off()) << "the volume asked with redirection off";
    *facts = VolumeFacts();
    facts->fileSystemAttributes = FILE_NAMED_STREAMS | FILE_SUPPORTS_REPARSE_POINTS;
    for (int i = 0; i < 8; ++i)
        facts->creationTime[i] = static_cast<BYTE>(0x11 * (i + 1));
    return true;
}

const wchar_t kSomeUser[] = L"S-1-5-21-0-0-0-1000";

bool SomeUser(wchar_t* sid)
{
    wcscpy(sid, kSomeUser);
    return true;
}

// The recycle-bin directory of the running Windows, as the removal forms it.
std::wstring RecycleDirectory()
{
    wchar_t windows[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (length < 3 || length >= MAX_PATH || !GetVersionExW(&version))
        return std::wstring();
    return L"\\\\?\\" + std::wstring(windows, 3) + (version.dwMajorVersion >= 6 ? L"$Recycle.Bin" : L"RECYCLER");
}

// The rootkit's directory below one account directory, holding one file.
struct PlantedBotDirectory {
    std::wstring directory;
    std::wstring file;
};

bool PlantBotDirectory(const std::wstring& recycle, const wchar_t* sid, const wchar_t* botId,
                       PlantedBotDirectory* planted)
{
    const std::wstring account = recycle + L"\\" + sid;
    planted->directory = account + L"\\" + botId;
    planted->file = planted->directory + L"\\payload.dll";
    CreateDirectoryW(recycle.c_str(), nullptr);
    CreateDirectoryW(account.c_str(), nullptr);
    if (!CreateDirectoryW(planted->directory.c_str(), nullptr))
        return false;
    const HANDLE file = CreateFileW(planted->file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

// The identifier (MD5 through the cryptographic provider) and the permission
// changes (ACL provider) never run with redirection off.
TEST(CleaningRedirection, IdentifierAndPermissionChangesRunWithRedirectionOn)
{
    wchar_t botId[kBotIdCapacity];
    ASSERT_TRUE(GenerateBotIdWith(NtfsVolume, botId));
    const std::wstring recycle = RecycleDirectory();
    ASSERT_FALSE(recycle.empty());
    PlantedBotDirectory user, system;
    ASSERT_TRUE(PlantBotDirectory(recycle, kSomeUser, botId, &user));
    ASSERT_TRUE(PlantBotDirectory(recycle, L"S-1-5-18", botId, &system));

    RecordingRedirection recorder;
    LogCapture capture;
    RemoveMalwareFilesWith(NtfsVolume, SomeUser);

    const std::vector<std::wstring> lines = capture.Lines();
    for (const std::wstring& line : lines)
        EXPECT_NE(kOff, line);
    for (const PlantedBotDirectory* planted : {&user, &system}) {
        for (const std::wstring& entry : {planted->directory, planted->file}) {
            EXPECT_LT(IndexOf(lines, L"info: Changing file permissions on file " + entry + L"... success"),
                      lines.size())
                << std::string(entry.begin(), entry.end());
        }
        EXPECT_LT(IndexOf(lines, L"info: Removing file " + planted->file + L"... success"), lines.size());
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(planted->file.c_str()));
    }
}

}  // namespace
