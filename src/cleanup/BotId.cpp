#include "cleanup/BotId.h"

#include <winternl.h>

#include <cstring>

#include "win/ScopedCrypt.h"
#include "win/SystemFunction.h"

namespace {

const LONG kStatusSuccess = 0;
const LONG kStatusBufferOverflow = static_cast<LONG>(0x80000005);
const ULONG kNamedStreamsAndReparsePoints = 0x00040000 | 0x00000080;
const ULONG kFileFsVolumeInformation = 1;
const ULONG kFileFsAttributeInformation = 5;
// FILE_FS_VOLUME_INFORMATION: the label follows 18 bytes of fixed fields
// (creation time, serial number, label length, object support); a volume
// label has at most 32 characters.
const ULONG kVolumeLabelOffset = 18;
const ULONG kLongestVolumeLabelBytes = 32 * sizeof(wchar_t);
const ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const ULONG kSynchronousIoNonAlert = 0x00000020;
const wchar_t kSystemRootName[] = L"\\systemroot";

typedef LONG(NTAPI* NtOpenFileFunction)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*, ULONG, ULONG);
typedef LONG(NTAPI* NtCloseFunction)(HANDLE);

template <typename Function>
Function FindNtdllFunction(const char* name)
{
    return LookUpSystemFunction<Function>(L"ntdll.dll", name);
}

// Owns a handle from NtOpenFile; closes it with NtClose.
class NtFileHandle {
public:
    explicit NtFileHandle(NtCloseFunction close) : close_(close), handle_(nullptr) {}
    ~NtFileHandle()
    {
        if (handle_ != nullptr)
            close_(handle_);
    }
    NtFileHandle(const NtFileHandle&) = delete;
    NtFileHandle& operator=(const NtFileHandle&) = delete;

    HANDLE Get() const { return handle_; }
    HANDLE* Receive() { return &handle_; }

private:
    NtCloseFunction close_;
    HANDLE handle_;
};

bool Md5Digest(const BYTE* data, DWORD size, BYTE digest[16])
{
    ScopedCryptProvider provider;
    if (!CryptAcquireContextW(provider.Receive(), nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        return false;
    ScopedCryptHash hash;
    if (!CryptCreateHash(provider.Get(), CALG_MD5, 0, 0, hash.Receive()))
        return false;
    if (!CryptHashData(hash.Get(), data, size, 0))
        return false;
    DWORD length = 16;
    return CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &length, 0) && length == 16;
}

}  // namespace

void QueryOpenVolume(VolumeInformationQuery query, HANDLE file, VolumeFacts* facts)
{
    // FILE_FS_ATTRIBUTE_INFORMATION: only FileSystemAttributes (offset 0) is
    // read; the file-system name does not fit and is not needed.
    IO_STATUS_BLOCK io = {};
    alignas(8) BYTE attributeBuffer[16] = {};
    facts->attributeStatus =
        query(file, &io, attributeBuffer, sizeof(attributeBuffer), kFileFsAttributeInformation);
    memcpy(&facts->fileSystemAttributes, attributeBuffer, sizeof(facts->fileSystemAttributes));

    // FILE_FS_VOLUME_INFORMATION: VolumeCreationTime is its first 8 bytes.
    alignas(8) BYTE volumeBuffer[kVolumeLabelOffset + kLongestVolumeLabelBytes] = {};
    io.Information = 0;
    facts->volumeStatus = query(file, &io, volumeBuffer, sizeof(volumeBuffer), kFileFsVolumeInformation);
    facts->volumeBytes = io.Information;
    memcpy(facts->creationTime, volumeBuffer, sizeof(facts->creationTime));
}

bool QueryVolumeFacts(const wchar_t* nativeName, VolumeFacts* facts)
{
    const NtOpenFileFunction ntOpenFile = FindNtdllFunction<NtOpenFileFunction>("NtOpenFile");
    const VolumeInformationQuery ntQueryVolume =
        FindNtdllFunction<VolumeInformationQuery>("NtQueryVolumeInformationFile");
    const NtCloseFunction ntClose = FindNtdllFunction<NtCloseFunction>("NtClose");
    if (ntOpenFile == nullptr || ntQueryVolume == nullptr || ntClose == nullptr)
        return false;

    const size_t nameBytes = static_cast<size_t>(lstrlenW(nativeName)) * sizeof(wchar_t);
    if (nameBytes > 0xFFFC)
        return false;
    UNICODE_STRING name;
    name.Length = static_cast<USHORT>(nameBytes);
    name.MaximumLength = static_cast<USHORT>(nameBytes + sizeof(wchar_t));
    name.Buffer = const_cast<wchar_t*>(nativeName);
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof(attributes);
    attributes.ObjectName = &name;

    NtFileHandle file(ntClose);
    IO_STATUS_BLOCK io = {};
    ntOpenFile(file.Receive(), FILE_GENERIC_READ, &attributes, &io, kShareAll, kSynchronousIoNonAlert);
    if (file.Get() == nullptr)
        return false;

    QueryOpenVolume(ntQueryVolume, file.Get(), facts);
    return true;
}

bool QuerySystemVolume(VolumeFacts* facts)
{
    return QueryVolumeFacts(kSystemRootName, facts);
}

bool FormatBotId(const BYTE digest[16], wchar_t* botId)
{
    const unsigned data1 = static_cast<unsigned>(digest[0]) | static_cast<unsigned>(digest[1]) << 8 |
                           static_cast<unsigned>(digest[2]) << 16 | static_cast<unsigned>(digest[3]) << 24;
    const unsigned data2 = static_cast<unsigned>(digest[4]) | static_cast<unsigned>(digest[5]) << 8;
    const unsigned data3 = static_cast<unsigned>(digest[6]) | static_cast<unsigned>(digest[7]) << 8;
    wchar_t text[kBotIdCapacity + 8];
    const int length = wsprintfW(text, L"$%08x%04x%04x%02x%02x%02x%02x%02x%02x%02x%02x", data1, data2, data3,
                                 digest[8], digest[9], digest[10], digest[11], digest[12], digest[13],
                                 digest[14], digest[15]);
    if (length != static_cast<int>(kBotIdCapacity) - 1)
        return false;
    memcpy(botId, text, kBotIdCapacity * sizeof(wchar_t));
    return true;
}

bool BotIdFromVolumeFacts(const VolumeFacts& facts, wchar_t* botId)
{
    // The attribute buffer is too small for the file-system name, so an
    // overflow is the normal answer; the volume query must be complete.
    if (facts.attributeStatus != kStatusSuccess && facts.attributeStatus != kStatusBufferOverflow)
        return false;
    if ((facts.fileSystemAttributes & kNamedStreamsAndReparsePoints) != kNamedStreamsAndReparsePoints)
        return false;
    // A longer label than the file system's own may still overflow; the
    // creation time is in the fixed part, so that part being whole is enough.
    const bool fixedPartComplete =
        facts.volumeStatus == kStatusBufferOverflow && facts.volumeBytes >= kVolumeLabelOffset;
    if (facts.volumeStatus != kStatusSuccess && !fixedPartComplete)
        return false;
    BYTE digest[16];
    if (!Md5Digest(facts.creationTime, sizeof(facts.creationTime), digest))
        return false;
    return FormatBotId(digest, botId);
}

bool GenerateBotIdWith(VolumeQuery query, wchar_t* botId)
{
    VolumeFacts facts = {};
    if (!query(&facts))
        return false;
    return BotIdFromVolumeFacts(facts, botId);
}

bool GenerateBotId(wchar_t* botId)
{
    return GenerateBotIdWith(QuerySystemVolume, botId);
}
