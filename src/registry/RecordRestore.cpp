#include "registry/RecordRestore.h"

#include "logging/Log.h"
#include "registry/PrivilegedKeyOpen.h"
#include "registry/RegistryBackup.h"
#include "registry/RegistryRootNames.h"
#include "registry/RegistryValueRead.h"
#include "registry/ValueLine.h"
#include "win/ScopedLocalMemory.h"

#include <sddl.h>

#include <cstring>
#include <memory>
#include <new>
#include <utility>

CurrentValue CompareWithCurrent(HKEY key, const ParsedValue& knownGood, RegistryValueData* present)
{
    if (ReadRegistryValue(key, knownGood.name, present) != ERROR_SUCCESS)
        return CurrentValue::Missing;
    if (present->size == knownGood.size && memcmp(present->data.get(), knownGood.data.get(), present->size) == 0)
        return CurrentValue::Equal;
    return CurrentValue::Different;
}

ScopedRegKey OpenRecordKey(HKEY root, const char* keyPath, bool* createdNew, const KeySecurityCalls& calls)
{
    const REGSAM access = KEY_ALL_ACCESS | ACCESS_SYSTEM_SECURITY | KEY_WOW64_64KEY;
    HKEY opened = nullptr;
    DWORD disposition = 0;
    LONG result = RegCreateKeyExA(root, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &opened,
                                  &disposition);
    // A key whose own security grants the administrators no write (the
    // table's security for BITS\Parameters from Vista on, a rootkit's lock).
    if (result == ERROR_ACCESS_DENIED) {
        disposition = REG_OPENED_EXISTING_KEY;
        result = OpenLockedKey(calls, root, keyPath, access, &opened);
    }
    const char* prefix = RegistryRootPathPrefix(root);
    if (result != ERROR_SUCCESS) {
        LogInfo(L"Creating %hs%hs - failed", prefix, keyPath);
        return ScopedRegKey();
    }
    if (disposition == REG_CREATED_NEW_KEY)
        LogInfo(L"Creating %hs%hs - created new", prefix, keyPath);
    else
        LogInfo(L"Creating %hs%hs - opened existing", prefix, keyPath);
    if (createdNew != nullptr)
        *createdNew = disposition == REG_CREATED_NEW_KEY;
    return ScopedRegKey(opened);
}

ScopedRegKey ApplyKeySecurity(const char* sddl, ScopedRegKey key, const KeySecurityCalls& calls)
{
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                       DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION |
                                       PROTECTED_DACL_SECURITY_INFORMATION;
    switch (SetKeySecurityFromSddl(calls, key.Get(), sddl, parts)) {
    case KeySecurityOutcome::NotParsed:
        LogInfo(L"Failed to parse security descriptor");
        return key;
    case KeySecurityOutcome::NotSet:
        LogInfo(L"Failed to set security information");
        return key;
    case KeySecurityOutcome::Set:
        break;
    }
    LogInfo(L"Successfully set security information");
    // The new DACL may no longer grant full access; the first handle keeps
    // the access it was opened with, so it serves when the reopen fails.
    HKEY fresh = nullptr;
    if (RegOpenKeyExA(key.Get(), "", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &fresh) == ERROR_SUCCESS)
        return ScopedRegKey(fresh);
    return key;
}

