#include "win/MachineChange.h"

#include "logging/Log.h"
#include "win/BoundedString.h"

#include <cstring>

namespace {

bool scanMode = false;
const ChangeObserver* observer = nullptr;

// Keys whose creation this scan withheld. The known-good tables hold at most
// 80 keys; a key beyond the room is reported as created again, nothing worse.
const size_t kMostWithheldKeys = 128;
const size_t kWithheldKeyCapacity = 512;
struct WithheldKey {
    wchar_t root[8];
    char path[kWithheldKeyCapacity];
};
WithheldKey withheldKeys[kMostWithheldKeys];
size_t withheldKeyCount = 0;

// In the order of Change.
const wchar_t* const kVerbs[] = {
    L"set value",
    L"create key",
    L"set key security",
    L"rewrite key security unchanged",
    L"set file security",
    L"clear file attributes",
    L"delete file",
    L"remove directory",
    L"copy file",
    L"schedule rename at restart",
    L"schedule removal at restart",
};
static_assert(sizeof(kVerbs) / sizeof(kVerbs[0]) == static_cast<size_t>(Change::ScheduleRemoval) + 1,
              "one verb per change");

void RememberWithheldKey(const ChangeTarget& target)
{
    if (target.root == nullptr || target.narrowPath == nullptr || withheldKeyCount == kMostWithheldKeys)
        return;
    WithheldKey& key = withheldKeys[withheldKeyCount];
    if (CopyBounded(key.root, 8, target.root) && CopyBounded(key.path, kWithheldKeyCapacity, target.narrowPath))
        ++withheldKeyCount;
}

// "Would <verb> <where>[ <value>][: <current> -> <next>]", one line per change,
// so that the log can be read back change by change. A value is named in
// quotes, the default value as @, as registry scripts name them.
void LogWithheld(Change change, const ChangeTarget& t, const wchar_t* current, const wchar_t* next)
{
    const wchar_t* verb = kVerbs[static_cast<size_t>(change)];
    const wchar_t* root = t.root != nullptr ? t.root : L"";
    const wchar_t* separator = t.root != nullptr ? L"\\" : L"";
    const bool narrow = t.path == nullptr;
    wchar_t value[300] = L"";
    if (change == Change::SetValue) {
        if (t.valueName == nullptr)
            CopyBounded(value, 300, L" @");
        else if (!CopyBounded(value, 300, L" \"") || !AppendBounded(value, 300, t.valueName) ||
                 !AppendBounded(value, 300, L"\""))
            CopyBounded(value, 300, L" (a value whose name does not fit)");
    }
    const wchar_t* before = current != nullptr ? current : (change == Change::SetValue ? L"(missing)" : nullptr);
    if (before == nullptr && next == nullptr) {
        if (narrow)
            LogInfo(L"Would %ws %ws%ws%hs%ws", verb, root, separator, t.narrowPath, value);
        else
            LogInfo(L"Would %ws %ws%ws%ws%ws", verb, root, separator, t.path, value);
        return;
    }
    if (before == nullptr) {
        if (narrow)
            LogInfo(L"Would %ws %ws%ws%hs%ws -> %ws", verb, root, separator, t.narrowPath, value, next);
        else
            LogInfo(L"Would %ws %ws%ws%ws%ws -> %ws", verb, root, separator, t.path, value, next);
        return;
    }
    if (next == nullptr)
        next = L"";
    if (narrow)
        LogInfo(L"Would %ws %ws%ws%hs%ws: %ws -> %ws", verb, root, separator, t.narrowPath, value, before, next);
    else
        LogInfo(L"Would %ws %ws%ws%ws%ws: %ws -> %ws", verb, root, separator, t.path, value, before, next);
}

}  // namespace

void SetScanMode(bool scan)
{
    scanMode = scan;
    withheldKeyCount = 0;
}

bool IsScanMode()
{
    return scanMode;
}

bool WithholdChange(Change change, const ChangeTarget& target, const wchar_t* current, const wchar_t* next)
{
    if (!scanMode)
        return false;
    LogWithheld(change, target, current, next);
    if (change == Change::CreateKey)
        RememberWithheldKey(target);
    if (observer != nullptr && observer->withheld != nullptr)
        observer->withheld(change, target, current, next);
    return true;
}

void NoteUncheckable(const wchar_t* what, const ChangeTarget& target)
{
    if (scanMode && observer != nullptr && observer->uncheckable != nullptr)
        observer->uncheckable(what, target);
}

void ObserveChanges(const ChangeObserver* changeObserver)
{
    observer = changeObserver;
}

bool IsWithheldKey(const wchar_t* root, const char* path)
{
    for (size_t i = 0; i < withheldKeyCount; ++i) {
        if (wcscmp(withheldKeys[i].root, root) == 0 && _stricmp(withheldKeys[i].path, path) == 0)
            return true;
    }
    return false;
}
