#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "driver/CleanSystem.h"
#include "driver/PlatformProbe.h"
#include "win/Wow64.h"

namespace {

OSVERSIONINFOEXW Version(DWORD major, DWORD minor, BYTE productType)
{
    OSVERSIONINFOEXW v = {};
    v.dwOSVersionInfoSize = sizeof(v);
    v.dwMajorVersion = major;
    v.dwMinorVersion = minor;
    v.wProductType = productType;
    return v;
}

TEST(OsVersionCode, ClassifiesEverySupportedAndUnsupportedVersion)
{
    struct Case {
        DWORD major, minor;
        BYTE productType;
        uint32_t code;
        bool postVista;
    } cases[] = {
        {5, 1, VER_NT_WORKSTATION, 0x51, false},               // XP
        {5, 1, VER_NT_SERVER, 0x80000051, false},              // 5.1 reported as a server
        {5, 2, VER_NT_WORKSTATION, 0x52, false},               // XP x64
        {5, 2, VER_NT_SERVER, 0x80000052, false},              // Server 2003
        {5, 2, VER_NT_DOMAIN_CONTROLLER, 0x80000052, false},   // 2003 domain controller
        {6, 0, VER_NT_WORKSTATION, 0x60, true},                // Vista
        {6, 0, VER_NT_SERVER, 0x80000060, true},               // Server 2008
        {6, 1, VER_NT_WORKSTATION, 0x61, true},                // 7
        {6, 1, VER_NT_SERVER, 0x80000061, true},               // Server 2008 R2
        {6, 1, VER_NT_DOMAIN_CONTROLLER, 0x80000061, true},    // 2008 R2 domain controller
        {5, 0, VER_NT_WORKSTATION, OsVersionUnsupported, true},  // 2000
        {6, 2, VER_NT_WORKSTATION, OsVersionUnsupported, true},  // 8
        {6, 3, VER_NT_SERVER, OsVersionUnsupported, true},       // 2012 R2
        {10, 0, VER_NT_WORKSTATION, OsVersionUnsupported, true},
        {0, 0, VER_NT_WORKSTATION, OsVersionUnsupported, true},  // failed query
        {4, 0, VER_NT_WORKSTATION, OsVersionUnsupported, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << " type " << int(c.productType));
        const uint32_t code = GetOsVersionCode(Version(c.major, c.minor, c.productType));
        EXPECT_EQ(c.code, code);
        if (code != OsVersionUnsupported) {
            EXPECT_EQ(c.postVista, IsPostVistaFamily(code));
        }
    }
}

TEST(RunMode, OnlyALoneExactDashRIsRestoration)
{
    wchar_t program[] = L"C:\\cleaner.exe";
    wchar_t r[] = L"-r", upper[] = L"-R", slash[] = L"/r", trailing[] = L"-r ", dashOnly[] = L"-", second[] = L"x",
            rOnly[] = L"r";
    struct Case {
        std::vector<wchar_t*> argv;
        bool restoration;
    } cases[] = {
        {{program, r}, true},
        {{program}, false},
        {{program, upper}, false},
        {{program, slash}, false},
        {{program, trailing}, false},
        {{program, dashOnly}, false},
        {{program, rOnly}, false},
        {{program, r, second}, false},
        {{program, second, r}, false},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.argv.size() > 1 ? c.argv[1] : L"(none)");
        EXPECT_EQ(c.restoration, IsRestorationMode(static_cast<int>(c.argv.size()), c.argv.data()));
    }
}

// Records what the guard does with the WoW64 entry points.
struct RedirectionCalls {
    static int disables, reverts;
    static PVOID revertedValue;
    static BOOL WINAPI Disable(PVOID* old)
    {
        ++disables;
        *old = reinterpret_cast<PVOID>(0x1234);
        return TRUE;
    }
    static BOOL WINAPI Revert(PVOID old)
    {
        ++reverts;
        revertedValue = old;
        return TRUE;
    }
    static void Reset()
    {
        disables = reverts = 0;
        revertedValue = nullptr;
    }
};
int RedirectionCalls::disables, RedirectionCalls::reverts;
PVOID RedirectionCalls::revertedValue;

TEST(FsRedirectionGuard, SwitchesOffUnderWow64AndBackWithTheSavedValue)
{
    RedirectionCalls::Reset();
    {
        FsRedirectionGuard guard(true, Wow64RedirectionApi{RedirectionCalls::Disable, RedirectionCalls::Revert});
        EXPECT_EQ(1, RedirectionCalls::disables);
        EXPECT_EQ(0, RedirectionCalls::reverts);
    }
    EXPECT_EQ(1, RedirectionCalls::reverts);
    EXPECT_EQ(reinterpret_cast<PVOID>(0x1234), RedirectionCalls::revertedValue);
}

TEST(FsRedirectionGuard, DoesNothingWithoutWow64OrWithAMissingEntryPoint)
{
    RedirectionCalls::Reset();
    { FsRedirectionGuard guard(false, Wow64RedirectionApi{RedirectionCalls::Disable, RedirectionCalls::Revert}); }
    { FsRedirectionGuard guard(true, Wow64RedirectionApi{RedirectionCalls::Disable, nullptr}); }
    { FsRedirectionGuard guard(true, Wow64RedirectionApi{nullptr, RedirectionCalls::Revert}); }
    EXPECT_EQ(0, RedirectionCalls::disables);
    EXPECT_EQ(0, RedirectionCalls::reverts);
}

// A file that exists only in the native system directory, planted and removed
// with redirection switched by the system's own entry points, not the guard.
class NativeOnlyFile {
public:
    explicit NativeOnlyFile(const std::wstring& path) : path_(path), api_(LookUpWow64RedirectionApi())
    {
        PVOID old = nullptr;
        if (api_.disable == nullptr || api_.revert == nullptr || !api_.disable(&old))
            return;
        const HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        planted_ = file != INVALID_HANDLE_VALUE;
        if (planted_)
            CloseHandle(file);
        api_.revert(old);
    }
    ~NativeOnlyFile()
    {
        PVOID old = nullptr;
        if (planted_ && api_.disable(&old)) {
            DeleteFileW(path_.c_str());
            api_.revert(old);
        }
    }
    bool Planted() const { return planted_; }

private:
    const std::wstring path_;
    const Wow64RedirectionApi api_;
    bool planted_ = false;
};

TEST(FsRedirectionGuard, ARealGuardShowsTheNativeSystemDirectoryOnlyWhileItLives)
{
    if (!IsWow64()) {
        std::printf("[ NOTE     ] no WoW64 in this process: one system directory, nothing to tell apart\n");
        return;
    }
    wchar_t system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring path = std::wstring(system) + L"\\vorn-native-only.tmp";
    NativeOnlyFile planted(path);
    ASSERT_TRUE(planted.Planted());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str())) << "redirected before the guard";
    {
        FsRedirectionGuard guard;
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str())) << "native while the guard lives";
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str())) << "redirected again after it";
}

}  // namespace
