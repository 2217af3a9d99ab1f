#include "registry/RecordRestore.h"

#include "logging/Log.h"
#include "registry/HeapBytes.h"
#include "registry/PrivilegedKeyOpen.h"
#include "registry/RegistryBackup.h"
#include "registry/RegistryRootNames.h"
#include "registry/ValueLine.h"
#include "win/ScopedLocalMemory.h"

#include <sddl.h>

#include <cstring>
#include <utility>

namespace {

enum class CurrentValue { Missing, Equal, Different };

// What a value holds now, kept for the backup when it is to be replaced.
struct PresentValue {
    DWORD type = REG_NONE;
    DWORD size = 0;
    HeapBytes data;
};

// The registry type is not compared: the same bytes under another type match.
// A value that cannot be read counts as missing, so that a write is attempted.
CurrentValue CompareWithCurrent(HKEY key, const ParsedValue& knownGood, PresentValue* present)
{
    DWORD currentSize = 0;
    if (RegQueryValueExW(key, knownGood.name, nullptr, nullptr, nullptr, &currentSize) != ERROR_SUCCESS)
        return CurrentValue::Missing;
    present->data = AllocateHeapBytes(currentSize);
    if (!present->data) return CurrentValue::Missing;
    if (RegQueryValueExW(key, knownGood.name, nullptr, &present->type, present->data.get(), &currentSize) !=
        ERROR_SUCCESS)
        return CurrentValue::Missing;
    present->size = currentSize;
    if (currentSize == knownGood.size && memcmp(present->data.get(), knownGood.data.get(), currentSize) == 0)
        return CurrentValue::Equal;
    return CurrentValue::Different;
}

}  // namespace

ScopedRegKey OpenRecordKey(HKEY root, const char* keyPath, bool* createdNew, const BackupRestoreCalls& calls)
{
    const REGSAM access = KEY_ALL_ACCESS | ACCESS_SYSTEM_SECURITY | KEY_WOW64_64KEY;
    HKEY opened = nullptr;
    DWORD disposition = 0;
    LONG result = RegCreateKeyExA(root, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &opened,
                                  &disposition);
    // A key whose own security grants the administrators no write (the
    // table's security for BITS\Parameters from Vista on): through the backup
    // and restore privileges, else through the owner's right to the DACL.
    if (result == ERROR_ACCESS_DENIED) {
        disposition = 0;
        result = CreateKeyWithBackupRestore(calls, root, keyPath, access, &opened, &disposition);
        if (result != ERROR_SUCCESS) {
            disposition = REG_OPENED_EXISTING_KEY;
            result = OpenKeyAsOwner(root, keyPath, access, &opened);
        }
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

ScopedRegKey ApplyKeySecurity(HKEY root, const char* keyPath, const char* sddl, ScopedRegKey key, bool keyIsNew)
{
    ScopedLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                              descriptor.Receive<PSECURITY_DESCRIPTOR>(), nullptr)) {
        LogInfo(L"Failed to parse security descriptor");
        return key;
    }
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                       DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION |
                                       PROTECTED_DACL_SECURITY_INFORMATION;
    // A key the run created goes as a whole; its first security is no state to keep.
    if (!keyIsNew) BackUpKeySecurity(root, keyPath, key.Get(), descriptor.Get());
    if (RegSetKeySecurity(key.Get(), parts, descriptor.Get()) != ERROR_SUCCESS) {
        LogInfo(L"Failed to set security information");
        return key;
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

// keyIsNew: the key was created by this record, so no value can exist yet and
// the read of the current value is saved (the backup removes the whole key).
void RestoreValueIn(const wchar_t* line, HKEY key, uint32_t keepExisting, bool keyIsNew, const ValueKey& where)
{
    ParsedValue knownGood;
    if (!ParseValueLine(line, knownGood)) {
        LogInfo(L"Failed to parse value entry, skipping.");
        return;
    }
    PresentValue present;
    switch (keyIsNew ? CurrentValue::Missing : CompareWithCurrent(key, knownGood, &present)) {
    case CurrentValue::Missing:
        LogInfo(L"Writing value \"%ws\", current doesn't exist", knownGood.name);
        if (!keyIsNew && where.root != nullptr) BackUpMissingValue(where.root, where.keyPath, knownGood.name);
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
        if (where.root != nullptr)
            BackUpValue(where.root, where.keyPath, knownGood.name, present.type, present.data.get(), present.size);
        break;
    }
    if (RegSetValueExW(key, knownGood.name, 0, knownGood.type, knownGood.data.get(), knownGood.size) == ERROR_SUCCESS)
        LogInfo(L"... success");
    else
        LogInfo(L"... failed");
}

}  // namespace

void RestoreValue(const wchar_t* line, HKEY key, uint32_t keepExisting)
{
    RestoreValueIn(line, key, keepExisting, false, ValueKey{nullptr, nullptr});
}

void RestoreRecord(const KnownGoodRecord& record, const BackupRestoreCalls& calls)
{
    bool createdNew = false;
    ScopedRegKey key = OpenRecordKey(record.root, record.keyPath, &createdNew, calls);
    if (!key.IsValid()) return;
    if (createdNew) NoteCreatedKey(record.root, record.keyPath);
    key = ApplyKeySecurity(record.root, record.keyPath, record.sddl, std::move(key), createdNew);
    const ValueKey where{record.root, record.keyPath};
    ValueBlockCursor lines(record.valueLines);
    for (const wchar_t* line = lines.Next(); line != nullptr; line = lines.Next())
        RestoreValueIn(line, key.Get(), record.keepExisting, createdNew, where);
}
