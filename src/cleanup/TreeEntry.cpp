#include "cleanup/TreeEntry.h"

#include "cleanup/FilePermissions.h"

namespace {

// Others may read and write while the removal holds an entry, never delete
// or rename it.
const ULONG kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
// The entry itself (a link is not followed), as a backup program opens it:
// with the backup and restore privileges enabled, whatever its DACL says.
const ULONG kEntryOptions = FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT;
const ACCESS_MASK kSecurityAccess = READ_CONTROL | WRITE_DAC | WRITE_OWNER;
const ACCESS_MASK kEntryAccess = kSecurityAccess | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
const ACCESS_MASK kListingAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE;
const ULONG kKindAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

// What the handle says of the entry: its attributes, file ID and names.
struct HandleFacts {
    ULONG attributes;
    LONGLONG fileId;
    ULONG links;
};

bool QueryHandleFacts(const NtFileApi& api, HANDLE file, HandleFacts* facts)
{
    // The fixed parts of the basic, standard and internal information; the
    // name that follows them may not fit, which the overflow status says.
    alignas(8) BYTE buffer[sizeof(FILE_ALL_INFORMATION) + 64];
    IO_STATUS_BLOCK io = {};
    const LONG status = api.queryInformation(file, &io, buffer, sizeof(buffer), FileAllInformation);
    if (status < 0 && status != kStatusBufferOverflow)
        return false;
    const FILE_ALL_INFORMATION* all = reinterpret_cast<const FILE_ALL_INFORMATION*>(buffer);
    facts->attributes = all->BasicInformation.FileAttributes;
    facts->fileId = all->InternalInformation.IndexNumber.QuadPart;
    facts->links = all->StandardInformation.NumberOfLinks;
    return true;
}

bool SameEntry(const HandleFacts& facts, const ListedEntry& listed)
{
    return facts.fileId == listed.fileId && (facts.attributes & kKindAttributes) == (listed.attributes & kKindAttributes);
}

}  // namespace

TreeEntry::TreeEntry()
    : attributes(0),
      replaced(false),
      directory(false),
      link(false),
      shared(false),
      deletable(false),
      lockedDown(false)
{
}

void OpenTreeEntry(const NtFileApi& api, HANDLE parent, const ListedEntry& listed, TreeEntry* entry)
{
    entry->attributes = listed.attributes;
    const bool listedDirectory = (listed.attributes & kKindAttributes) == FILE_ATTRIBUTE_DIRECTORY;
    const ACCESS_MASK access = kEntryAccess | (listedDirectory ? kListingAccess : 0);
    // A file the rootkit holds open without delete sharing can still have
    // its security changed; it cannot be deleted or moved.
    entry->deletable = true;
    if (OpenFileAt(api, parent, listed.name, listed.nameLength, access | DELETE, kShareReadWrite, FILE_OPEN,
                   kEntryOptions, nullptr, entry->handle.Receive()) < 0) {
        entry->deletable = false;
        if (OpenFileAt(api, parent, listed.name, listed.nameLength, access, kShareReadWrite, FILE_OPEN, kEntryOptions,
                       nullptr, entry->handle.Receive()) < 0)
            return;
    }
    HandleFacts facts;
    if (!QueryHandleFacts(api, entry->handle.Get(), &facts) || !SameEntry(facts, listed)) {
        entry->replaced = true;
        return;
    }
    entry->link = (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entry->directory = listedDirectory;
    // Security and attributes belong to the file, not to this name.
    entry->shared = !listedDirectory && !entry->link && facts.links != 1;
    if (!entry->shared)
        entry->lockedDown = LockDown(entry->handle.Get());
}

bool OpenPathDirectory(const NtFileApi& api, HANDLE parent, const ListedEntry* listed, const wchar_t* name,
                       size_t length, ScopedHandle* directory)
{
    if (OpenFileAt(api, parent, name, length, kListingAccess | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareReadWrite,
                   FILE_OPEN, kEntryOptions | FILE_DIRECTORY_FILE, nullptr, directory->Receive()) < 0)
        return false;
    HandleFacts facts;
    return QueryHandleFacts(api, directory->Get(), &facts) &&
           (facts.attributes & kKindAttributes) == FILE_ATTRIBUTE_DIRECTORY &&
           (listed == nullptr || SameEntry(facts, *listed));
}

LONG DeleteTreeEntry(const NtFileApi& api, TreeEntry* entry)
{
    IO_STATUS_BLOCK io = {};
    if (!entry->directory && !entry->link && !entry->shared) {
        // Zero times are left as they are.
        FILE_BASIC_INFORMATION basic = {};
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        api.setInformation(entry->handle.Get(), &io, &basic, sizeof(basic), FileBasicInformation);
    }
    FILE_DISPOSITION_INFORMATION disposition = {};
    disposition.DoDeleteFile = TRUE;
    return api.setInformation(entry->handle.Get(), &io, &disposition, sizeof(disposition),
                              FileDispositionInformation);
}
