// The infection verdict on services.exe: the header rule on the 4096-byte
// sample, the file conditions around it, real linker output, and the image
// in the prefix's system directory.
#include "cleanup/ServicesExeCheck.h"
#include "cleanup/ServicesExeTestFiles.h"
#include "support/LogCapture.h"
#include "win/ScopedHandle.h"
#include "win/Wow64.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <string>

namespace {

struct Sample {
    unsigned char bytes[HeaderSampleSize];
};

enum class Layout { Pe32, Pe32Plus };

void Put16(unsigned char* at, WORD value)
{
    memcpy(at, &value, sizeof value);
}

void Put32(unsigned char* at, DWORD value)
{
    memcpy(at, &value, sizeof value);
}

// A DOS header pointing at an NT header of the given layout; the fields are
// placed through the system's header structures.
Sample ImageSample(Layout layout, LONG ntOffset, WORD dllCharacteristics)
{
    Sample s;
    memset(s.bytes, 0, sizeof s.bytes);
    Put16(s.bytes + offsetof(IMAGE_DOS_HEADER, e_magic), IMAGE_DOS_SIGNATURE);
    Put32(s.bytes + offsetof(IMAGE_DOS_HEADER, e_lfanew), static_cast<DWORD>(ntOffset));
    if (ntOffset < 0 || static_cast<size_t>(ntOffset) + 4 > sizeof s.bytes)
        return s;
    unsigned char* nt = s.bytes + ntOffset;
    Put32(nt, IMAGE_NT_SIGNATURE);
    size_t magicAt, characteristicsAt;
    WORD machine, magic, optionalSize;
    if (layout == Layout::Pe32) {
        magicAt = offsetof(IMAGE_NT_HEADERS32, OptionalHeader.Magic);
        characteristicsAt = offsetof(IMAGE_NT_HEADERS32, OptionalHeader.DllCharacteristics);
        machine = IMAGE_FILE_MACHINE_I386;
        magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
        optionalSize = sizeof(IMAGE_OPTIONAL_HEADER32);
    } else {
        magicAt = offsetof(IMAGE_NT_HEADERS64, OptionalHeader.Magic);
        characteristicsAt = offsetof(IMAGE_NT_HEADERS64, OptionalHeader.DllCharacteristics);
        machine = IMAGE_FILE_MACHINE_AMD64;
        magic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
        optionalSize = sizeof(IMAGE_OPTIONAL_HEADER64);
    }
    const size_t room = sizeof s.bytes - static_cast<size_t>(ntOffset);
    if (offsetof(IMAGE_NT_HEADERS32, FileHeader.SizeOfOptionalHeader) + 2 <= room) {
        Put16(nt + offsetof(IMAGE_NT_HEADERS32, FileHeader.Machine), machine);
        Put16(nt + offsetof(IMAGE_NT_HEADERS32, FileHeader.SizeOfOptionalHeader), optionalSize);
    }
    if (magicAt + 2 <= room)
        Put16(nt + magicAt, magic);
    if (characteristicsAt + 2 <= room)
        Put16(nt + characteristicsAt, dllCharacteristics);
    return s;
}

const WORD DynamicBase = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE;

TEST(ServicesExeHeaderVerdict, DynamicBaseFlagDecidesForBothLayouts)
{
    struct Case {
        const char* name;
        WORD dllCharacteristics;
        bool infected;
    } cases[] = {
        {"no flags", 0x0000, true},
        {"only dynamic base", DynamicBase, false},
        {"every flag", 0xFFFF, false},
        {"every flag but dynamic base", static_cast<WORD>(0xFFFF & ~DynamicBase), true},
        {"a linker's usual set", 0x8160, false},
        {"the usual set without dynamic base", 0x8120, true},
    };
    for (Layout layout : {Layout::Pe32, Layout::Pe32Plus}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(layout == Layout::Pe32 ? "PE32, " : "PE32+, ") + c.name);
            EXPECT_EQ(c.infected, SampleLacksDynamicBase(ImageSample(layout, 0xF0, c.dllCharacteristics).bytes));
        }
    }
}

TEST(ServicesExeHeaderVerdict, NtHeaderMustLieWhollyInsideTheSample)
{
    struct Case {
        LONG ntOffset;
        bool infected;
    } cases[] = {
        {4, true},     // overlapping the DOS header is no reason to stop
        {0x80, true},
        {3847, true},
        {3848, true},  // the last offset whose 32-bit NT header fits
        {3849, false},
        {4000, false},
        {4092, false},  // signature still inside, the header is not
        {4093, false},
        {0x10000, false},
        {-1, false},
        {-248, false},
        {LONG_MIN, false},
    };
    for (Layout layout : {Layout::Pe32, Layout::Pe32Plus}) {
        for (const Case& c : cases) {
            SCOPED_TRACE("e_lfanew " + std::to_string(c.ntOffset) + (layout == Layout::Pe32 ? " PE32" : " PE32+"));
            EXPECT_EQ(c.infected, SampleLacksDynamicBase(ImageSample(layout, c.ntOffset, 0).bytes));
        }
    }
}

