#include "cleanup/ServicesExeCheck.h"

#include "cleanup/ServicesExePath.h"
#include "win/ScopedHandle.h"
#include "win/Wow64.h"

namespace {

const DWORD NtHeaderOffsetField = 60;  // e_lfanew
// Signature, file header and 32-bit optional header (248 bytes) must lie
// inside the sample, so the flag below is always inside it too.
const DWORD MaxNtHeaderOffset = HeaderSampleSize - 248;
// Offset 70 of the optional header, the same in PE32 and PE32+.
const DWORD DllCharacteristicsOffset = 94;
const WORD DynamicBaseFlag = 0x0040;
// The file header's first field, right after the signature.
const DWORD MachineOffset = 4;

WORD ReadLittleEndian16(const unsigned char* bytes)
{
    return static_cast<WORD>(bytes[0] | (bytes[1] << 8));
}

DWORD ReadLittleEndian32(const unsigned char* bytes)
{
    return static_cast<DWORD>(bytes[0]) | (static_cast<DWORD>(bytes[1]) << 8) |
           (static_cast<DWORD>(bytes[2]) << 16) | (static_cast<DWORD>(bytes[3]) << 24);
}

enum class SampleRead { Done, TooSmall, Failed };

SampleRead ReadHeaderSample(const char* path, unsigned char (&sample)[HeaderSampleSize])
{
    ScopedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return SampleRead::Failed;
    // Low part only: a failed query (INVALID_FILE_SIZE) passes, the read decides.
    if (GetFileSize(file.Get(), nullptr) <= HeaderSampleSize)
        return SampleRead::TooSmall;
    DWORD read = 0;
    if (!ReadFile(file.Get(), sample, HeaderSampleSize, &read, nullptr) || read != HeaderSampleSize)
        return SampleRead::Failed;
    return SampleRead::Done;
}

// Where the sample's NT header starts; false when the sample holds no DOS
// header or no NT header wholly inside it.
bool FindNtHeader(const unsigned char (&sample)[HeaderSampleSize], DWORD* offset)
{
    if (ReadLittleEndian16(sample) != IMAGE_DOS_SIGNATURE)
        return false;
    // e_lfanew is signed; a negative value read unsigned exceeds the limit too.
    const DWORD ntHeaderOffset = ReadLittleEndian32(sample + NtHeaderOffsetField);
    if (ntHeaderOffset > MaxNtHeaderOffset)
        return false;
    if (ReadLittleEndian32(sample + ntHeaderOffset) != IMAGE_NT_SIGNATURE)
        return false;
    *offset = ntHeaderOffset;
    return true;
}

bool ReadDllCharacteristics(const unsigned char (&sample)[HeaderSampleSize], WORD* characteristics)
{
    DWORD ntHeaderOffset = 0;
    if (!FindNtHeader(sample, &ntHeaderOffset))
        return false;
    *characteristics = ReadLittleEndian16(sample + ntHeaderOffset + DllCharacteristicsOffset);
    return true;
}

}  // namespace

bool SampleLacksDynamicBase(const unsigned char (&sample)[HeaderSampleSize])
{
    WORD characteristics = 0;
    return ReadDllCharacteristics(sample, &characteristics) && (characteristics & DynamicBaseFlag) == 0;
}

ImageVerdict JudgeImage(const char* path)
{
    unsigned char sample[HeaderSampleSize];
    const SampleRead read = ReadHeaderSample(path, sample);
    if (read == SampleRead::Failed)
        return ImageVerdict::Unreadable;
    WORD characteristics = 0;
    if (read == SampleRead::TooSmall || !ReadDllCharacteristics(sample, &characteristics))
        return ImageVerdict::NotExamined;
    return (characteristics & DynamicBaseFlag) == 0 ? ImageVerdict::LacksDynamicBase : ImageVerdict::HasDynamicBase;
}

bool ReadImageMachine(const char* path, WORD* machine)
{
    unsigned char sample[HeaderSampleSize];
    DWORD ntHeaderOffset = 0;
    if (ReadHeaderSample(path, sample) != SampleRead::Done || !FindNtHeader(sample, &ntHeaderOffset))
        return false;
    *machine = ReadLittleEndian16(sample + ntHeaderOffset + MachineOffset);
    return true;
}

bool ImageLacksDynamicBase(const char* path)
{
    return JudgeImage(path) == ImageVerdict::LacksDynamicBase;
}

ServicesExeVerdict CheckServicesExe()
{
    char path[MAX_PATH];
    if (!FormServicesExePath(path))
        return ServicesExeVerdict::Unchecked;
    ImageVerdict verdict;
    {
        FsRedirectionGuard nativeSystemDirectory;
        verdict = JudgeImage(path);
    }
    switch (verdict) {
    case ImageVerdict::LacksDynamicBase:
        return ServicesExeVerdict::Infected;
    case ImageVerdict::Unreadable:
        return ServicesExeVerdict::Unchecked;
    default:
        return ServicesExeVerdict::Clean;
    }
}

bool ServicesExeIsInfected()
{
    return CheckServicesExe() == ServicesExeVerdict::Infected;
}
