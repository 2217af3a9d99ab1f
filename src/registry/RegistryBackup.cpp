#include "registry/RegistryBackup.h"

#include "logging/Log.h"
#include "registry/HeapBytes.h"
#include "registry/RegistryBackupFormat.h"
#include "registry/RegistryKeyName.h"
#include "registry/RegistryScript.h"
#include "registry/RegistryValueRead.h"
#include "win/BoundedString.h"
#include "win/LogDirectory.h"
#include "win/MachineChange.h"
#include "win/ScopedHandle.h"
#include "win/ScopedLocalMemory.h"
#include "win/ScopedRegKey.h"

#include <sddl.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <memory>
#include <new>

const wchar_t kBackupSignature[] = L"; VORNTarnvexEvCleaner registry backup of the run started ";
const wchar_t kBackupIncompleteLine[] =
    L"; Incomplete: the run has not ended; every change it made until now is in this file.";
const wchar_t kBackupCompleteLine[] =
    L"; Complete: every change of the run is in this file.                                ";
const wchar_t kBackupEndLine[] = L"; End of the registry backup";
const wchar_t kBackupSecurityCaption[] = L"; Security before the run (owner, group, DACL, SACL):";
const wchar_t kBackupSecurityCaptionWithoutSacl[] = L"; Security before the run (owner, group, DACL):";

static_assert(sizeof(kBackupIncompleteLine) == sizeof(kBackupCompleteLine), "the state line is rewritten in place");

namespace {

// A second run in the same second gets " (2)", and so on.
const int kMostNamesTried = 100;

// Text waiting for the next write: one WriteFile per write, so that a run
// that stops leaves whole entries on disk.
class PendingText {
public:
    PendingText() = default;
    ~PendingText() { free(text_); }
    PendingText(const PendingText&) = delete;
    PendingText& operator=(const PendingText&) = delete;

    bool Append(const wchar_t* text, size_t length)
    {
        if (length > capacity_ - used_) {
            size_t wanted = capacity_ != 0 ? capacity_ : 4096;
            while (wanted - used_ < length) {
                if (wanted > (static_cast<size_t>(MAXDWORD) / sizeof(wchar_t)) / 2)
                    return false;
                wanted *= 2;
            }
            wchar_t* grown = static_cast<wchar_t*>(realloc(text_, wanted * sizeof(wchar_t)));
            if (grown == nullptr)
                return false;
            text_ = grown;
            capacity_ = wanted;
        }
        memcpy(text_ + used_, text, length * sizeof(wchar_t));
        used_ += length;
        return true;
    }
    const wchar_t* Text() const { return text_; }
    size_t Length() const { return used_; }
    void Clear() { used_ = 0; }
    void CutTo(size_t length) { used_ = length < used_ ? length : used_; }

private:
    wchar_t* text_ = nullptr;
    size_t used_ = 0;
    size_t capacity_ = 0;
};

// Names compared without regard to case, as the registry compares key and
// value names.
class NameList {
public:
    bool Add(const wchar_t* name)
    {
        if (count_ == capacity_) {
            const size_t wanted = capacity_ != 0 ? capacity_ * 2 : 64;
            std::unique_ptr<HeapBytes[]> grown(new (std::nothrow) HeapBytes[wanted]);
            if (!grown)
                return false;
            for (size_t i = 0; i < count_; ++i)
                grown[i] = std::move(items_[i]);
            items_ = std::move(grown);
            capacity_ = wanted;
        }
        const size_t bytes = (TextLength(name) + 1) * sizeof(wchar_t);
        HeapBytes copy = AllocateHeapBytes(bytes);
        if (!copy)
            return false;
        memcpy(copy.get(), name, bytes);
        items_[count_++] = std::move(copy);
        return true;
    }
    bool Contains(const wchar_t* name) const
    {
        for (size_t i = 0; i < count_; ++i)
            if (_wcsicmp(Item(i), name) == 0)
                return true;
        return false;
    }
    // `key` is one of the names or lies below one of them.
    bool HoldsKeyOrParentOf(const wchar_t* key) const
    {
        for (size_t i = 0; i < count_; ++i) {
            const size_t length = TextLength(Item(i));
            if (_wcsnicmp(Item(i), key, length) == 0 && (key[length] == L'\0' || key[length] == L'\\'))
                return true;
        }
        return false;
    }
    void Clear()
    {
        items_.reset();
        count_ = capacity_ = 0;
    }
    size_t Count() const { return count_; }
    void CutTo(size_t count)
    {
        for (; count_ > count; --count_)
            items_[count_ - 1].reset();
    }

private:
    const wchar_t* Item(size_t i) const { return reinterpret_cast<const wchar_t*>(items_[i].get()); }

