#include "cleanup/ServicesExeCheck.h"

#include "cleanup/ServicesExePath.h"
#include "win/ScopedHandle.h"

namespace {

const DWORD NtHeaderOffsetField = 60;  // e_lfanew
// Signature, file header and 32-bit optional header (248 bytes) must lie
// inside the sample, so the flag below is always inside it too.
const DWORD MaxNtHeaderOffset = HeaderSampleSize - 248;
// Offset 70 of the optional header, the same in PE32 and PE32+.
const DWORD DllCharacteristicsOffset = 94;
const WORD DynamicBaseFlag = 0x0040;

WORD ReadLittleEndian16(const unsigned char* bytes)
{
    return static_cast<WORD>(bytes[0] | (bytes[1] << 8));
}

DWORD ReadLittleEndian32(const unsigned char* bytes)
{
    return static_cast<DWORD>(bytes[0]) | (static_cast<DWORD>(bytes[1]) << 8) |
           (static_cast<DWORD>(bytes[2]) << 16) | (static_cast<DWORD>(bytes[3]) << 24);
}

bool ReadHeaderSample(const char* path, unsigned char (&sample)[HeaderSampleSize])
{
    ScopedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    // Low part only: a failed query (INVALID_FILE_SIZE) passes, the read decides.
    if (GetFileSize(file.Get(), nullptr) <= HeaderSampleSize)
        return false;
    DWORD read = 0;
    return ReadFile(file.Get(), sample, HeaderSampleSize, &read, nullptr) && read == HeaderSampleSize;
}

}  // namespace

bool SampleLacksDynamicBase(const unsigned char (&sample)[HeaderSampleSize])
{
    if (ReadLittleEndian16(sample) != IMAGE_DOS_SIGNATURE)
        return false;
    // e_lfanew is signed; a negative value read unsigned exceeds the limit too.
    const DWORD ntHeaderOffset = ReadLittleEndian32(sample + NtHeaderOffsetField);
    if (ntHeaderOffset > MaxNtHeaderOffset)
        return false;
    if (ReadLittleEndian32(sample + ntHeaderOffset) != IMAGE_NT_SIGNATURE)
        return false;
    return (ReadLittleEndian16(sample + ntHeaderOffset + DllCharacteristicsOffset) & DynamicBaseFlag) == 0;
}

bool ImageLacksDynamicBase(const char* path)
{
    unsigned char sample[HeaderSampleSize];
    if (!ReadHeaderSample(path, sample))
        return false;
    return SampleLacksDynamicBase(sample);
}

bool ServicesExeIsInfected()
{
    char path[MAX_PATH];
    if (!FormServicesExePath(path))
        return false;
    return ImageLacksDynamicBase(path);
}
