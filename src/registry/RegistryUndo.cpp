#include "registry/RegistryUndo.h"

#include "logging/Log.h"
#include "registry/PrivilegedKeyOpen.h"
#include "registry/RegistryBackup.h"
#include "registry/RegistryBackupRead.h"
#include "registry/RegistryKeyName.h"
#include "registry/RegistryValueRead.h"
#include "win/BoundedString.h"
#include "win/ScopedLocalMemory.h"
#include "win/ScopedPrivileges.h"
#include "win/ScopedRegKey.h"
#include "win/SystemFunction.h"

#include <sddl.h>

#include <cstring>
#include <cwchar>

namespace {

typedef LONG(NTAPI* NtDeleteKeyFunction)(HANDLE key);

struct UndoState {
    size_t failures = 0;
    // The key of the block being applied.
    ScopedRegKey key;
    bool keyMissing = false;
    HKEY root = nullptr;
    const wchar_t* subKey = nullptr;
    const wchar_t* keyName = nullptr;
    size_t depth = 0;  // the removals' walk: the depth it removes now
    size_t deepest = 0;
};

void Failed(UndoState& state)
{
    ++state.failures;
}

size_t KeyDepth(const wchar_t* key)
{
    size_t depth = 0;
    for (; *key != L'\0'; ++key)
        depth += *key == L'\\' ? 1 : 0;
    return depth;
}

const REGSAM kValueAccess = KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY;

// The key whose values follow; one that refuses the administrators is opened
// by the locked-key route, which leaves its security as it was. A missing key
// is made only when a value is to be written into it.
bool OpenValueKey(void* context, const wchar_t* keyName, const wchar_t*)
{
    UndoState& state = *static_cast<UndoState*>(context);
    state.key.Close();
    state.keyMissing = false;
    state.keyName = keyName;
    SplitRegistryKeyScriptName(keyName, &state.root, &state.subKey);
    LONG result = RegOpenKeyExW(state.root, state.subKey, 0, kValueAccess, state.key.Receive());
    if (result == ERROR_ACCESS_DENIED)
        result = OpenLockedKey(SystemKeySecurityCalls(), state.root, state.subKey, kValueAccess, state.key.Receive());
    if (result == ERROR_FILE_NOT_FOUND) {
        state.keyMissing = true;
        return true;
    }
    if (result != ERROR_SUCCESS) {
        LogInfo(L"Opening %ws - failed (error %ld)", keyName, static_cast<long>(result));
        Failed(state);
    }
    return true;
}

bool CreateMissingKey(UndoState& state)
{
    BackUpKeyToBeCreated(state.root, state.subKey);
    const LONG result = RegCreateKeyExW(state.root, state.subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, kValueAccess,
                                        nullptr, state.key.Receive(), nullptr);
    state.keyMissing = false;
    if (result == ERROR_SUCCESS) {
        LogInfo(L"Creating %ws - created new", state.keyName);
        return true;
    }
    LogInfo(L"Creating %ws - failed (error %ld)", state.keyName, static_cast<long>(result));
    Failed(state);
    return false;
}

const wchar_t* Shown(const wchar_t* name)
{
    return name != nullptr ? name : L"(default)";
}

// One value back as the backup has it: set, or removed (value null). What it
// holds now goes into this run's backup first; a value that cannot be read is
// left as it is.
bool ApplyValue(void* context, const wchar_t* name, const ParsedValue* value)
{
    UndoState& state = *static_cast<UndoState*>(context);
    if (state.keyMissing) {
        if (value == nullptr) {
            LogInfo(L"Value \"%ws\" of %ws is not there, as before", Shown(name), state.keyName);
            return true;
        }
        if (!CreateMissingKey(state))
            return true;
    }
    if (!state.key.IsValid())
        return true;
    RegistryValueData present;
    const LONG read = ReadRegistryValue(state.key.Get(), name, &present);
    if (read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND) {
        LogInfo(L"Failed to read value \"%ws\" of %ws (error %ld), left unchanged", Shown(name), state.keyName,
                static_cast<long>(read));
        Failed(state);
        return true;
    }
    const bool there = read == ERROR_SUCCESS;
    if (value == nullptr) {
        if (!there) {
            LogInfo(L"Value \"%ws\" of %ws is not there, as before", Shown(name), state.keyName);
            return true;
        }
        BackUpValue(state.key.Get(), state.root, state.subKey, name, present.type, present.data.get(), present.size);
        const LONG removed = RegDeleteValueW(state.key.Get(), name);
        LogInfo(L"Removing value \"%ws\" of %ws - %ws", Shown(name), state.keyName,
                removed == ERROR_SUCCESS ? L"success" : L"failed");
        if (removed != ERROR_SUCCESS)
            Failed(state);
        return true;
    }
    if (there && present.type == value->type && present.size == value->size &&
        memcmp(present.data.get(), value->data.get(), value->size) == 0) {
        LogInfo(L"Value \"%ws\" of %ws is as before", Shown(name), state.keyName);
        return true;
    }
    if (there)
        BackUpValue(state.key.Get(), state.root, state.subKey, name, present.type, present.data.get(), present.size);
    else
        BackUpMissingValue(state.key.Get(), state.root, state.subKey, name);
    const LONG written = RegSetValueExW(state.key.Get(), name, 0, value->type, value->data.get(), value->size);
    LogInfo(L"Restoring value \"%ws\" of %ws - %ws", Shown(name), state.keyName,
            written == ERROR_SUCCESS ? L"success" : L"failed");
    if (written != ERROR_SUCCESS)
        Failed(state);
    return true;
}

bool NoteDepth(void* context, const wchar_t* keyName)
{
    UndoState& state = *static_cast<UndoState*>(context);
    const size_t depth = KeyDepth(keyName);
    state.deepest = depth > state.deepest ? depth : state.deepest;
    return true;
}

// Removes the key's subkeys, then the key, through handles: no name is
// looked up twice.
LONG DeleteKeyTree(HKEY key)
{
    static const NtDeleteKeyFunction deleteKey =
        LookUpSystemFunction<NtDeleteKeyFunction>(L"ntdll.dll", "NtDeleteKey");
    if (deleteKey == nullptr)
        return ERROR_PROC_NOT_FOUND;
    for (;;) {
        wchar_t name[256];
        DWORD length = 256;
        const LONG listed = RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (listed == ERROR_NO_MORE_ITEMS)
            break;
        ScopedRegKey child;
        LONG result = listed;
        if (result == ERROR_SUCCESS)
            result = RegOpenKeyExW(key, name, 0, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_WOW64_64KEY, child.Receive());
        if (result == ERROR_SUCCESS)
            result = DeleteKeyTree(child.Get());
        if (result != ERROR_SUCCESS)
            return result;
    }
    return deleteKey(key) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// A key the run created, at the depth this walk removes; its tree goes into
// this run's backup first.
bool RemoveCreatedKey(void* context, const wchar_t* keyName)
{
    UndoState& state = *static_cast<UndoState*>(context);
    if (KeyDepth(keyName) != state.depth)
        return true;
    HKEY root = nullptr;
    const wchar_t* subKey = nullptr;
    SplitRegistryKeyScriptName(keyName, &root, &subKey);
    ScopedRegKey key;
    const REGSAM access = DELETE | KEY_READ | KEY_WOW64_64KEY;
    LONG result = RegOpenKeyExW(root, subKey, 0, access | ACCESS_SYSTEM_SECURITY, key.Receive());
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
        result = RegOpenKeyExW(root, subKey, 0, access, key.Receive());
    if (result == ERROR_FILE_NOT_FOUND) {
        LogInfo(L"Key %ws is not there, as before", keyName);
        return true;
    }
    if (result == ERROR_SUCCESS && !BackUpKeyBeforeRemoval(key.Get(), root, subKey)) {
        LogInfo(L"Failed to read key %ws whole, left unchanged", keyName);
        Failed(state);
        return true;
    }
    if (result == ERROR_SUCCESS)
        result = DeleteKeyTree(key.Get());
    LogInfo(L"Removing key %ws - %ws", keyName, result == ERROR_SUCCESS ? L"success" : L"failed");
    if (result != ERROR_SUCCESS)
        Failed(state);
    return true;
}

bool ApplySecurity(void* context, const wchar_t* keyName, const wchar_t* sddl)
{
    UndoState& state = *static_cast<UndoState*>(context);
    if (sddl == nullptr)
        return true;
    HKEY root = nullptr;
    const wchar_t* subKey = nullptr;
    SplitRegistryKeyScriptName(keyName, &root, &subKey);
    const LONG result = ApplyBackedUpKeySecurity(root, subKey, sddl);
    if (result == ERROR_FILE_NOT_FOUND) {
        LogInfo(L"Key %ws is not there; its security is not set", keyName);
        return true;
    }
    LogInfo(L"Setting security of %ws - %ws", keyName, result == ERROR_SUCCESS ? L"success" : L"failed");
    if (result != ERROR_SUCCESS)
        Failed(state);
    return true;
}

// What of the descriptor is to be set: the parts it holds, and whether its
// DACL and SACL inherit from the parent key.
SECURITY_INFORMATION PartsOf(PSECURITY_DESCRIPTOR descriptor)
{
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    SECURITY_INFORMATION parts = 0;
    PSID sid = nullptr;
    BOOL defaulted = FALSE;
    if (GetSecurityDescriptorOwner(descriptor, &sid, &defaulted) && sid != nullptr)
        parts |= OWNER_SECURITY_INFORMATION;
    if (GetSecurityDescriptorGroup(descriptor, &sid, &defaulted) && sid != nullptr)
        parts |= GROUP_SECURITY_INFORMATION;
    BOOL present = FALSE;
    PACL acl = nullptr;
    if (GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) && present)
        parts |= DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                                  : UNPROTECTED_DACL_SECURITY_INFORMATION);
    if (GetSecurityDescriptorSacl(descriptor, &present, &acl, &defaulted) && present)
        parts |= SACL_SECURITY_INFORMATION | ((control & SE_SACL_PROTECTED) != 0 ? PROTECTED_SACL_SECURITY_INFORMATION
                                                                                  : UNPROTECTED_SACL_SECURITY_INFORMATION);
    return parts;
}

}  // namespace