namespace {

// Where a value lives, for the backup; null root: not backed up.
struct ValueKey {
    HKEY root;
    const char* keyPath;
};

// One value line and what it meets in the key, read before anything in the
// key changes.
struct PlannedValue {
    bool parsed = false;
    ParsedValue knownGood;
    CurrentValue current = CurrentValue::Missing;
};

// keyIsNew: the key was created by this record, so no value can exist yet and
// the read of the current value is saved (the backup removes the whole key).
// What the line will replace goes into the run's backup.
void PlanValue(const wchar_t* line, HKEY key, uint32_t keepExisting, bool keyIsNew, const ValueKey& where,
               PlannedValue* plan)
{
    plan->parsed = ParseValueLine(line, plan->knownGood);
    if (!plan->parsed) return;
    RegistryValueData present;
    plan->current = keyIsNew ? CurrentValue::Missing : CompareWithCurrent(key, plan->knownGood, &present);
    if (keyIsNew || where.root == nullptr) return;
    if (plan->current == CurrentValue::Missing)
        BackUpMissingValue(where.root, where.keyPath, plan->knownGood.name);
    else if (plan->current == CurrentValue::Different && keepExisting == 0)
        BackUpValue(where.root, where.keyPath, plan->knownGood.name, present.type, present.data.get(), present.size);
}

void ApplyPlannedValue(const PlannedValue& plan, HKEY key, uint32_t keepExisting)
{
    if (!plan.parsed) {
        LogInfo(L"Failed to parse value entry, skipping.");
        return;
    }
    const ParsedValue& knownGood = plan.knownGood;
    switch (plan.current) {
    case CurrentValue::Missing:
        LogInfo(L"Writing value \"%ws\", current doesn't exist", knownGood.name);
        break;
    case CurrentValue::Equal:
        LogInfo(L"Value \"%ws\" matches known good one, skipping update", knownGood.name);
        return;
    case CurrentValue::Different:
        if (keepExisting != 0) {
            LogInfo(L"Value \"%ws\" doesn't need updating", knownGood.name);
            return;
        }
        LogInfo(L"Updating value \"%ws\", current value differs from known good one", knownGood.name);
        break;
    }
    if (RegSetValueExW(key, knownGood.name, 0, knownGood.type, knownGood.data.get(), knownGood.size) == ERROR_SUCCESS)
        LogInfo(L"... success");
    else
        LogInfo(L"... failed");
}

// The record's security as the run's backup needs it: what the key has now,
// unless it already has the table's.
void BackUpRecordSecurity(const KnownGoodRecord& record, HKEY key)
{
    ScopedLocalMemory descriptor;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(record.sddl, SDDL_REVISION_1,
                                                             descriptor.Receive<PSECURITY_DESCRIPTOR>(), nullptr))
        BackUpKeySecurity(record.root, record.keyPath, key, descriptor.Get());
}

size_t CountLines(const wchar_t* block)
{
    size_t count = 0;
    ValueBlockCursor lines(block);
    while (lines.Next() != nullptr) ++count;
    return count;
}

}  // namespace

void RestoreValue(const wchar_t* line, HKEY key, uint32_t keepExisting)
{
    PlannedValue plan;
    PlanValue(line, key, keepExisting, false, ValueKey{nullptr, nullptr}, &plan);
    ApplyPlannedValue(plan, key, keepExisting);
}

void RestoreRecord(const KnownGoodRecord& record, const KeySecurityCalls& calls)
{
    bool createdNew = false;
    ScopedRegKey key = OpenRecordKey(record.root, record.keyPath, &createdNew, calls);
    if (!key.IsValid()) return;
    const ValueKey where{record.root, record.keyPath};
    // Everything the record replaces is read and backed up first, and goes
    // to disk in one piece before the key changes; value by value when there
    // is no memory to read ahead. A key the record created goes as a whole:
    // its first security and values are no state to keep.
    const size_t count = CountLines(record.valueLines);
    std::unique_ptr<PlannedValue[]> ahead(count > 1 ? new (std::nothrow) PlannedValue[count] : nullptr);
    PlannedValue single;
    PlannedValue* plan = ahead ? ahead.get() : &single;
    const size_t room = ahead ? count : 1;
    ValueBlockCursor lines(record.valueLines);
    const wchar_t* line = lines.Next();
    bool securitySet = false;
    do {
        size_t planned = 0;
        {
            RegistryBackupBatch batch;
            if (!securitySet && createdNew)
                NoteCreatedKey(record.root, record.keyPath);
            else if (!securitySet)
                BackUpRecordSecurity(record, key.Get());
            for (; line != nullptr && planned < room; line = lines.Next())
                PlanValue(line, key.Get(), record.keepExisting, createdNew, where, &plan[planned++]);
        }
        if (!securitySet) {
            key = ApplyKeySecurity(record.sddl, std::move(key), calls);
            securitySet = true;
        }
        for (size_t i = 0; i < planned; ++i)
            ApplyPlannedValue(plan[i], key.Get(), record.keepExisting);
    } while (line != nullptr);
}
