#include "cleanup/NtFile.h"

#include "win/SystemFunction.h"

namespace {

template <typename Function>
Function LookUpNtdll(const char* name)
{
    return LookUpSystemFunction<Function>(L"ntdll.dll", name);
}

// The largest name a counted string can hold, in characters.
const size_t kLongestCountedName = 0x7FFE;

}  // namespace

const NtFileApi* LookUpNtFileApi()
{
    static const NtFileApi api = {
        LookUpNtdll<NtCreateFileFunction>("NtCreateFile"),
        LookUpNtdll<DirectoryQuery>("NtQueryDirectoryFile"),
        LookUpNtdll<FileInformationCall>("NtQueryInformationFile"),
        LookUpNtdll<FileInformationCall>("NtSetInformationFile"),
    };
    const bool complete = api.createFile != nullptr && api.queryDirectory != nullptr &&
                          api.queryInformation != nullptr && api.setInformation != nullptr;
    return complete ? &api : nullptr;
}

LONG OpenFileAt(const NtFileApi& api, HANDLE root, const wchar_t* name, size_t length, ACCESS_MASK access,
                ULONG share, ULONG disposition, ULONG options, SECURITY_DESCRIPTOR* security, HANDLE* file)
{
    *file = nullptr;
    if (length > kLongestCountedName)
        return static_cast<LONG>(0xC0000033);  // STATUS_OBJECT_NAME_INVALID
    UNICODE_STRING counted;
    counted.Length = static_cast<USHORT>(length * sizeof(wchar_t));
    counted.MaximumLength = counted.Length;
    counted.Buffer = const_cast<wchar_t*>(name);
    // Names compare as Windows compares them, whatever the case of the
    // listing that produced them.
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof(attributes);
    attributes.RootDirectory = root;
    attributes.ObjectName = &counted;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    attributes.SecurityDescriptor = security;
    IO_STATUS_BLOCK io = {};
    const LONG status = api.createFile(file, access, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                                       disposition, options, nullptr, 0);
    if (status < 0)
        *file = nullptr;
    return status;
}
