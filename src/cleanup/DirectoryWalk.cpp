#include "cleanup/DirectoryWalk.h"

#include <new>
#include <utility>

#include "cleanup/DirectoryListing.h"
#include "cleanup/WidePath.h"
#include "logging/Log.h"

namespace {

// One directory being listed: the entry it is (empty for the walk's root),
// its listing and the length of its path.
struct Level {
    TreeEntry entry;
    HANDLE directory;
    DirectoryListing listing;
    size_t pathLength;
    Level* parent;
};

// The directories from the walk's root down to the one being listed, each
// open; owns them all.
class LevelStack {
public:
    LevelStack() : top_(nullptr) {}
    ~LevelStack()
    {
        while (top_ != nullptr)
            Pop();
    }
    LevelStack(const LevelStack&) = delete;
    LevelStack& operator=(const LevelStack&) = delete;

    Level* Top() const { return top_; }

    // A new level holding entry (moved in), or null when memory is short.
    Level* Push(TreeEntry* entry, HANDLE directory, size_t pathLength)
    {
        void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(Level));
        if (memory == nullptr)
            return nullptr;
        Level* level = new (memory) Level();
        if (entry != nullptr)
            level->entry = std::move(*entry);
        level->directory = directory;
        level->pathLength = pathLength;
        level->parent = top_;
        top_ = level;
        return level;
    }

    void Pop()
    {
        Level* level = top_;
        top_ = level->parent;
        level->~Level();
        HeapFree(GetProcessHeap(), 0, level);
    }

private:
    Level* top_;
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

}  // namespace

void WalkDirectory(const NtFileApi& api, HANDLE root, const wchar_t* rootPath, DirectoryQuery query,
                   WalkCallback callback, void* context)
{
    PathBuffer buffer;
    wchar_t* const path = buffer.Get();
    LevelStack levels;
    if (path == nullptr || !CopyBounded(path, kLongPathCapacity, rootPath) ||
        levels.Push(nullptr, root, TextLength(path)) == nullptr) {
        LogInfo(L"Failed to walk directory %ws", rootPath);
        return;
    }

    while (levels.Top() != nullptr) {
        Level* const top = levels.Top();
        ListedEntry listed;
        if (!top->listing.Next(query, top->directory, &listed)) {
            // This directory is listed completely: hand it to the callback as
            // an entry of its parent, then close it.
            if (top->parent == nullptr)
                break;
            callback(context, &top->entry, path);
            levels.Pop();
            path[levels.Top()->pathLength] = L'\0';
            continue;
        }
        if (IsDotEntry(listed))
            continue;
        if (!JoinPathCounted(path, kLongPathCapacity, listed.name, listed.nameLength)) {
            LogInfo(L"Failed to form path for an entry in %ws", path);
            continue;
        }
        TreeEntry entry;
        OpenTreeEntry(api, top->directory, listed, &entry);
        if (entry.directory && entry.handle.IsValid()) {
            const HANDLE directory = entry.handle.Get();
            if (levels.Push(&entry, directory, TextLength(path)) != nullptr)
                continue;
            LogInfo(L"Failed to walk directory %ws", path);
        }
        callback(context, &entry, path);
        path[top->pathLength] = L'\0';
    }
}