LONG ApplyBackedUpKeySecurity(HKEY root, const wchar_t* subKey, const wchar_t* sddl, const KeySecurityCalls& calls)
{
    ScopedLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                              descriptor.Receive<PSECURITY_DESCRIPTOR>(), nullptr))
        return static_cast<LONG>(GetLastError());
    const SECURITY_INFORMATION parts = PartsOf(descriptor.Get());
    // An audit list takes SeSecurityPrivilege; WRITE_OWNER on a key whose
    // DACL does not grant it SeTakeOwnershipPrivilege; another owner than
    // this process's user or Administrators SeRestorePrivilege, which the
    // set below holds.
    ScopedPrivileges security(L"SeSecurityPrivilege");
    ScopedPrivileges takeOwnership(L"SeTakeOwnershipPrivilege", L"SeRestorePrivilege");
    const REGSAM access = READ_CONTROL | WRITE_DAC | WRITE_OWNER | KEY_WOW64_64KEY |
                          ((parts & SACL_SECURITY_INFORMATION) != 0 ? ACCESS_SYSTEM_SECURITY : 0);
    ScopedRegKey key;
    const LONG opened = calls.openKeyW(root, subKey, 0, access, key.Receive());
    if (opened != ERROR_SUCCESS)
        return opened;
    BackUpKeySecurity(root, subKey, key.Get(), descriptor.Get());
    return SetKeySecurityWithPrivileges(calls, key.Get(), parts, descriptor.Get());
}