    std::unique_ptr<HeapBytes[]> items_;
    size_t count_ = 0;
    size_t capacity_ = 0;
};

struct NamedKey {
    HKEY key = nullptr;
    HKEY root = nullptr;
    wchar_t subKey[kBackupKeyPathCapacity] = L"";
    wchar_t name[kBackupKeyPathCapacity] = L"";
};

struct BackupFile {
    bool begun = false;
    bool failed = false;
    SYSTEMTIME start = {};
    wchar_t name[MAX_PATH] = L"";         // the final name
    wchar_t path[MAX_PATH] = L"";         // the final path, relative to the run's current directory
    wchar_t partialPath[MAX_PATH] = L"";  // the name while the run goes on
    ScopedHandle handle;
    PendingText pending;
    DWORD writtenBytes = 0;   // what is on disk, in whole entries
    DWORD stateOffset = 0;    // where the state line starts
    // The key whose block the next value line joins.
    wchar_t blockKey[kBackupKeyPathCapacity] = L"";
    NameList recorded;  // "<key>\n@" (default value), "<key>\n\"<name>" or "<key>\n:" (security)
    NameList created;   // keys the backup removes
    NamedKey lastNamed;
    int batchDepth = 0;
    RegistryBackupObserver observer = nullptr;
    void* observerContext = nullptr;
};

BackupFile& Backup()
{
    static BackupFile file;
    return file;
}

// A scan withholds every change, and the backup of it with it: what a scan
// would change is not recorded as changed.
bool Active(const BackupFile& file)
{
    return file.begun && !file.failed && !IsScanMode();
}

void Fail(BackupFile& file)
{
    if (!file.failed)
        LogInfo(L"Failed to write registry backup");
    file.failed = true;
}

void Observe(const BackupFile& file)
{
    if (file.observer != nullptr)
        file.observer(file.observerContext);
}

bool WriteThrough(HANDLE handle, const void* bytes, DWORD size)
{
    DWORD written = 0;
    return WriteFile(handle, bytes, size, &written, nullptr) && written == size;
}

bool Buffered(void* context, const wchar_t* text, size_t length)
{
    return static_cast<BackupFile*>(context)->pending.Append(text, length);
}

ScriptOutput Output(BackupFile& file)
{
    return ScriptOutput{Buffered, &file};
}

// What is pending reaches the disk in one write, then is flushed. A write
// that fails is cut off again, so that the file keeps whole entries only.
bool WritePending(BackupFile& file)
{
    if (file.pending.Length() == 0)
        return true;
    Observe(file);
    const DWORD bytes = static_cast<DWORD>(file.pending.Length() * sizeof(wchar_t));
    const bool written = bytes <= MAXDWORD - file.writtenBytes &&
                         WriteThrough(file.handle.Get(), file.pending.Text(), bytes) &&
                         FlushFileBuffers(file.handle.Get());
    file.pending.Clear();
    if (!written) {
        SetFilePointer(file.handle.Get(), static_cast<LONG>(file.writtenBytes), nullptr, FILE_BEGIN);
        SetEndOfFile(file.handle.Get());
        return false;
    }
    file.writtenBytes += bytes;
    Observe(file);
    return true;
}

// The entry is on disk before the change it records is made: at once, or
// at the end of the batch it belongs to.
bool EndEntry(BackupFile& file)
{
    return file.batchDepth > 0 || WritePending(file);
}

// "Registry backup 2026.12.10 13-04-15.reg", " (n)" before the extension after
// the first try; `suffix` goes before the extension too.
bool FormName(const SYSTEMTIME& t, int attempt, const wchar_t* suffix, wchar_t (&name)[MAX_PATH])
{
    wchar_t stamp[64];
    if (attempt == 1)
        wsprintfW(stamp, L"%04d.%02d.%02d %02d-%02d-%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    else
        wsprintfW(stamp, L"%04d.%02d.%02d %02d-%02d-%02d (%d)", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond, attempt);
    return CopyBounded(name, MAX_PATH, L"Registry backup ") && AppendBounded(name, MAX_PATH, stamp) &&
           AppendBounded(name, MAX_PATH, suffix) && AppendBounded(name, MAX_PATH, L".reg");
}

bool InBackupDirectory(const wchar_t* name, wchar_t (&path)[MAX_PATH])
{
    return CopyBounded(path, MAX_PATH, LogDirectoryPrefix()) && AppendBounded(path, MAX_PATH, name);
}

// The byte order mark and the first lines, which say that the backup is
// incomplete until the end of the run rewrites the state line.
bool WriteFileStart(BackupFile& file)
{
    static const BYTE byteOrderMark[] = {0xFF, 0xFE};
    const SYSTEMTIME& t = file.start;
    wchar_t time[64];
    wsprintfW(time, L"%04d.%02d.%02d %02d:%02d:%02d UTC\r\n", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
              t.wSecond);
    if (!WriteThrough(file.handle.Get(), byteOrderMark, sizeof(byteOrderMark)))
        return false;
    file.writtenBytes = sizeof(byteOrderMark);
    const bool started = Buffered(&file, kScriptHeader, TextLength(kScriptHeader)) && Buffered(&file, L"\r\n", 2) &&
                         Buffered(&file, kBackupSignature, TextLength(kBackupSignature)) &&
                         Buffered(&file, time, TextLength(time));
    file.stateOffset = file.writtenBytes + static_cast<DWORD>(file.pending.Length() * sizeof(wchar_t));
    return started && Buffered(&file, kBackupIncompleteLine, TextLength(kBackupIncompleteLine)) &&
           Buffered(&file, L"\r\n", 2) && WritePending(file);
}

// A new file, never one that exists, under a name whose final form is free
// too: another run's backup gets a sibling; anything but a file in the way
// fails the backup.
bool CreateBackupFile(BackupFile& file)
{
    for (int attempt = 1; attempt <= kMostNamesTried; ++attempt) {
        wchar_t partialName[MAX_PATH];
        if (!FormName(file.start, attempt, L"", file.name) || !InBackupDirectory(file.name, file.path) ||
            !FormName(file.start, attempt, L" (incomplete)", partialName) ||
            !InBackupDirectory(partialName, file.partialPath))
            return false;
        const DWORD finalAttributes = GetFileAttributesW(file.path);
        if (finalAttributes != INVALID_FILE_ATTRIBUTES) {
            if ((finalAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                return false;
            continue;
        }
        // Shared for deletion: the file is renamed while it is open.
        file.handle = ScopedHandle(CreateFileW(file.partialPath, GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.handle.IsValid()) {
            if (!WriteFileStart(file))
                return false;
            LogInfo(L"Registry backup (incomplete until the run ends): %ws", partialName);
            return true;
        }
        const DWORD error = GetLastError();
        const DWORD attributes = GetFileAttributesW(file.partialPath);
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return false;
    }
    return false;
}

// The file, made at the first entry; null outside a run's backup and after a
// failure.
BackupFile* ReadyFile()
{
    BackupFile& file = Backup();
    if (!Active(file))
        return nullptr;
    if (!file.handle.IsValid() && !CreateBackupFile(file)) {
        file.handle.Close();
        Fail(file);
        return nullptr;
    }
    return &file;
}

// The key's header; the value lines that follow join its block.
bool StartBlock(BackupFile& file, const wchar_t* keyName)
{
    if (!CopyBounded(file.blockKey, kBackupKeyPathCapacity, keyName)) {
        file.blockKey[0] = L'\0';
        return false;
    }
    return WriteScriptKey(Output(file), keyName, false);
}

// Starts the key's block, after an empty line, unless the last entry was in
// the same key.
bool EnterKey(BackupFile& file, const wchar_t* keyName)
{
    if (file.blockKey[0] != L'\0' && _wcsicmp(keyName, file.blockKey) == 0)
        return true;
    return Buffered(&file, L"\r\n", 2) && StartBlock(file, keyName);
}

void Finish(BackupFile& file, bool written)
{
    if (!written || !EndEntry(file)) {
        file.blockKey[0] = L'\0';
        Fail(file);
    }
}

// "<key>\n" and a tag: what `recorded` holds for one value or a key's security.
class RecordName {
public:
    RecordName(const wchar_t* key, const wchar_t* tag, const wchar_t* valueName)
    {
        const size_t length = TextLength(key) + 2 + (valueName != nullptr ? TextLength(valueName) : 0) + 1;
        bytes_ = AllocateHeapBytes(length * sizeof(wchar_t));
        wchar_t* text = reinterpret_cast<wchar_t*>(bytes_.get());
        if (!bytes_ || !CopyBounded(text, length, key) || !AppendBounded(text, length, L"\n") ||
            !AppendBounded(text, length, tag) ||
            (valueName != nullptr && !AppendBounded(text, length, valueName)))
            bytes_.reset();
    }
    const wchar_t* Text() const { return reinterpret_cast<const wchar_t*>(bytes_.get()); }

private:
    HeapBytes bytes_;
};

// The script name of the open key, or failure of the backup. The values of
// one key come one after another: the last name serves again for the same
// handle under the same root and path.
bool KeyName(BackupFile& file, HKEY key, HKEY root, const wchar_t* subKey, wchar_t (&name)[kBackupKeyPathCapacity])
{
    NamedKey& last = file.lastNamed;
    if (key != nullptr && key == last.key && root == last.root && wcscmp(subKey, last.subKey) == 0)
        return CopyBounded(name, kBackupKeyPathCapacity, last.name);
    last.key = nullptr;
    if (!RegistryKeyScriptName(key, root, subKey, name, kBackupKeyPathCapacity)) {
        Fail(file);
        return false;
    }
    if (CopyBounded(last.subKey, kBackupKeyPathCapacity, subKey) && CopyBounded(last.name, kBackupKeyPathCapacity, name)) {
        last.key = key;
        last.root = root;
    }
    return true;
}

// The first state of something in the key, unless the backup holds it
// already: a key the run created goes as a whole, a value or a key's security
// once.
bool FirstTime(BackupFile& file, const wchar_t* keyName, const RecordName& record)
{
    if (record.Text() == nullptr) {
        Fail(file);
        return false;
    }
    return !file.created.HoldsKeyOrParentOf(keyName) && !file.recorded.Contains(record.Text());
}

bool Remember(BackupFile& file, const RecordName& record)
{
    return file.recorded.Add(record.Text());
}

void BackUpValueOf(HKEY key, HKEY root, const wchar_t* subKey, const wchar_t* name, bool present, DWORD type,
                   const BYTE* data, DWORD size)
{
    BackupFile& state = Backup();
    wchar_t keyName[kBackupKeyPathCapacity];
    if (!Active(state) || !KeyName(state, key, root, subKey, keyName))
        return;
    const RecordName record(keyName, name == nullptr ? L"@" : L"\"", name);
    if (!FirstTime(state, keyName, record))
        return;
    BackupFile* file = ReadyFile();
    if (file == nullptr)
        return;
    const ScriptOutput out = Output(*file);
    Finish(*file, Remember(*file, record) && EnterKey(*file, keyName) &&
                      (present ? WriteScriptValue(out, name, type, data, size) : WriteScriptRemovedValue(out, name)));
}

// The SDDL of what `descriptor` holds of owner, group, DACL and SACL.
bool SecurityString(PSECURITY_DESCRIPTOR descriptor, SECURITY_INFORMATION parts, ScopedLocalMemory* text)
{
    return ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, parts,
                                                                text->Receive<LPWSTR>(), nullptr) != FALSE;
}

// The audit entries of a descriptor's SACL; none when it has no SACL.
bool AuditEntries(PSECURITY_DESCRIPTOR descriptor, PACL* sacl, DWORD* count)
{
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ACL_SIZE_INFORMATION size = {};
    *sacl = nullptr;
    *count = 0;
    if (!GetSecurityDescriptorSacl(descriptor, &present, sacl, &defaulted))
        return false;
    if (!present || *sacl == nullptr)
        return true;
    if (!GetAclInformation(*sacl, &size, sizeof(size), AclSizeInformation))
        return false;
    *count = size.AceCount;
    return true;
}

// The same audit entries in the same order; the SACL's control flags (which
// the registry may set on its own) do not count.
bool SameAuditEntries(PSECURITY_DESCRIPTOR a, PSECURITY_DESCRIPTOR b)
{
    PACL aclA = nullptr;
    PACL aclB = nullptr;
    DWORD countA = 0;
    DWORD countB = 0;
    if (!AuditEntries(a, &aclA, &countA) || !AuditEntries(b, &aclB, &countB) || countA != countB)
        return false;
    for (DWORD i = 0; i < countA; ++i) {
        void* aceA = nullptr;
        void* aceB = nullptr;
        if (!GetAce(aclA, i, &aceA) || !GetAce(aclB, i, &aceB))
            return false;
        const WORD sizeA = static_cast<ACE_HEADER*>(aceA)->AceSize;
        if (sizeA != static_cast<ACE_HEADER*>(aceB)->AceSize || memcmp(aceA, aceB, sizeA) != 0)
            return false;
    }
    return true;
}

// The key's present security; without the SACL when that cannot be read.
bool ReadKeySecurity(HKEY key, HeapBytes* descriptor, SECURITY_INFORMATION* parts)
{
    const SECURITY_INFORMATION withSacl =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION;
    for (SECURITY_INFORMATION wanted : {withSacl, withSacl & ~SACL_SECURITY_INFORMATION}) {
        DWORD size = 0;
        if (RegGetKeySecurity(key, wanted, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER)
            continue;
        *descriptor = AllocateHeapBytes(size);
        if (*descriptor && RegGetKeySecurity(key, wanted, descriptor->get(), &size) == ERROR_SUCCESS) {
            *parts = wanted;
            return true;
        }
    }
    return false;
}

// The comment with the key's present security and the key's header: a new
// block starts here. next null: recorded whatever it is.
// Whether present (with the parts read of it) has next's owner, group, DACL
// and audit entries, so that setting next replaces nothing; a SACL that could
// not be read is taken to differ. False when the descriptors cannot be read.
bool SameSecurity(PSECURITY_DESCRIPTOR present, SECURITY_INFORMATION parts, PSECURITY_DESCRIPTOR next, bool* same)
{
    const SECURITY_INFORMATION compared =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    ScopedLocalMemory presentCompared;
    ScopedLocalMemory nextText;
    if (!SecurityString(present, compared, &presentCompared) || !SecurityString(next, compared, &nextText))
        return false;
    *same = wcscmp(static_cast<const wchar_t*>(presentCompared.Get()), static_cast<const wchar_t*>(nextText.Get())) ==
                0 &&
            (parts & SACL_SECURITY_INFORMATION) != 0 && SameAuditEntries(present, next);
    return true;
}

bool WriteSecurityEntry(BackupFile& state, HKEY key, const wchar_t* keyName, PSECURITY_DESCRIPTOR next)
{
    const RecordName record(keyName, L":", nullptr);
    if (!FirstTime(state, keyName, record))
        return true;
    HeapBytes present;
    SECURITY_INFORMATION parts = 0;
    ScopedLocalMemory presentText;
    if (!ReadKeySecurity(key, &present, &parts) || !SecurityString(present.get(), parts, &presentText))
        return false;
    if (next != nullptr) {
        bool same = false;
        if (!SameSecurity(present.get(), parts, next, &same))
            return false;
        if (same)
            return true;  // nothing is replaced
    }
    BackupFile* file = ReadyFile();
    if (file == nullptr)
        return true;
    const wchar_t* caption =
        (parts & SACL_SECURITY_INFORMATION) != 0 ? kBackupSecurityCaption : kBackupSecurityCaptionWithoutSacl;
    const wchar_t* text = static_cast<const wchar_t*>(presentText.Get());
    return Remember(*file, record) && Buffered(file, L"\r\n", 2) && Buffered(file, caption, TextLength(caption)) &&
           Buffered(file, L"\r\n", 2) && WriteScriptComment(Output(*file), text) && StartBlock(*file, keyName);
}

void BackUpKeySecurityOf(HKEY root, const wchar_t* subKey, HKEY key, PSECURITY_DESCRIPTOR next)
{
    BackupFile& state = Backup();
    wchar_t keyName[kBackupKeyPathCapacity];
    if (!Active(state) || !KeyName(state, key, root, subKey, keyName))
        return;
    if (!WriteSecurityEntry(state, key, keyName, next)) {
        Fail(state);
        return;
    }
    if (state.handle.IsValid() && !state.failed)
        Finish(state, true);
}

// The key or, when it does not exist, its outermost missing parent; false
// when the key exists. Only "not found" counts as missing.
bool OutermostMissingKey(HKEY root, const wchar_t* subKey, wchar_t (&missing)[kBackupKeyPathCapacity],
                         wchar_t (&existingName)[kBackupKeyPathCapacity])
{
    wchar_t path[kBackupKeyPathCapacity];
    if (!CopyBounded(path, kBackupKeyPathCapacity, subKey))
        return false;
    bool found = false;
    for (;;) {
        ScopedRegKey key;
        const LONG result = RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Receive());
        if (result != ERROR_FILE_NOT_FOUND) {
            // The parent of the outermost missing key: its own name, then the
            // missing key's name below it.
            if (!found)
                return false;
            const wchar_t* rest = missing + TextLength(path) + 1;
            return (result == ERROR_SUCCESS
                        ? RegistryKeyScriptName(key.Get(), root, path, existingName, kBackupKeyPathCapacity)
                        : RegistryKeyScriptNameOf(root, path, existingName, kBackupKeyPathCapacity)) &&
                   AppendBounded(existingName, kBackupKeyPathCapacity, L"\\") &&
                   AppendBounded(existingName, kBackupKeyPathCapacity, rest);
        }
        found = true;
        wmemcpy(missing, path, kBackupKeyPathCapacity);
        wchar_t* slash = wcsrchr(path, L'\\');
        if (slash == nullptr) {
            // Missing right below the root.
            return RegistryKeyScriptNameOf(root, path, existingName, kBackupKeyPathCapacity);
        }
        *slash = L'\0';
    }
}

void BackUpKeyToBeCreatedOf(HKEY root, const wchar_t* subKey)
{
    BackupFile& state = Backup();
    if (!Active(state))
        return;
    wchar_t missing[kBackupKeyPathCapacity];
    wchar_t keyName[kBackupKeyPathCapacity];
    if (!OutermostMissingKey(root, subKey, missing, keyName) || state.created.HoldsKeyOrParentOf(keyName))
        return;
    BackupFile* file = ReadyFile();
    if (file == nullptr)
        return;
    file->blockKey[0] = L'\0';
    Finish(*file, file->created.Add(keyName) && Buffered(file, L"\r\n", 2) &&
                      WriteScriptKey(Output(*file), keyName, true));
}

// One key of a tree to be removed: security and every value, then its
// subkeys.
bool BackUpTree(BackupFile& file, HKEY key, const wchar_t* keyName)
{
    if (!WriteSecurityEntry(file, key, keyName, nullptr) || !EnterKey(file, keyName))
        return false;
    const DWORD nameCapacity = 16384;
    std::unique_ptr<wchar_t[]> name(new (std::nothrow) wchar_t[nameCapacity]);
    if (!name)
        return false;
    for (DWORD index = 0;; ++index) {
        DWORD length = nameCapacity;
        const LONG listed = RegEnumValueW(key, index, name.get(), &length, nullptr, nullptr, nullptr, nullptr);
        if (listed == ERROR_NO_MORE_ITEMS)
            break;
        RegistryValueData value;
        if (listed != ERROR_SUCCESS || ReadRegistryValue(key, name.get(), &value) != ERROR_SUCCESS)
            return false;
        const wchar_t* valueName = name[0] == L'\0' ? nullptr : name.get();
        const RecordName record(keyName, valueName == nullptr ? L"@" : L"\"", valueName);
        if (record.Text() == nullptr)
            return false;
        if (!file.recorded.Contains(record.Text()) &&
            !(Remember(file, record) &&
              WriteScriptValue(Output(file), valueName, value.type, value.data.get(), value.size)))
            return false;
    }
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        const LONG listed = RegEnumKeyExW(key, index, name.get(), &length, nullptr, nullptr, nullptr, nullptr);
        if (listed == ERROR_NO_MORE_ITEMS)
            return true;
        ScopedRegKey child;
        wchar_t childName[kBackupKeyPathCapacity];
        if (listed != ERROR_SUCCESS ||
            (RegOpenKeyExW(key, name.get(), 0, KEY_READ | ACCESS_SYSTEM_SECURITY | KEY_WOW64_64KEY,
                           child.Receive()) != ERROR_SUCCESS &&
             RegOpenKeyExW(key, name.get(), 0, KEY_READ | KEY_WOW64_64KEY, child.Receive()) != ERROR_SUCCESS) ||
            !CopyBounded(childName, kBackupKeyPathCapacity, keyName) ||
            !AppendBounded(childName, kBackupKeyPathCapacity, L"\\") ||
            !AppendBounded(childName, kBackupKeyPathCapacity, name.get()) || !BackUpTree(file, child.Get(), childName))
            return false;
    }
}

// The table's narrow key path as the backup's wide one; a path that does not
// convert or fit fails the backup (outside a run's backup it is not needed).
bool WidenKeyPath(const char* keyPath, wchar_t (&wide)[kBackupKeyPathCapacity])
{
    BackupFile& file = Backup();
    if (!Active(file))
        return false;
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, keyPath, -1, wide, static_cast<int>(kBackupKeyPathCapacity)) >
        0)
        return true;
    Fail(file);
    return false;
}

// The end line, the final name, then the state line rewritten in place: a
// file under its final name always ends with the end line.
bool CompleteFile(BackupFile& file)
{
    if (!Buffered(&file, L"\r\n", 2) || !Buffered(&file, kBackupEndLine, TextLength(kBackupEndLine)) ||
        !Buffered(&file, L"\r\n", 2) || !WritePending(file))
        return false;
    if (!MoveFileExW(file.partialPath, file.path, MOVEFILE_WRITE_THROUGH))
        return false;
    return SetFilePointer(file.handle.Get(), static_cast<LONG>(file.stateOffset), nullptr, FILE_BEGIN) ==
               file.stateOffset &&
           WriteThrough(file.handle.Get(), kBackupCompleteLine, static_cast<DWORD>(TextLength(kBackupCompleteLine) *
                                                                                   sizeof(wchar_t))) &&
           FlushFileBuffers(file.handle.Get());
}

}  // namespace

