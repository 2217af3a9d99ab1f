#pragma once
// The listing of one open directory, through its handle, a batch of entries
// at a time.
#include <windows.h>

#include <cstddef>

#include "cleanup/NtFile.h"

// One entry as the listing names it. name points into the listing's buffer
// and is not terminated; it is valid until the next call on the listing.
struct ListedEntry {
    const wchar_t* name;
    size_t nameLength;  // characters
    ULONG attributes;
    LONGLONG fileId;
};

class DirectoryListing {
public:
    DirectoryListing();
    ~DirectoryListing();
    DirectoryListing(const DirectoryListing&) = delete;
    DirectoryListing& operator=(const DirectoryListing&) = delete;

    // The next entry of the open directory, "." and ".." included; false when
    // the listing is complete or cannot go on.
    bool Next(DirectoryQuery query, HANDLE directory, ListedEntry* entry);

    // The entry called name, alone, on a directory handle that lists nothing
    // else; false when there is none.
    bool Find(DirectoryQuery query, HANDLE directory, const wchar_t* name, ListedEntry* entry);

private:
    bool Fill(DirectoryQuery query, HANDLE directory, UNICODE_STRING* only);
    bool Take(ListedEntry* entry);

    BYTE* buffer_;
    ULONG used_;
    ULONG offset_;
    bool complete_;
};

// "." or "..".
bool IsDotEntry(const ListedEntry& entry);
