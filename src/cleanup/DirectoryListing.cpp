#include "cleanup/DirectoryListing.h"

#include <cstddef>
#include <cstring>

#include "win/BoundedString.h"

namespace {

// Room for a few entries of the longest name (255 characters) and some
// dozens of short ones; one buffer per directory open in the walk.
const ULONG kBufferBytes = 2048;
const ULONG kNameOffset = offsetof(FILE_ID_BOTH_DIR_INFORMATION, FileName);

bool HasWildcard(const wchar_t* name)
{
    for (; *name != L'\0'; ++name) {
        if (*name == L'*' || *name == L'?' || *name == L'<' || *name == L'>' || *name == L'"')
            return true;
    }
    return false;
}

}  // namespace

DirectoryListing::DirectoryListing()
    : buffer_(static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, kBufferBytes))),
      used_(0),
      offset_(0),
      complete_(buffer_ == nullptr)
{
}

DirectoryListing::~DirectoryListing()
{
    if (buffer_ != nullptr)
        HeapFree(GetProcessHeap(), 0, buffer_);
}

bool DirectoryListing::Fill(DirectoryQuery query, HANDLE directory, UNICODE_STRING* only)
{
    IO_STATUS_BLOCK io = {};
    const LONG status = query(directory, nullptr, nullptr, nullptr, &io, buffer_, kBufferBytes,
                              FileIdBothDirectoryInformation, only != nullptr, only, only != nullptr);
    if (status < 0 || status == kStatusNoMoreFiles || io.Information == 0) {
        complete_ = true;
        return false;
    }
    used_ = io.Information < kBufferBytes ? static_cast<ULONG>(io.Information) : kBufferBytes;
    offset_ = 0;
    return true;
}

// The entry at offset_, checked to lie inside what the file system wrote;
// a malformed one ends the batch.
bool DirectoryListing::Take(ListedEntry* entry)
{
    FILE_ID_BOTH_DIR_INFORMATION fixed;
    if (used_ - offset_ < kNameOffset) {
        offset_ = used_;
        return false;
    }
    memcpy(&fixed, buffer_ + offset_, kNameOffset);
    const ULONG room = used_ - offset_ - kNameOffset;
    if (fixed.FileNameLength > room || fixed.FileNameLength % sizeof(wchar_t) != 0 || fixed.FileNameLength == 0) {
        offset_ = used_;
        return false;
    }
    entry->name = reinterpret_cast<const wchar_t*>(buffer_ + offset_ + kNameOffset);
    entry->nameLength = fixed.FileNameLength / sizeof(wchar_t);
    entry->attributes = fixed.FileAttributes;
    entry->fileId = fixed.FileId.QuadPart;
    const ULONG next = fixed.NextEntryOffset;
    if (next == 0 || next % sizeof(ULONG) != 0 || next > used_ - offset_)
        offset_ = used_;
    else
        offset_ += next;
    return true;
}

bool DirectoryListing::Next(DirectoryQuery query, HANDLE directory, ListedEntry* entry)
{
    while (true) {
        if (offset_ < used_ && Take(entry))
            return true;
        if (complete_ || !Fill(query, directory, nullptr))
            return false;
    }
}

bool DirectoryListing::Find(DirectoryQuery query, HANDLE directory, const wchar_t* name, ListedEntry* entry)
{
    // Without wildcards the file system matches the name itself, in any case.
    const size_t length = TextLength(name);
    if (complete_ || length == 0 || length * sizeof(wchar_t) > 0xFFFE || HasWildcard(name))
        return false;
    UNICODE_STRING only;
    only.Length = static_cast<USHORT>(length * sizeof(wchar_t));
    only.MaximumLength = only.Length;
    only.Buffer = const_cast<wchar_t*>(name);
    return Fill(query, directory, &only) && Take(entry) && entry->nameLength == length;
}

bool IsDotEntry(const ListedEntry& entry)
{
    return entry.name[0] == L'.' &&
           (entry.nameLength == 1 || (entry.nameLength == 2 && entry.name[1] == L'.'));
}