UndoOutcome UndoRegistryBackup(const wchar_t* path)
{
    UndoOutcome outcome = {UndoResult::Done, false, 0};
    BackupScript script;
    switch (ReadBackupScript(path, &script, &outcome.failedLine)) {
    case BackupReadResult::Read:
        break;
    case BackupReadResult::NotOpened:
        LogInfo(L"Failed to read registry backup %ws", path);
        outcome.result = UndoResult::NotOpened;
        return outcome;
    case BackupReadResult::NotABackup:
        LogInfo(L"Refused %ws: not a registry backup of this program (line %u)", path,
                static_cast<unsigned>(outcome.failedLine));
        outcome.result = UndoResult::NotABackup;
        return outcome;
    case BackupReadResult::Damaged:
        LogInfo(L"Refused %ws: the registry backup is cut short or damaged (line %u)", path,
                static_cast<unsigned>(outcome.failedLine));
        outcome.result = UndoResult::Damaged;
        return outcome;
    }
    outcome.complete = script.complete;
    LogInfo(L"Undoing the registry changes of %ws (%ws)", path,
            script.complete ? L"complete backup" : L"incomplete backup: its run did not end");

    // Values first, then the created keys from the deepest up, then the
    // keys' security: every key the values need still stands, and the
    // security that the run replaced comes last, as it may grant less.
    UndoState state;
    WalkBackupScript(script, BackupWalk{OpenValueKey, ApplyValue, NoteDepth, &state});
    state.key.Close();
    for (size_t depth = state.deepest + 1; depth-- > 0;) {
        state.depth = depth;
        WalkBackupScript(script, BackupWalk{nullptr, nullptr, RemoveCreatedKey, &state});
    }
    WalkBackupScript(script, BackupWalk{ApplySecurity, nullptr, nullptr, &state});
    if (state.failures != 0) {
        LogInfo(L"Undo finished, %u steps failed", static_cast<unsigned>(state.failures));
        outcome.result = UndoResult::DoneWithFailures;
    } else {
        LogInfo(L"Undo finished");
    }
    return outcome;
}