TEST(ServicesExeHeaderVerdict, SignaturesMustBeExact)
{
    struct Case {
        const char* name;
        size_t at;  // 0: DOS magic, 1: NT signature
        const char bytes[5];
    } cases[] = {
        {"ZM", 0, "ZM"},
        {"lower-case mz", 0, "mz"},
        {"no DOS magic", 0, "\0\0"},
        {"MZ without PE", 1, "\0\0\0\0"},
        {"PE with a non-zero third byte", 1, "PE\1\0"},
        {"PE with a non-zero fourth byte", 1, "PE\0\1"},
        {"NE image", 1, "NE\0\0"},
        {"LE image", 1, "LE\0\0"},
        {"lower-case pe", 1, "pe\0\0"},
    };
    const LONG ntOffset = 0x100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sample s = ImageSample(Layout::Pe32, ntOffset, 0);
        if (c.at == 0)
            memcpy(s.bytes, c.bytes, 2);
        else
            memcpy(s.bytes + ntOffset, c.bytes, 4);
        EXPECT_FALSE(SampleLacksDynamicBase(s.bytes));
    }
    Sample zero;
    memset(zero.bytes, 0, sizeof zero.bytes);
    EXPECT_FALSE(SampleLacksDynamicBase(zero.bytes));
}

// Nothing but the four fields counts: a sample full of 0xFF elsewhere, with
// the flag clear, is infected; with the flag set, clean.
TEST(ServicesExeHeaderVerdict, OtherBytesDoNotMatter)
{
    for (WORD characteristics : {WORD(0), DynamicBase}) {
        Sample s;
        memset(s.bytes, 0xFF, sizeof s.bytes);
        Put16(s.bytes, IMAGE_DOS_SIGNATURE);
        Put32(s.bytes + 60, 3848);
        Put32(s.bytes + 3848, IMAGE_NT_SIGNATURE);
        Put16(s.bytes + 3848 + 94, characteristics);
        EXPECT_EQ(characteristics == 0, SampleLacksDynamicBase(s.bytes));
    }
}

class ServicesExeImageFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory_ = MakeScratchDirectory("check");
        ASSERT_FALSE(directory_.empty());
    }
    void TearDown() override { RemoveTree(directory_); }

    // An infected (or clean) header followed by filler up to size bytes.
    std::string WriteImage(const std::string& name, size_t size, WORD dllCharacteristics)
    {
        const Sample s = ImageSample(Layout::Pe32, 0x80, dllCharacteristics);
        std::string bytes(reinterpret_cast<const char*>(s.bytes), sizeof s.bytes);
        bytes.resize(size, '\x5A');
        const std::string path = directory_ + "\\" + name;
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        return path;
    }

    std::string directory_;
};

TEST_F(ServicesExeImageFileTest, OnlyFilesLargerThanTheSampleAreExamined)
{
    struct Case {
        size_t size;
        bool infected;
    } cases[] = {
        {0, false}, {1, false}, {64, false}, {4095, false}, {4096, false}, {4097, true}, {8192, true}, {300000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size));
        EXPECT_EQ(c.infected, ImageLacksDynamicBase(WriteImage("image.exe", c.size, 0).c_str()));
    }
    EXPECT_FALSE(ImageLacksDynamicBase(WriteImage("clean.exe", 4097, DynamicBase).c_str()));
}