bool KeyHasSecurity(HKEY key, PSECURITY_DESCRIPTOR next)
{
    HeapBytes present;
    SECURITY_INFORMATION parts = 0;
    bool same = false;
    return ReadKeySecurity(key, &present, &parts) && SameSecurity(present.get(), parts, next, &same) && same;
}

void BeginRegistryBackup(const SYSTEMTIME& runStart)
{
    BackupFile& file = Backup();
    file.handle.Close();
    file.begun = true;
    file.failed = false;
    file.start = runStart;
    file.name[0] = L'\0';
    file.pending.Clear();
    file.writtenBytes = 0;
    file.blockKey[0] = L'\0';
    file.recorded.Clear();
    file.created.Clear();
    file.lastNamed.key = nullptr;
}

void EndRegistryBackup()
{
    BackupFile& file = Backup();
    if (!file.begun)
        return;
    file.begun = false;
    if (!file.handle.IsValid() || file.failed) {
        file.handle.Close();
        return;
    }
    const bool completed = CompleteFile(file);
    file.handle.Close();
    if (!completed) {
        Fail(file);
        return;
    }
    LogInfo(L"Registry backup: %ws", file.name);
}

void BackUpValue(HKEY key, HKEY root, const wchar_t* subKey, const wchar_t* name, DWORD type, const BYTE* data,
                 DWORD size)
{
    BackUpValueOf(key, root, subKey, name, true, type, data, size);
}

