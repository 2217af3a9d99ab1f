// The replacement of an infected services.exe: the search of the component
// store, the backup and the rename scheduled for the next restart, with
// fixture images that carry real version resources.
#include "cleanup/ServicesExeRestore.h"
#include "cleanup/ServicesExeTestFiles.h"
#include "cleanup/ServicesExeVersion.h"
#include "support/LogCapture.h"
#include "support/ReadOnlyRegistryKey.h"
#include "support/TokenState.h"
#include "win/ScopedFindHandle.h"
#include "win/ScopedHandle.h"
#include "win/ScopedRegKey.h"
#include "win/Wow64.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const wchar_t SessionManagerKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t PendingRenamesValue[] = L"PendingFileRenameOperations";
const char InfectedFixture[] = "v6.1.7601.17514-nodyn.exe";
const char CleanFixture[] = "v6.1.7601.17514-dyn.exe";
const char OtherMachineFixture[] = "otherwidth-v6.1.7601.17514-dyn.exe";

std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::string ImagePath()
{
    return SystemDirectory() + "\\services.exe";
}

// The image and the replacement's copy live in the native system directory,
// which a 32-bit test under WoW64 reaches with redirection off, as the
// replacement does.
std::string ReadNative(const std::string& path)
{
    FsRedirectionGuard native;
    return ReadFileBytesOrEmpty(path);
}

bool WriteNative(const std::string& path, const std::string& bytes)
{
    FsRedirectionGuard native;
    return WriteFileBytes(path, bytes);
}

// Copies of clean images staged beside the image ("svc*.tmp").
std::vector<std::string> StagedCopies()
{
    FsRedirectionGuard native;
    std::vector<std::string> found;
    WIN32_FIND_DATAA entry;
    ScopedFindHandle search(FindFirstFileA((SystemDirectory() + "\\svc*.tmp").c_str(), &entry));
    if (search.IsValid()) {
        do
            found.push_back(SystemDirectory() + "\\" + entry.cFileName);
        while (FindNextFileA(search.Get(), &entry));
    }
    return found;
}

void RemoveStagedCopies()
{
    for (const std::string& path : StagedCopies()) {
        FsRedirectionGuard native;
        DeleteFileA(path.c_str());
    }
}

std::string StoreDirectory()
{
    return WindowsDirectory() + "\\winsxs\\";
}

// The entries of the pending rename list, in order; empty when there is none.
std::vector<std::wstring> PendingRenames()
{
    ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS)
        return {};
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), PendingRenamesValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return {};
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(key.Get(), PendingRenamesValue, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size) != ERROR_SUCCESS)
        return {};
    std::vector<std::wstring> entries;
    for (const wchar_t* at = data.data(); *at != L'\0'; at += entries.back().size() + 1)
        entries.emplace_back(at);
    return entries;
}

void ClearPendingRenames()
{
    ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_SET_VALUE, key.Receive()) == ERROR_SUCCESS)
        RegDeleteValueW(key.Get(), PendingRenamesValue);
}

// A model of the file security Wine does not keep: descriptors per file
// (volume and index), handed out and set through the replacement's calls.
// Windows' owner rule is enforced: an owner that is neither the token user
// nor one of its owner groups is taken only while SeRestorePrivilege is
// enabled (ERROR_INVALID_OWNER otherwise). Files the model does not hold go
// to the system's calls.
struct ModelledFile {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    std::vector<BYTE> descriptor;
};
std::vector<ModelledFile> modelledFiles;
bool modelRestorePrivilegeHeld = true;

bool FileOf(HANDLE file, ModelledFile* identity)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) return false;
    *identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow, {}};
    return true;
}

ModelledFile* Modelled(HANDLE file)
{
    ModelledFile identity;
    if (!FileOf(file, &identity)) return nullptr;
    for (ModelledFile& f : modelledFiles) {
        if (f.volume == identity.volume && f.indexHigh == identity.indexHigh && f.indexLow == identity.indexLow)
            return &f;
    }
    return nullptr;
}