TEST_F(ServicesExeImageFileTest, UnreadableOrMissingFileIsCleanButUnreadable)
{
    const std::string path = WriteImage("locked.exe", 8192, 0);
    ScopedHandle holder;
    struct Case {
        const char* name;
        std::string path;
        bool hold;  // held open by another party that shares nothing
    } cases[] = {
        {"missing file", directory_ + "\\missing.exe", false},
        {"missing directory", directory_ + "\\no such directory\\services.exe", false},
        {"a directory", directory_, false},
        {"empty path", "", false},
        {"file held open", path, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.hold) {
            holder = ScopedHandle(CreateFileA(c.path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(holder.IsValid());
        }
        EXPECT_FALSE(ImageLacksDynamicBase(c.path.c_str()));
        EXPECT_EQ(ImageVerdict::Unreadable, JudgeImage(c.path.c_str()));
    }
    holder.Close();
    {
        // Open for writing elsewhere: a read-only share is refused.
        ScopedHandle writer(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer.IsValid());
        EXPECT_EQ(ImageVerdict::Unreadable, JudgeImage(path.c_str()));
    }
    EXPECT_EQ(ImageVerdict::LacksDynamicBase, JudgeImage(path.c_str()));
    EXPECT_EQ(ImageVerdict::NotExamined, JudgeImage(WriteImage("small.exe", 4096, 0).c_str()));
    EXPECT_EQ(ImageVerdict::HasDynamicBase, JudgeImage(WriteImage("clean.exe", 4097, DynamicBase).c_str()));
}

// Images as the linker makes them, with and without --dynamicbase.
TEST(ServicesExeLinkedImage, LinkerDynamicBaseFlagIsRead)
{
    struct Case {
        const char* file;
        bool infected;
    } cases[] = {
        {"v6.1.7601.17514-nodyn.exe", true},
        {"v6.1.7601.17514-dyn.exe", false},
        {"noversion-nodyn.exe", true},
        {"noversion-dyn.exe", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = FixtureImagePath(c.file);
        ASSERT_TRUE(Exists(path)) << path;
        EXPECT_EQ(c.infected, ImageLacksDynamicBase(path.c_str()));
    }
}

TEST(ServicesExeLinkedImage, OtherPointerWidthGivesTheSameVerdict)
{
    const std::string dyn = FixtureImagePath("otherwidth-dyn.exe");
    const std::string nodyn = FixtureImagePath("otherwidth-nodyn.exe");
    if (!Exists(dyn) || !Exists(nodyn))
        GTEST_SKIP() << "no compiler for the other pointer width in this build";
    EXPECT_FALSE(ImageLacksDynamicBase(dyn.c_str()));
    EXPECT_TRUE(ImageLacksDynamicBase(nodyn.c_str()));
}

// services.exe in the prefix's native system directory. A 32-bit test under
// WoW64 plants and removes it with redirection off, where the check looks;
// the check switches redirection off itself.
class ServicesExeInSystemDirectoryTest : public ::testing::Test {
protected:
    static std::string ImagePath()
    {
        char directory[MAX_PATH];
        const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
        return length != 0 && length < MAX_PATH ? std::string(directory) + "\\services.exe" : std::string();
    }
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
    void TearDown() override
    {
        FsRedirectionGuard native;
        DeleteFileA(ImagePath().c_str());
    }
};

TEST_F(ServicesExeInSystemDirectoryTest, VerdictFollowsThePlantedImage)
{
    struct Case {
        const char* name;
        std::string source;  // empty: no image at all
        bool hold;           // held open by another party that shares nothing
        ServicesExeVerdict verdict;
    } cases[] = {
        {"Wine's own service manager", StockCopyPath(), false, ServicesExeVerdict::Clean},
        {"image without dynamic base", FixtureImagePath("v6.1.7601.17514-nodyn.exe"), false,
         ServicesExeVerdict::Infected},
        {"image with dynamic base", FixtureImagePath("v6.1.7601.17514-dyn.exe"), false, ServicesExeVerdict::Clean},
        {"no image", std::string(), false, ServicesExeVerdict::Unchecked},
        {"image the program cannot open", FixtureImagePath("v6.1.7601.17514-nodyn.exe"), true,
         ServicesExeVerdict::Unchecked},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedHandle holder;
        {
            FsRedirectionGuard native;
            DeleteFileA(ImagePath().c_str());
            if (!c.source.empty()) {
                ASSERT_TRUE(PlantCopy(c.source, ImagePath()));
            }
            if (c.hold) {
                holder = ScopedHandle(CreateFileA(ImagePath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
                ASSERT_TRUE(holder.IsValid());
            }
        }
        LogCapture capture;
        EXPECT_EQ(c.verdict, CheckServicesExe());
        EXPECT_EQ(c.verdict == ServicesExeVerdict::Infected, ServicesExeIsInfected());
        EXPECT_TRUE(capture.Lines().empty());
    }
}

// Under WoW64 a different file in the 32-bit system directory changes nothing:
// the native image is judged.
TEST_F(ServicesExeInSystemDirectoryTest, TheNativeImageIsJudgedNotThe32BitOne)
{
    if (!IsWow64()) {
        std::printf("[ NOTE     ] no WoW64 in this process: one system directory, nothing to tell apart\n");
        return;
    }
    {
        FsRedirectionGuard native;
        ASSERT_TRUE(PlantCopy(FixtureImagePath("v6.1.7601.17514-nodyn.exe"), ImagePath()));
    }
    // Seen by this 32-bit process with redirection on: the 32-bit directory.
    ASSERT_TRUE(PlantCopy(FixtureImagePath("v6.1.7601.17514-dyn.exe"), ImagePath()));
    EXPECT_EQ(ServicesExeVerdict::Infected, CheckServicesExe());
    DeleteFileA(ImagePath().c_str());
}

}  // namespace