void BackUpMissingValue(HKEY key, HKEY root, const wchar_t* subKey, const wchar_t* name)
{
    BackUpValueOf(key, root, subKey, name, false, REG_NONE, nullptr, 0);
}

void BackUpValue(HKEY key, HKEY root, const char* subKey, const wchar_t* name, DWORD type, const BYTE* data,
                 DWORD size)
{
    wchar_t wide[kBackupKeyPathCapacity];
    if (WidenKeyPath(subKey, wide))
        BackUpValue(key, root, wide, name, type, data, size);
}

void BackUpMissingValue(HKEY key, HKEY root, const char* subKey, const wchar_t* name)
{
    wchar_t wide[kBackupKeyPathCapacity];
    if (WidenKeyPath(subKey, wide))
        BackUpMissingValue(key, root, wide, name);
}

void BackUpKeySecurity(HKEY root, const char* subKey, HKEY key, PSECURITY_DESCRIPTOR next)
{
    wchar_t wide[kBackupKeyPathCapacity];
    if (WidenKeyPath(subKey, wide))
        BackUpKeySecurityOf(root, wide, key, next);
}

void BackUpKeySecurity(HKEY root, const wchar_t* subKey, HKEY key, PSECURITY_DESCRIPTOR next)
{
    BackUpKeySecurityOf(root, subKey, key, next);
}

