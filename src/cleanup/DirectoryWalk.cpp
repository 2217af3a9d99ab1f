#include "cleanup/DirectoryWalk.h"

#include <windows.h>

#include "cleanup/WidePath.h"
#include "logging/Log.h"

namespace {

const wchar_t kAllEntries[] = L"*.*";

// One directory being listed: its open search and the length of its path.
struct Level {
    HANDLE search;
    size_t pathLength;
};

// The directories from the walk's root down to the one being listed. Held on
// the heap rather than the call stack, so that a planted tree of any depth
// cannot exhaust the stack; owns every open search.
class LevelStack {
public:
    LevelStack(RefusedListingCallback refused, FindFirstFunction findFirst)
        : levels_(nullptr), count_(0), capacity_(0), refused_(refused), findFirst_(findFirst)
    {
    }
    ~LevelStack()
    {
        while (count_ > 0)
            Pop();
        if (levels_ != nullptr)
            HeapFree(GetProcessHeap(), 0, levels_);
    }
    LevelStack(const LevelStack&) = delete;
    LevelStack& operator=(const LevelStack&) = delete;

    size_t Count() const { return count_; }
    Level& Top() { return levels_[count_ - 1]; }

    // Starts listing the directory in path (pathLength characters), leaving
    // path as it was. False when the search cannot be started; the first
    // entry is then not in data.
    bool Open(wchar_t* path, size_t pathLength, WIN32_FIND_DATAW* data)
    {
        bool accessDenied = false;
        HANDLE search = Find(path, pathLength, data, &accessDenied);
        if (search == INVALID_HANDLE_VALUE && accessDenied && refused_ != nullptr && refused_(path))
            search = Find(path, pathLength, data, &accessDenied);
        if (search == INVALID_HANDLE_VALUE)
            return false;
        if (!Reserve()) {
            FindClose(search);
            LogInfo(L"Failed to walk directory %ws", path);
            return false;
        }
        levels_[count_].search = search;
        levels_[count_].pathLength = pathLength;
        ++count_;
        return true;
    }

    void Pop()
    {
        --count_;
        FindClose(levels_[count_].search);
    }

private:
    HANDLE Find(wchar_t* path, size_t pathLength, WIN32_FIND_DATAW* data, bool* accessDenied)
    {
        *accessDenied = false;
        if (!JoinPath(path, kLongPathCapacity, kAllEntries)) {
            LogInfo(L"Failed to form path for %ws in %ws", kAllEntries, path);
            return INVALID_HANDLE_VALUE;
        }
        const HANDLE search = findFirst_(path, data);
        *accessDenied = search == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED;
        path[pathLength] = L'\0';
        return search;
    }

    bool Reserve()
    {
        if (count_ < capacity_)
            return true;
        const size_t capacity = capacity_ == 0 ? 32 : capacity_ * 2;
        void* grown = levels_ == nullptr
                          ? HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(Level))
                          : HeapReAlloc(GetProcessHeap(), 0, levels_, capacity * sizeof(Level));
        if (grown == nullptr)
            return false;
        levels_ = static_cast<Level*>(grown);
        capacity_ = capacity;
        return true;
    }

    Level* levels_;
    size_t count_;
    size_t capacity_;
    const RefusedListingCallback refused_;
    const FindFirstFunction findFirst_;
};

// The path of the entry being visited, extended and cut back as the walk
// goes down and up.
class PathBuffer {
public:
    PathBuffer()
        : chars_(static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, kLongPathCapacity * sizeof(wchar_t))))
    {
    }
    ~PathBuffer()
    {
        if (chars_ != nullptr)
            HeapFree(GetProcessHeap(), 0, chars_);
    }
    PathBuffer(const PathBuffer&) = delete;
    PathBuffer& operator=(const PathBuffer&) = delete;

    wchar_t* Get() const { return chars_; }

private:
    wchar_t* chars_;
};

bool IsDotEntry(const wchar_t* name)
{
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

bool IsWalkableDirectory(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

size_t Length(const wchar_t* text)
{
    return static_cast<size_t>(lstrlenW(text));
}

}  // namespace

void WalkDirectory(const wchar_t* dir, WalkCallback callback, RefusedListingCallback refused,
                   FindFirstFunction findFirst)
{
    PathBuffer buffer;
    wchar_t* const path = buffer.Get();
    if (path == nullptr || !CopyBounded(path, kLongPathCapacity, dir)) {
        LogInfo(L"Failed to walk directory %ws", dir);
        return;
    }

    LevelStack levels(refused, findFirst);
    WIN32_FIND_DATAW data;
    if (!levels.Open(path, Length(path), &data))
        return;

    bool haveEntry = true;
    while (levels.Count() > 0) {
        if (!haveEntry) {
            // This directory is listed completely: close its search, then
            // hand it to the callback as an entry of its parent.
            levels.Pop();
            if (levels.Count() == 0)
                break;
            callback(path);
            path[levels.Top().pathLength] = L'\0';
            haveEntry = FindNextFileW(levels.Top().search, &data) != FALSE;
            continue;
        }
        if (!IsDotEntry(data.cFileName)) {
            const size_t parentLength = levels.Top().pathLength;
            if (!JoinPath(path, kLongPathCapacity, data.cFileName)) {
                LogInfo(L"Failed to form path for %ws in %ws", data.cFileName, path);
            } else {
                if (IsWalkableDirectory(data.dwFileAttributes) && levels.Open(path, Length(path), &data))
                    continue;  // data holds the first entry of the subdirectory
                callback(path);
                path[parentLength] = L'\0';
            }
        }
        haveEntry = FindNextFileW(levels.Top().search, &data) != FALSE;
    }
}
