#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cleanup/BotId.h"

namespace {

const LONG kSuccess = 0;
const LONG kBufferOverflow = static_cast<LONG>(0x80000005);
const LONG kInvalidDeviceRequest = static_cast<LONG>(0xC0000010);
// What NTFS reports: named streams, reparse points and more.
const ULONG kNtfsAttributes = 0x03E700FF;

VolumeFacts NtfsFacts(unsigned long long creationTime)
{
    VolumeFacts facts = {};
    facts.attributeStatus = kBufferOverflow;  // the file-system name does not fit
    facts.fileSystemAttributes = kNtfsAttributes;
    facts.volumeStatus = kSuccess;
    for (int i = 0; i < 8; ++i)
        facts.creationTime[i] = static_cast<BYTE>(creationTime >> (8 * i));
    return facts;
}

bool IsWellFormedBotId(const std::wstring& id)
{
    if (id.size() != 33 || id[0] != L'$')
        return false;
    for (size_t i = 1; i < id.size(); ++i)
        if (!((id[i] >= L'0' && id[i] <= L'9') || (id[i] >= L'a' && id[i] <= L'f')))
            return false;
    return true;
}

// An output buffer filled with a marker, to see whether it was written.
struct Output {
    wchar_t chars[MAX_PATH];
    Output() { wmemset(chars, L'#', MAX_PATH); }
    bool Untouched() const
    {
        for (wchar_t c : chars)
            if (c != L'#')
                return false;
        return true;
    }
};

TEST(BotIdFormat, DigestIsPrintedAsGuidWithoutBracesOrDashes)
{
    struct Case {
        BYTE digest[16];
        const wchar_t* expected;
    };
    const Case cases[] = {
        {{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f},
         L"$030201000504070608090a0b0c0d0e0f"},
        {{0}, L"$00000000000000000000000000000000"},
        {{0xff, 0xfe, 0xfd, 0xfc, 0xab, 0xcd, 0xef, 0x10, 0xa0, 0x0b, 0xc0, 0x0d, 0xe0, 0x0f, 0x01, 0x90},
         L"$fcfdfeffcdab10efa00bc00de00f0190"},
    };
    for (const Case& c : cases) {
        Output out;
        ASSERT_TRUE(FormatBotId(c.digest, out.chars));
        EXPECT_EQ(std::wstring(c.expected), out.chars);
    }
}

// Expected identifiers computed apart from the product, with another MD5:
// md5(creation time as 8 little-endian bytes), digest printed as a GUID.
TEST(BotIdFromVolume, IsTheMd5OfTheCreationTimeBytes)
{
    struct Case {
        unsigned long long creationTime;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {0x0000000000000000ULL, L"$2b36ea7dac3f008e956a4952a3d4f474"},
        {0x01CA04A5F3C4E000ULL, L"$cac4e31f0c1f71d6b06129af96211727"},
        {0x01D2C3B4A5968778ULL, L"$bb64f56e9527f0daf786dad8925fa29d"},
        {0xFFFFFFFFFFFFFFFFULL, L"$f456cbc2bfc56f65aca0986e7eba0308"},
    };
    for (const Case& c : cases) {
        Output out;
        ASSERT_TRUE(BotIdFromVolumeFacts(NtfsFacts(c.creationTime), out.chars)) << std::hex << c.creationTime;
        EXPECT_EQ(std::wstring(c.expected), out.chars);
        EXPECT_TRUE(IsWellFormedBotId(out.chars)) << out.chars;
    }
}

TEST(BotIdFromVolume, CompleteAttributeAnswerIsAcceptedToo)
{
    VolumeFacts facts = NtfsFacts(0x01CA04A5F3C4E000ULL);
    facts.attributeStatus = kSuccess;
    facts.fileSystemAttributes = 0x00040080;  // exactly the two that matter
    Output out;
    ASSERT_TRUE(BotIdFromVolumeFacts(facts, out.chars));
    EXPECT_EQ(std::wstring(L"$cac4e31f0c1f71d6b06129af96211727"), out.chars);
}

TEST(BotIdFromVolume, UnsuitableVolumeGivesNoIdentifierAndLeavesBufferAlone)
{
    struct Case {
        const char* what;
        LONG attributeStatus;
        ULONG attributes;
        LONG volumeStatus;
    };
    const Case cases[] = {
        {"no named streams (FAT32)", kBufferOverflow, 0x00000206, kSuccess},
        {"reparse points but no named streams", kBufferOverflow, kNtfsAttributes & ~0x00040000UL, kSuccess},
        {"named streams but no reparse points", kBufferOverflow, kNtfsAttributes & ~0x00000080UL, kSuccess},
        {"what Wine reports", kSuccess, 0x0000000A, kSuccess},
        {"attribute query failed", kInvalidDeviceRequest, kNtfsAttributes, kSuccess},
        {"volume query cut inside its fixed part", kBufferOverflow, kNtfsAttributes, kBufferOverflow},
        {"volume query failed", kBufferOverflow, kNtfsAttributes, kInvalidDeviceRequest},
    };
    for (const Case& c : cases) {
        VolumeFacts facts = NtfsFacts(0x01CA04A5F3C4E000ULL);
        facts.attributeStatus = c.attributeStatus;
        facts.fileSystemAttributes = c.attributes;
        facts.volumeStatus = c.volumeStatus;
        Output out;
        EXPECT_FALSE(BotIdFromVolumeFacts(facts, out.chars)) << c.what;
        EXPECT_TRUE(out.Untouched()) << c.what;
    }
}

bool NtfsVolume(VolumeFacts* facts)
{
    *facts = NtfsFacts(0x01D2C3B4A5968778ULL);
    return true;
}

bool UnreachableVolume(VolumeFacts*)
{
    return false;
}

TEST(GenerateBotId, GoesThroughTheVolumeQuery)
{
    Output out;
    ASSERT_TRUE(GenerateBotIdWith(NtfsVolume, out.chars));
    EXPECT_EQ(std::wstring(L"$bb64f56e9527f0daf786dad8925fa29d"), out.chars);

    Output none;
    EXPECT_FALSE(GenerateBotIdWith(UnreachableVolume, none.chars));
    EXPECT_TRUE(none.Untouched());
}

TEST(BotIdFromVolume, OverflowIsAcceptedOnceTheFixedPartIsWhole)
{
    VolumeFacts facts = NtfsFacts(0x01CA04A5F3C4E000ULL);
    facts.volumeStatus = kBufferOverflow;
    facts.volumeBytes = 17;  // one byte short of the label's offset
    Output cut;
    EXPECT_FALSE(BotIdFromVolumeFacts(facts, cut.chars));
    EXPECT_TRUE(cut.Untouched());
    facts.volumeBytes = 18;
    Output out;
    ASSERT_TRUE(BotIdFromVolumeFacts(facts, out.chars));
    EXPECT_EQ(std::wstring(L"$cac4e31f0c1f71d6b06129af96211727"), out.chars);
}

// A stand-in for NTFS's answer to the two volume queries: the fixed part,
// then as much of the label as the buffer holds, overflow when it is cut.
const ULONG kLabelOffset = 18;
const LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
size_t volumeLabelLength = 0;

LONG NTAPI LabelledNtfsVolume(HANDLE, IO_STATUS_BLOCK* io, void* buffer, ULONG length, ULONG informationClass)
{
    BYTE* out = static_cast<BYTE*>(buffer);
    if (informationClass == 5) {  // the attributes; the name "NTFS" does not fit in 16 bytes
        if (length < 12)
            return kInfoLengthMismatch;
        const ULONG fields[3] = {kNtfsAttributes, 255, 8};
        memcpy(out, fields, sizeof(fields));
        io->Information = length;
        return kBufferOverflow;
    }
    if (informationClass != 1 || length < 24)
        return kInfoLengthMismatch;
    const unsigned long long creationTime = 0x01D2C3B4A5968778ULL;
    const ULONG serial = 0x5A5AA5A5;
    const ULONG labelBytes = static_cast<ULONG>(volumeLabelLength * sizeof(wchar_t));
    memcpy(out, &creationTime, 8);
    memcpy(out + 8, &serial, 4);
    memcpy(out + 12, &labelBytes, 4);
    out[16] = 1;
    const ULONG room = length - kLabelOffset;
    const ULONG copied = labelBytes < room ? labelBytes : room;
    for (ULONG i = 0; i < copied; ++i)
        out[kLabelOffset + i] = (i % 2 == 0) ? static_cast<BYTE>('A' + (i / 2) % 26) : 0;
    io->Information = kLabelOffset + copied;
    return copied < labelBytes ? kBufferOverflow : kSuccess;
}

TEST(QueryOpenVolume, ALabelledSystemVolumeGivesTheSameIdentifier)
{
    // Up to 3 characters fitted the first 24-byte buffer; OEM labels such as
    // "Windows7_OS" did not. 32 is the longest label a volume can have; a file
    // system with still longer labels overflows after the fixed part.
    for (size_t length : {0u, 3u, 4u, 11u, 32u, 40u}) {
        SCOPED_TRACE(length);
        volumeLabelLength = length;
        VolumeFacts facts = {};
        QueryOpenVolume(LabelledNtfsVolume, nullptr, &facts);
        EXPECT_EQ(length <= 32 ? kSuccess : kBufferOverflow, facts.volumeStatus);
        Output out;
        ASSERT_TRUE(BotIdFromVolumeFacts(facts, out.chars));
        EXPECT_EQ(std::wstring(L"$bb64f56e9527f0daf786dad8925fa29d"), out.chars);
    }
}

// Wine has no "\systemroot" object: the real derivation takes its failure path.
TEST(GenerateBotId, FailsUnderWineWithoutWritingTheBuffer)
{
    VolumeFacts facts = {};
    EXPECT_FALSE(QuerySystemVolume(&facts));
    Output out;
    EXPECT_FALSE(GenerateBotId(out.chars));
    EXPECT_TRUE(out.Untouched());
}

// The real queries on a volume Wine can open: both answers arrive, and Wine's
// attributes (no named streams, no reparse points) give no identifier.
TEST(QueryVolumeFacts, AsksTheVolumeOfAnOpenableDirectory)
{
    VolumeFacts facts = {};
    ASSERT_TRUE(QueryVolumeFacts(L"\\??\\C:\\windows", &facts));
    EXPECT_TRUE(facts.attributeStatus == kSuccess || facts.attributeStatus == kBufferOverflow)
        << std::hex << facts.attributeStatus;
    EXPECT_EQ(0x0000000AUL, facts.fileSystemAttributes);
    Output out;
    EXPECT_FALSE(BotIdFromVolumeFacts(facts, out.chars));
    EXPECT_TRUE(out.Untouched());

    EXPECT_FALSE(QueryVolumeFacts(L"\\??\\C:\\no such directory", &facts));
}

}  // namespace