void BackUpKeyToBeCreated(HKEY root, const char* subKey)
{
    wchar_t wide[kBackupKeyPathCapacity];
    if (WidenKeyPath(subKey, wide))
        BackUpKeyToBeCreatedOf(root, wide);
}

void BackUpKeyToBeCreated(HKEY root, const wchar_t* subKey)
{
    BackUpKeyToBeCreatedOf(root, subKey);
}

bool BackUpKeyBeforeRemoval(HKEY key, HKEY root, const wchar_t* subKey)
{
    BackupFile& state = Backup();
    wchar_t keyName[kBackupKeyPathCapacity];
    if (!Active(state) || !KeyName(state, key, root, subKey, keyName))
        return true;
    if (state.created.HoldsKeyOrParentOf(keyName))
        return true;
    if (ReadyFile() == nullptr)
        return true;
    // Whole or not at all: nothing of a tree that cannot be read whole
    // reaches the disk, and the key stays.
    const size_t pendingBefore = state.pending.Length();
    const size_t recordedBefore = state.recorded.Count();
    if (!BackUpTree(state, key, keyName)) {
        state.pending.CutTo(pendingBefore);
        state.recorded.CutTo(recordedBefore);
        state.blockKey[0] = L'\0';
        return false;
    }
    Finish(state, true);
    return true;
}

RegistryBackupBatch::RegistryBackupBatch()
{
    ++Backup().batchDepth;
}

RegistryBackupBatch::~RegistryBackupBatch()
{
    BackupFile& file = Backup();
    if (--file.batchDepth == 0 && file.handle.IsValid() && !file.failed && !EndEntry(file))
        Fail(file);
}

void SetRegistryBackupObserver(RegistryBackupObserver observer, void* context)
{
    Backup().observer = observer;
    Backup().observerContext = context;
}