BOOL WINAPI ModelGetFileSecurity(HANDLE file, SECURITY_INFORMATION parts, PSECURITY_DESCRIPTOR descriptor, DWORD size,
                                 LPDWORD needed)
{
    const ModelledFile* f = Modelled(file);
    if (f == nullptr) return GetKernelObjectSecurity(file, parts, descriptor, size, needed);
    *needed = static_cast<DWORD>(f->descriptor.size());
    if (size < f->descriptor.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(descriptor, f->descriptor.data(), f->descriptor.size());
    return TRUE;
}

BOOL WINAPI ModelSetFileSecurity(HANDLE file, SECURITY_INFORMATION parts, PSECURITY_DESCRIPTOR descriptor)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    const bool restore = modelRestorePrivilegeHeld && TokenPrivilegeEnabled(L"SeRestorePrivilege");
    if ((parts & OWNER_SECURITY_INFORMATION) != 0 &&
        (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr ||
         (!restore && !TokenMayOwn(owner)))) {
        SetLastError(ERROR_INVALID_OWNER);
        return FALSE;
    }
    // What Wine keeps of it (the mode bits), and the whole of it here.
    if (!SetKernelObjectSecurity(file, parts, descriptor)) return FALSE;
    ModelledFile identity;
    if (!FileOf(file, &identity)) return FALSE;
    const BYTE* bytes = static_cast<const BYTE*>(descriptor);
    identity.descriptor.assign(bytes, bytes + GetSecurityDescriptorLength(descriptor));
    ModelledFile* known = Modelled(file);
    if (known != nullptr)
        *known = identity;
    else
        modelledFiles.push_back(identity);
    return TRUE;
}

const FileSecurityCalls kModelledFileSecurity = {ModelGetFileSecurity, ModelSetFileSecurity};

