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

TEST(CleaningRedirection, OffOnlyAroundTheServiceHostImageAndOnAgainAtOnce)
{
    RecordingRedirection recorder;
    LogCapture capture;
    wchar_t program[] = L"C:\\cleaner.exe";
    wchar_t* argv[] = {program};
    bool restorationMode = true;
    ASSERT_EQ(CleanSystemDone, CleanSystem(1, argv, Windows7(), &restorationMode));
    EXPECT_FALSE(RecordingRedirection::Off());

    const std::vector<std::wstring> lines = capture.Lines();
    const size_t firstOff = IndexOf(lines, kOff);
    const size_t removal = IndexOf(lines, L"info: Attempting to remove malware files...");
    ASSERT_LT(firstOff, lines.size()) << "the image was read with redirection on";
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
    EXPECT_LT(firstOff, removal);
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

bool SomeUser(wchar_t* sid)
{
    wcscpy(sid, L"S-1-5-21-0-0-0-1000");
    return true;
}

// The identifier (MD5 through the cryptographic provider) and the permission
// changes (ACL provider) never run with redirection off.
TEST(CleaningRedirection, IdentifierAndPermissionChangesRunWithRedirectionOn)
{
    RecordingRedirection recorder;
    LogCapture capture;
    RemoveMalwareFilesWith(NtfsVolume, SomeUser);

    const std::vector<std::wstring> lines = capture.Lines();
    EXPECT_EQ(lines.size(), IndexOf(lines, L"info: Failed to generate BOT ID")) << "no identifier";
    bool permissionsChanged = false;
    for (const std::wstring& line : lines) {
        EXPECT_NE(kOff, line);
        permissionsChanged = permissionsChanged || line.find(L"info: Changing file permissions on file") == 0;
    }
    EXPECT_TRUE(permissionsChanged);
}

}  // namespace
