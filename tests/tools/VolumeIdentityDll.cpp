// Loaded into a started program by the volume identity launcher. Replaces the
// main module's import of GetProcAddress, so that the program's run-time
// lookups of ntdll's NtOpenFile and NtQueryVolumeInformationFile get the
// wrappers below; every other lookup is answered by the real function.
//   NtOpenFile: "\systemroot", which Wine lacks, opens the root of the
//     Windows directory's drive.
//   NtQueryVolumeInformationFile: the attributes gain named streams and
//     reparse points, and the volume's creation time is the launcher's.
#include <windows.h>
#include <winternl.h>

#include <cstring>

#include "VolumeIdentity.h"

namespace {

typedef LONG(NTAPI* NtOpenFileFunction)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*, ULONG, ULONG);
typedef LONG(NTAPI* NtQueryVolumeFunction)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, ULONG);

const LONG kStatusBufferOverflow = static_cast<LONG>(0x80000005);
const ULONG kFileFsVolumeInformation = 1;
const ULONG kFileFsAttributeInformation = 5;
const ULONG kNamedStreamsAndReparsePoints = 0x00040000 | 0x00000080;
const wchar_t kSystemRootName[] = L"\\systemroot";

HMODULE ntdll = nullptr;
NtOpenFileFunction realOpenFile = nullptr;
NtQueryVolumeFunction realQueryVolume = nullptr;
unsigned long long creationTime = 0;
// "\??\C:\": the native name of the system drive's root.
wchar_t systemDriveRoot[8] = L"\\??\\C:\\";
UNICODE_STRING systemDriveName = {};

bool IsSystemRootName(const OBJECT_ATTRIBUTES* attributes)
{
    const size_t length = sizeof(kSystemRootName) / sizeof(wchar_t) - 1;
    return attributes != nullptr && attributes->RootDirectory == nullptr && attributes->ObjectName != nullptr &&
           attributes->ObjectName->Buffer != nullptr && attributes->ObjectName->Length == length * sizeof(wchar_t) &&
           _wcsnicmp(attributes->ObjectName->Buffer, kSystemRootName, length) == 0;
}

LONG NTAPI OpenFileWithSystemRoot(HANDLE* file, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes,
                                  IO_STATUS_BLOCK* io, ULONG share, ULONG options)
{
    if (!IsSystemRootName(attributes))
        return realOpenFile(file, access, attributes, io, share, options);
    OBJECT_ATTRIBUTES root = *attributes;
    root.ObjectName = &systemDriveName;
    return realOpenFile(file, access, &root, io, share, options);
}

LONG NTAPI QueryVolumeWithIdentity(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length, ULONG infoClass)
{
    const LONG status = realQueryVolume(file, io, buffer, length, infoClass);
    if (status != 0 && status != kStatusBufferOverflow)
        return status;
    // FILE_FS_ATTRIBUTE_INFORMATION starts with FileSystemAttributes,
    // FILE_FS_VOLUME_INFORMATION with VolumeCreationTime.
    BYTE* const answer = static_cast<BYTE*>(buffer);
    if (infoClass == kFileFsAttributeInformation && io->Information >= sizeof(ULONG)) {
        ULONG attributes;
        memcpy(&attributes, answer, sizeof(attributes));
        attributes |= kNamedStreamsAndReparsePoints;
        memcpy(answer, &attributes, sizeof(attributes));
    } else if (infoClass == kFileFsVolumeInformation && io->Information >= sizeof(creationTime)) {
        memcpy(answer, &creationTime, sizeof(creationTime));
    }
    return status;
}

// Through the generic function type, which converts to any other.
template <typename Function>
FARPROC AsFarProc(Function function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

FARPROC WINAPI GetProcAddressStandIn(HMODULE module, LPCSTR name)
{
    if (module == ntdll && !IS_INTRESOURCE(name)) {
        if (lstrcmpA(name, "NtOpenFile") == 0)
            return AsFarProc(OpenFileWithSystemRoot);
        if (lstrcmpA(name, "NtQueryVolumeInformationFile") == 0)
            return AsFarProc(QueryVolumeWithIdentity);
    }
    return GetProcAddress(module, name);
}

bool ReadCreationTime()
{
    wchar_t text[32];
    const DWORD length = GetEnvironmentVariableW(kCreationTimeVariable, text, 32);
    if (length != 16)
        return false;
    creationTime = 0;
    for (DWORD i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        const int digit = c >= L'0' && c <= L'9' ? c - L'0'
                          : c >= L'a' && c <= L'f' ? c - L'a' + 10
                          : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                                 : -1;
        if (digit < 0)
            return false;
        creationTime = creationTime << 4 | static_cast<unsigned>(digit);
    }
    return true;
}

bool FindSystemDrive()
{
    wchar_t windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length < 2 || length >= MAX_PATH || windows[1] != L':')
        return false;
    systemDriveRoot[4] = windows[0];
    systemDriveName.Buffer = systemDriveRoot;
    systemDriveName.Length = static_cast<USHORT>(lstrlenW(systemDriveRoot) * sizeof(wchar_t));
    systemDriveName.MaximumLength = static_cast<USHORT>(sizeof(systemDriveRoot));
    return true;
}

bool FindNtdllFunctions()
{
    ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr)
        return false;
    realOpenFile = reinterpret_cast<NtOpenFileFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "NtOpenFile")));
    realQueryVolume = reinterpret_cast<NtQueryVolumeFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "NtQueryVolumeInformationFile")));
    return realOpenFile != nullptr && realQueryVolume != nullptr;
}

// Points the module's import slots of kernel32's `function` at `replacement`;
// false when it imports no such function.
bool ReplaceImport(HMODULE module, const char* function, FARPROC replacement)
{
    BYTE* const base = reinterpret_cast<BYTE*>(module);
    const IMAGE_DOS_HEADER* const dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* const nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return false;
    bool replaced = false;
    for (const IMAGE_IMPORT_DESCRIPTOR* d =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         d->Name != 0; ++d) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), "kernel32.dll") != 0)
            continue;
        // The names, in the table that the loader leaves unchanged.
        const DWORD namesAt = d->OriginalFirstThunk != 0 ? d->OriginalFirstThunk : d->FirstThunk;
        const IMAGE_THUNK_DATA* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + namesAt);
        IMAGE_THUNK_DATA* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const IMAGE_IMPORT_BY_NAME* const byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), function) != 0)
                continue;
            DWORD protection = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE, &protection))
                return false;
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), protection, &protection);
            replaced = true;
        }
    }
    return replaced;
}

}  // namespace

// A failure refuses the load, so the launcher stops the program instead of
// letting it run without the identity.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    return ReadCreationTime() && FindSystemDrive() && FindNtdllFunctions() &&
           ReplaceImport(GetModuleHandleW(nullptr), "GetProcAddress", AsFarProc(GetProcAddressStandIn));
}
