#pragma once
// The native file calls the removal works through: opens relative to an open
// directory, listings, and information read and set through a handle. All
// exist since Windows XP; they are looked up in ntdll at run time.
#include <windows.h>
#include <winternl.h>

#include <cstddef>

typedef LONG(NTAPI* NtCreateFileFunction)(HANDLE* file, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes,
                                          IO_STATUS_BLOCK* io, LARGE_INTEGER* allocationSize, ULONG fileAttributes,
                                          ULONG shareAccess, ULONG disposition, ULONG options, void* eaBuffer,
                                          ULONG eaLength);

// NtQueryDirectoryFile: the seam for a test that changes the tree between a
// listing and the opens that follow it.
typedef LONG(NTAPI* DirectoryQuery)(HANDLE directory, HANDLE event, void* apcRoutine, void* apcContext,
                                    IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                                    FILE_INFORMATION_CLASS informationClass, BOOLEAN returnSingleEntry,
                                    UNICODE_STRING* fileName, BOOLEAN restartScan);

// NtQueryInformationFile and NtSetInformationFile.
typedef LONG(NTAPI* FileInformationCall)(HANDLE file, IO_STATUS_BLOCK* io, void* information, ULONG length,
                                         FILE_INFORMATION_CLASS informationClass);

struct NtFileApi {
    NtCreateFileFunction createFile;
    DirectoryQuery queryDirectory;
    FileInformationCall queryInformation;
    FileInformationCall setInformation;
};

// ntdll's functions, looked up once; null when ntdll lacks any of them.
const NtFileApi* LookUpNtFileApi();

const LONG kStatusSuccess = 0;
const LONG kStatusBufferOverflow = static_cast<LONG>(0x80000005);
const LONG kStatusNoMoreFiles = static_cast<LONG>(0x80000006);
const LONG kStatusObjectNameCollision = static_cast<LONG>(0xC0000035);
const LONG kStatusDirectoryNotEmpty = static_cast<LONG>(0xC0000101);

// Opens (or with FILE_CREATE creates) the object named by `length`
// characters of name: relative to the open directory root, or an absolute
// native name ("\??\C:\...") when root is null. security, when given, is the
// descriptor of a created object. Returns the status; *file is null on
// failure.
LONG OpenFileAt(const NtFileApi& api, HANDLE root, const wchar_t* name, size_t length, ACCESS_MASK access,
                ULONG share, ULONG disposition, ULONG options, SECURITY_DESCRIPTOR* security, HANDLE* file);