// Owner, group and DACL of a file as the calls report them; empty when
// unreadable.
std::string FileSecurityString(const FileSecurityCalls& calls, const std::string& path)
{
    FsRedirectionGuard native;
    ScopedHandle file(CreateFileA(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    BYTE descriptor[4096];
    DWORD size = 0;
    const SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    char* text = nullptr;
    if (!file.IsValid() || !calls.get(file.Get(), parts, descriptor, sizeof(descriptor), &size) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, parts, &text, nullptr))
        return "";
    const std::string sddl(text);
    LocalFree(text);
    return sddl;
}

// Gives a file the security `sddl`: whole in the model, and what Wine keeps
// of it in its mode bits.
void PlantFileSecurity(const std::string& path, const char* sddl)
{
    FsRedirectionGuard native;
    ScopedHandle file(CreateFileA(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ModelledFile identity;
    ASSERT_TRUE(file.IsValid() && FileOf(file.Get(), &identity));
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    const SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    EXPECT_TRUE(SetKernelObjectSecurity(file.Get(), parts, descriptor));
    const BYTE* bytes = static_cast<const BYTE*>(descriptor);
    identity.descriptor.assign(bytes, bytes + GetSecurityDescriptorLength(descriptor));
    LocalFree(descriptor);
    modelledFiles.push_back(identity);
}

// The image as Windows 7 installs it: owned by TrustedInstaller, which alone
// may write it; the administrators may read and run it.
const char TrustedInstallerImage[] =
    "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
    "G:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
    "D:P(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)(A;;0x1200a9;;;BA)"
    "(A;;0x1200a9;;;SY)(A;;0x1200a9;;;BU)";

class ServicesExeRestoreTest : public ::testing::Test {
protected:
    // Wine's own service manager is kept aside while the tests plant theirs.
    static std::string StockCopyPath() { return ImagePath() + ".stock"; }
    static void SetUpTestSuite()
    {
        FsRedirectionGuard native;
        MoveFileA(ImagePath().c_str(), StockCopyPath().c_str());
    }
    static void TearDownTestSuite()
    {
        FsRedirectionGuard native;
        DeleteFileA(ImagePath().c_str());
        MoveFileA(StockCopyPath().c_str(), ImagePath().c_str());
    }

    void SetUp() override
    {
        modelledFiles.clear();
        modelRestorePrivilegeHeld = true;
        ClearPendingRenames();
        char current[MAX_PATH];
        const DWORD length = GetCurrentDirectoryA(MAX_PATH, current);
        ASSERT_TRUE(length != 0 && length < MAX_PATH);
        savedDirectory_ = current;
        // The run's current directory holds "RA Ravariv", as the desktop does.
        work_ = MakeScratchDirectory("restore");
        ASSERT_FALSE(work_.empty());
        ASSERT_TRUE(CreateDirectoryA((work_ + "\\RA Ravariv").c_str(), nullptr));
        ASSERT_TRUE(SetCurrentDirectoryA(work_.c_str()));
        PlantImage(InfectedFixture);
    }

    void TearDown() override
    {
        SetCurrentDirectoryA(savedDirectory_.c_str());
        RemoveTree(work_);
        for (const std::wstring& entry : entries_)
            RemoveEntry(entry);
        ClearPendingRenames();
        RemoveStagedCopies();
        FsRedirectionGuard native;
        DeleteFileA(ImagePath().c_str());
    }

    void PlantImage(const std::string& fixture)
    {
        infectedBytes_ = ReadFileBytesOrEmpty(FixtureImagePath(fixture));
        ASSERT_FALSE(infectedBytes_.empty()) << fixture;
        ASSERT_TRUE(WriteNative(ImagePath(), infectedBytes_));
    }

    // A component store directory; with a fixture, holding it as services.exe.
    // Made with the wide functions and the extended-length prefix, so that
    // names of any length work.
    std::string PlantEntry(const std::string& name, const std::string& fixture = std::string())
    {
        const std::wstring directory = L"\\\\?\\" + Widen(StoreDirectory() + name);
        entries_.push_back(directory);
        EXPECT_TRUE(CreateDirectoryW(directory.c_str(), nullptr)) << name;
        if (!fixture.empty()) {
            EXPECT_TRUE(CopyFileW(Widen(FixtureImagePath(fixture)).c_str(), (directory + L"\\services.exe").c_str(),
                                  TRUE))
                << fixture;
        }
        return StoreDirectory() + name + "\\services.exe";
    }

    // An entry whose services.exe is a directory.
    void PlantEntryWithDirectoryImage(const std::string& name)
    {
        PlantEntry(name);
        EXPECT_TRUE(CreateDirectoryW((entries_.back() + L"\\services.exe").c_str(), nullptr));
    }

    // A file, not a directory, whose name matches the search.
    void PlantEntryFile(const std::string& name)
    {
        const std::wstring path = L"\\\\?\\" + Widen(StoreDirectory() + name);
        entries_.push_back(path);
        EXPECT_TRUE(CopyFileW(Widen(FixtureImagePath(CleanFixture)).c_str(), path.c_str(), TRUE));
    }

    // Every shape PlantEntry and its kin make.
    static void RemoveEntry(const std::wstring& entry)
    {
        const std::wstring image = entry + L"\\services.exe";
        DeleteFileW(image.c_str());
        RemoveDirectoryW(image.c_str());
        RemoveDirectoryW(entry.c_str());
        DeleteFileW(entry.c_str());
    }

    std::string BackupPath() const { return work_ + "\\RA Ravariv\\services.exe.infected"; }

    // One move scheduled: a copy of the candidate, staged beside the image,
    // over the image; the candidate stays in the store as it was.
    static void ExpectScheduledCopyOf(const std::string& candidate)
    {
        const std::vector<std::string> staged = StagedCopies();
        ASSERT_EQ(1u, staged.size());
        EXPECT_EQ((std::vector<std::wstring>{L"\\??\\" + Widen(staged[0]), L"!\\??\\" + Widen(ImagePath())}),
                  PendingRenames());
        const std::string clean = ReadFileBytesOrEmpty(FixtureImagePath(CleanFixture));
        EXPECT_TRUE(ReadFileBytesOrEmpty(candidate) == clean) << "the store file changed";
        EXPECT_TRUE(ReadNative(staged[0]) == clean) << "the staged copy is not the clean image";
    }

    // The copy was found and the backup made, then staging or scheduling
    // failed: nothing is left staged or pending, the image as it was.
    void ExpectReplacementNotScheduled(const std::vector<std::wstring>& lines, const std::string& candidate)
    {
        EXPECT_EQ((std::vector<std::wstring>{
                      L"info: Current infected services.exe version: 6.1.7601.17514",
                      LocatedLine(candidate),
                      L"info: Making backup of current services.exe",
                      L"info: Failed to schedule replacement of services.exe",
                  }),
                  lines);
        EXPECT_TRUE(PendingRenames().empty());
        EXPECT_TRUE(StagedCopies().empty());
        EXPECT_TRUE(infectedBytes_ == ReadNative(ImagePath())) << "image changed";
    }

    static std::wstring LocatedLine(const std::string& candidate)
    {
        return L"info: Located clean services exe: " + Widen(candidate);
    }

    // No backup, nothing scheduled, the image as it was.
    void ExpectNothingChanged()
    {
        EXPECT_FALSE(Exists(BackupPath()));
        EXPECT_TRUE(PendingRenames().empty());
        EXPECT_TRUE(StagedCopies().empty());
        EXPECT_TRUE(infectedBytes_ == ReadNative(ImagePath())) << "image changed";
    }

    // The search found nothing: its two lines, and nothing changed.
    void ExpectNoCleanCopyFound(const std::vector<std::wstring>& lines)
    {
        EXPECT_EQ((std::vector<std::wstring>{
                      L"info: Current infected services.exe version: 6.1.7601.17514",
                      L"info: Failed to locate clean services.exe",
                  }),
                  lines);
        ExpectNothingChanged();
    }

    std::string savedDirectory_;
    std::string work_;
    std::vector<std::wstring> entries_;
    std::string infectedBytes_;
};

constexpr ULONGLONG FourPartVersion(ULONGLONG a, ULONGLONG b, ULONGLONG c, ULONGLONG d)
{
    return a << 48 | b << 32 | c << 16 | d;
}

// The fixtures' product version is 10.20.30.40 throughout: only the file
// version may come back.
TEST_F(ServicesExeRestoreTest, VersionNumberIsTheFileVersion)
{
    struct Case {
        const char* fixture;
        ULONGLONG version;
    } cases[] = {
        {InfectedFixture, FourPartVersion(6, 1, 7601, 17514)},
        {"v6.1.7601.17515-dyn.exe", FourPartVersion(6, 1, 7601, 17515)},
        {"v7.1.7601.17514-dyn.exe", FourPartVersion(7, 1, 7601, 17514)},
        {"v0.0.0.0-dyn.exe", 0},
        {"noversion-dyn.exe", 0},
        {"shortversion-dyn.exe", 0},  // a fixed record too short to hold a version
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        EXPECT_EQ(c.version, GetFileVersionNumber(FixtureImagePath(c.fixture).c_str()));
    }
    EXPECT_EQ(0u, GetFileVersionNumber((work_ + "\\missing.exe").c_str()));
    EXPECT_EQ(0u, GetFileVersionNumber(work_.c_str()));
}

TEST_F(ServicesExeRestoreTest, FirstMatchingDirectoryInSearchOrderWins)
{
    // Outside the pattern, though first and of the right version.
    PlantEntry("aaa_microsoft-windows-audio_6.1.7601.17514", CleanFixture);
    PlantEntryFile("a0_microsoft-windows-s..controlmanager_file");
    PlantEntry("a1_microsoft-windows-s..controlmanager_empty");
    PlantEntryWithDirectoryImage("a2_microsoft-windows-s..controlmanager_subdir");
    PlantEntry("a3_microsoft-windows-s..controlmanager_6.1.7601.17515", "v6.1.7601.17515-dyn.exe");
    PlantEntry("a4_microsoft-windows-s..controlmanager_noversion", "noversion-dyn.exe");
    // Made in the opposite order to the search order.
    const std::string second = PlantEntry("c_microsoft-windows-s..controlmanager_6.1.7601.17514", CleanFixture);
    const std::string first = PlantEntry("b_Microsoft-Windows-S..controlmanager_6.1.7601.17514", CleanFixture);

    LogCapture capture;
    EXPECT_TRUE(RestoreServicesExe());
    EXPECT_EQ((std::vector<std::wstring>{
                  L"info: Current infected services.exe version: 6.1.7601.17514",
                  LocatedLine(first),
                  L"info: Making backup of current services.exe",
              }),
              capture.Lines());
    ExpectScheduledCopyOf(first);
    EXPECT_TRUE(infectedBytes_ == ReadFileBytesOrEmpty(BackupPath())) << "backup is not the infected image";
    // Nothing moves before the restart.
    EXPECT_TRUE(infectedBytes_ == ReadNative(ImagePath())) << "image changed";
    EXPECT_TRUE(Exists(first));
    EXPECT_TRUE(Exists(second));
}

TEST_F(ServicesExeRestoreTest, OnlyTheSameFourPartVersionMatches)
{
    PlantEntry("amd64_microsoft-windows-s..a_7.1.7601.17514", "v7.1.7601.17514-dyn.exe");
    PlantEntry("amd64_microsoft-windows-s..b_6.2.7601.17514", "v6.2.7601.17514-dyn.exe");
    PlantEntry("amd64_microsoft-windows-s..c_6.1.7602.17514", "v6.1.7602.17514-dyn.exe");
    PlantEntry("amd64_microsoft-windows-s..d_6.1.7601.17515", "v6.1.7601.17515-dyn.exe");
    PlantEntry("amd64_microsoft-windows-s..e_noversion", "noversion-dyn.exe");
    PlantEntry("amd64_microsoft-windows-s..f_0.0.0.0", "v0.0.0.0-dyn.exe");

    LogCapture capture;
    EXPECT_FALSE(RestoreServicesExe());
    ExpectNoCleanCopyFound(capture.Lines());
}

// An unknown version is not the same version: nothing is ever put in place
// of an image whose version cannot be read, nor taken from a copy whose
// version cannot be read.
TEST_F(ServicesExeRestoreTest, UnknownVersionNeverMatches)
{
    PlantImage("noversion-nodyn.exe");
    PlantEntry("amd64_microsoft-windows-s..a_noversion", "noversion-dyn.exe");
    PlantEntry("amd64_microsoft-windows-s..b_0.0.0.0", "v0.0.0.0-dyn.exe");
    PlantEntry("amd64_microsoft-windows-s..c_6.1.7601.17514", CleanFixture);
    PlantEntry("amd64_microsoft-windows-s..d_empty");

    LogCapture capture;
    EXPECT_FALSE(RestoreServicesExe());
    EXPECT_EQ((std::vector<std::wstring>{
                  L"info: Current infected services.exe version: 0.0.0.0",
                  L"info: Failed to locate clean services.exe",
              }),
              capture.Lines());
    ExpectNothingChanged();
}

TEST_F(ServicesExeRestoreTest, NoComponentStoreEntries)
{
    LogCapture capture;
    EXPECT_FALSE(RestoreServicesExe());
    ExpectNoCleanCopyFound(capture.Lines());
}

// The first run makes the backup; a later run, with another image in place,
// leaves it as it is, says nothing about a backup and still schedules.
TEST_F(ServicesExeRestoreTest, BackupIsMadeOnceAndNeverOverwritten)
{
    const std::string candidate = PlantEntry("amd64_microsoft-windows-s..controlmanager_6.1.7601.17514", CleanFixture);
    ASSERT_TRUE(RestoreServicesExe());
    ASSERT_TRUE(infectedBytes_ == ReadFileBytesOrEmpty(BackupPath())) << "backup is not the infected image";
    ClearPendingRenames();
    RemoveStagedCopies();

    std::string other = infectedBytes_;
    other[other.size() - 1] = static_cast<char>(other[other.size() - 1] ^ 0x55);
    ASSERT_TRUE(WriteNative(ImagePath(), other));
    LogCapture capture;
    EXPECT_TRUE(RestoreServicesExe());
    EXPECT_EQ((std::vector<std::wstring>{
                  L"info: Current infected services.exe version: 6.1.7601.17514",
                  LocatedLine(candidate),
              }),
              capture.Lines());
    EXPECT_TRUE(infectedBytes_ == ReadFileBytesOrEmpty(BackupPath())) << "the backup was overwritten";
    ExpectScheduledCopyOf(candidate);
}

// Nothing is scheduled without a backup of what it replaces.
TEST_F(ServicesExeRestoreTest, BackupThatCannotBeMadeFailsTheReplacement)
{
    const std::string candidate = PlantEntry("amd64_microsoft-windows-s..controlmanager_6.1.7601.17514", CleanFixture);
    ASSERT_TRUE(CreateDirectoryA(BackupPath().c_str(), nullptr));

    LogCapture capture;
    EXPECT_FALSE(RestoreServicesExe());
    EXPECT_EQ((std::vector<std::wstring>{
                  L"info: Current infected services.exe version: 6.1.7601.17514",
                  LocatedLine(candidate),
                  L"info: Making backup of current services.exe",
              }),
              capture.Lines());
    EXPECT_TRUE(IsDirectory(BackupPath()));
    EXPECT_TRUE(PendingRenames().empty());
    EXPECT_TRUE(StagedCopies().empty());
    EXPECT_TRUE(infectedBytes_ == ReadNative(ImagePath())) << "image changed";
}

// A store file of the right version is taken only when it passes the check
// itself and is not the image under another name; a rejected one does not
// end the search.
TEST_F(ServicesExeRestoreTest, OnlyACleanCopyThatIsNotTheImageItselfIsTaken)
{
    struct Case {
        const char* name;
        const char* image;
        bool linkFirstEntryToImage;  // the first entry is a hard link to the image
        const char* firstEntry;      // fixture of the first entry otherwise
        bool cleanSecondEntry;
    } cases[] = {
        {"only copy lacks dynamic base", InfectedFixture, false, InfectedFixture, false},
        {"copy lacking dynamic base, then a clean copy", InfectedFixture, false, InfectedFixture, true},
        {"hard link to the infected image, then a clean copy", InfectedFixture, true, nullptr, true},
        // An image patched without losing the flag is linked into the store
        // just the same: the link must not replace it.
        {"hard link to an image with the flag", CleanFixture, true, nullptr, false},
        {"hard link to an image with the flag, then a clean copy", CleanFixture, true, nullptr, true},
        // Same version, with the flag, built for the other machine type (an
        // x86 copy in the store of a 64-bit system, or the other way round).
        {"only copy is of the other machine type", InfectedFixture, false, OtherMachineFixture, false},
        {"copy of the other machine type, then a clean copy", InfectedFixture, false, OtherMachineFixture, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlantImage(c.image);
        const std::string first = PlantEntry("a_microsoft-windows-s..controlmanager_6.1.7601.17514",
                                             c.firstEntry != nullptr ? c.firstEntry : std::string());
        if (c.linkFirstEntryToImage) {
            FsRedirectionGuard native;
            ASSERT_TRUE(CreateHardLinkA(first.c_str(), ImagePath().c_str(), nullptr));
        }
        const std::string second =
            c.cleanSecondEntry ? PlantEntry("b_microsoft-windows-s..controlmanager_6.1.7601.17514", CleanFixture)
                               : std::string();

        LogCapture capture;
        if (c.cleanSecondEntry) {
            EXPECT_TRUE(RestoreServicesExe());
            EXPECT_EQ(LocatedLine(second), capture.Lines().at(1));
            ExpectScheduledCopyOf(second);
        } else {
            EXPECT_FALSE(RestoreServicesExe());
            ExpectNoCleanCopyFound(capture.Lines());
        }
        const std::string firstBytes =
            c.linkFirstEntryToImage ? infectedBytes_ : ReadFileBytesOrEmpty(FixtureImagePath(c.firstEntry));
        EXPECT_TRUE(firstBytes == ReadFileBytesOrEmpty(first)) << "the first store file changed";

        ClearPendingRenames();
        RemoveStagedCopies();
        for (const std::wstring& entry : entries_)
            RemoveEntry(entry);
        entries_.clear();
        RemoveTree(BackupPath());
    }
}

// A planted entry whose path would not fit the path buffer is passed over,
// not cut short.
TEST_F(ServicesExeRestoreTest, EntryTooLongForAPathIsPassedOver)
{
    const std::string longName = "a_microsoft-windows-s" + std::string(230, 'x');
    ASSERT_GT(StoreDirectory().size() + longName.size() + sizeof("\\services.exe"), static_cast<size_t>(MAX_PATH));
    PlantEntry(longName, CleanFixture);
    const std::string candidate = PlantEntry("b_microsoft-windows-s..controlmanager_6.1.7601.17514", CleanFixture);

    LogCapture capture;
    EXPECT_TRUE(RestoreServicesExe());
    EXPECT_EQ(LocatedLine(candidate), capture.Lines().at(1));
    ExpectScheduledCopyOf(candidate);
}

// A replacement that cannot be scheduled is a failed replacement.
TEST_F(ServicesExeRestoreTest, MoveThatCannotBeScheduledIsAFailure)
{
    const std::string candidate = PlantEntry("amd64_microsoft-windows-s..controlmanager_6.1.7601.17514", CleanFixture);
    LogCapture capture;
    {
        ReadOnlyRegistryKey readOnly(HKEY_LOCAL_MACHINE, SessionManagerKey);
        ASSERT_TRUE(readOnly.Restricted());
        EXPECT_FALSE(RestoreServicesExe());
    }
    ExpectReplacementNotScheduled(capture.Lines(), candidate);
}

// CopyFile gives the copy what the system directory gives new files; the
// copy that replaces the image takes the image's own owner, group and DACL
// (read back equal in the model; as far as Wine keeps it, in its mode bits).
TEST_F(ServicesExeRestoreTest, TheStagedCopyTakesTheImagesSecurity)
{
    PlantEntry("amd64_microsoft-windows-s..controlmanager_6.1.7601.17514", CleanFixture);
    PlantFileSecurity(ImagePath(), TrustedInstallerImage);
    const std::string image = FileSecurityString(kModelledFileSecurity, ImagePath());
    ASSERT_NE("", image);
    ASSERT_TRUE(SetTokenPrivilege(L"SeRestorePrivilege", false));

    EXPECT_TRUE(RestoreServicesExe(kModelledFileSecurity));
    const std::vector<std::string> staged = StagedCopies();
    ASSERT_EQ(1u, staged.size());
    EXPECT_EQ(image, FileSecurityString(kModelledFileSecurity, staged[0]));
    EXPECT_EQ(FileSecurityString(SystemFileSecurityCalls(), ImagePath()),
              FileSecurityString(SystemFileSecurityCalls(), staged[0]));
    EXPECT_FALSE(TokenPrivilegeEnabled(L"SeRestorePrivilege")) << "enabled for the security step only";
}

// A copy that cannot take the image's owner (no SeRestorePrivilege) would
// leave services.exe writable by every administrator process: the
// replacement fails, as a failed backup does, and nothing is left staged.
TEST_F(ServicesExeRestoreTest, ACopyThatCannotTakeTheImagesSecurityFailsTheReplacement)
{
    const std::string candidate = PlantEntry("amd64_microsoft-windows-s..controlmanager_6.1.7601.17514", CleanFixture);
    PlantFileSecurity(ImagePath(), TrustedInstallerImage);
    modelRestorePrivilegeHeld = false;

    LogCapture capture;
    EXPECT_FALSE(RestoreServicesExe(kModelledFileSecurity));
    ExpectReplacementNotScheduled(capture.Lines(), candidate);
}

}  // namespace
