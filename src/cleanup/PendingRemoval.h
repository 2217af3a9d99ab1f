#pragma once
// Where what cannot be removed now waits for the restart. The session
// manager deletes pending names as LocalSystem and follows every link on the
// way, so nothing is scheduled where another user could change the path:
// an entry is first moved, through its handle, into a directory that this
// run creates in the Windows directory (where only administrators and
// LocalSystem may create, rename or delete) with the locked-down security,
// and its deletion names that place, the directory after its entries.
#include <windows.h>

#include "cleanup/NtFile.h"
#include "cleanup/TreeEntry.h"
#include "win/ScopedHandle.h"

class PendingRemoval {
public:
    explicit PendingRemoval(const NtFileApi& api);
    PendingRemoval(const PendingRemoval&) = delete;
    PendingRemoval& operator=(const PendingRemoval&) = delete;

    // Moves the entry (opened with DELETE, not a link) into the run's
    // directory, created on first use, and schedules its deletion at the
    // restart: "Scheduled removal at restart <new path>". Where it cannot be
    // moved, logs that it is not scheduled.
    void MoveAndSchedule(TreeEntry* entry, const wchar_t* path);

    // Schedules the run's directory itself, after everything moved into it.
    void ScheduleDirectory();

private:
    bool Create();

    const NtFileApi& api_;
    ScopedHandle directory_;
    wchar_t path_[MAX_PATH];
    unsigned moved_;
    bool failed_;
};

// "Not scheduled for removal at restart, it cannot be moved: <path>".
void LogNotScheduled(const wchar_t* path);
