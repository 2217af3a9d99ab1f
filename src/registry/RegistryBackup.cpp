#include "registry/RegistryBackup.h"

#include "logging/Log.h"
#include "registry/HeapBytes.h"
#include "registry/RegistryRootNames.h"
#include "registry/RegistryScript.h"
#include "win/BoundedString.h"
#include "win/LogDirectory.h"
#include "win/ScopedHandle.h"
#include "win/ScopedLocalMemory.h"

#include <sddl.h>

#include <cstring>
#include <cwchar>
#include <utility>

namespace {

// A second run in the same second gets " (2)", and so on.
const int kMostNamesTried = 100;
// The known-good tables hold at most 80 keys.
const size_t kMostCreatedKeys = 256;

// The open file, written through a buffer that goes to disk at the end of
// every entry.
struct BackupFile {
    bool begun = false;
    bool failed = false;
    SYSTEMTIME start = {};
    wchar_t name[MAX_PATH] = L"";
    wchar_t path[MAX_PATH] = L"";  // relative to the run's current directory
    ScopedHandle handle;
    wchar_t buffer[4096];
    size_t used = 0;
    // The key whose block the next value line joins.
    wchar_t blockRoot[32] = L"";
    wchar_t blockKey[kBackupKeyPathCapacity] = L"";
    HeapBytes created[kMostCreatedKeys];  // "<root>\<subKey>", wide, in order of creation
    size_t createdCount = 0;
    int batchDepth = 0;  // entries wait for the batch's end to reach the disk
};

BackupFile& Backup()
{
    static BackupFile file;
    return file;
}

void Fail(BackupFile& file)
{
    if (!file.failed)
        LogInfo(L"Failed to write registry backup");
    file.failed = true;
}

bool WriteThrough(BackupFile& file, const void* bytes, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file.handle.Get(), bytes, size, &written, nullptr) && written == size;
}

bool Drain(BackupFile& file)
{
    const DWORD size = static_cast<DWORD>(file.used * sizeof(wchar_t));
    file.used = 0;
    return size == 0 || WriteThrough(file, file.buffer, size);
}

bool Buffered(void* context, const wchar_t* text, size_t length)
{
    BackupFile& file = *static_cast<BackupFile*>(context);
    while (length != 0) {
        if (file.used == sizeof(file.buffer) / sizeof(file.buffer[0]) && !Drain(file))
            return false;
        size_t room = sizeof(file.buffer) / sizeof(file.buffer[0]) - file.used;
        const size_t count = length < room ? length : room;
        memcpy(file.buffer + file.used, text, count * sizeof(wchar_t));
        file.used += count;
        text += count;
        length -= count;
    }
    return true;
}

// The entry is on disk before the change it records is made: at once, or
// at the end of the batch it belongs to.
bool EndEntry(BackupFile& file)
{
    if (file.batchDepth > 0)
        return true;
    return Drain(file) && FlushFileBuffers(file.handle.Get());
}

// The byte order mark and the script's first line.
bool WriteScriptStart(BackupFile& file)
{
    static const BYTE byteOrderMark[] = {0xFF, 0xFE};
    return WriteThrough(file, byteOrderMark, sizeof(byteOrderMark)) &&
           Buffered(&file, kScriptHeader, TextLength(kScriptHeader));
}

// "Registry backup 2026.12.10 13-04-15.reg", " (n)" before the extension after
// the first try.
bool FormName(const SYSTEMTIME& t, int attempt, wchar_t (&name)[MAX_PATH])
{
    wchar_t stamp[64];
    if (attempt == 1)
        wsprintfW(stamp, L"%04d.%02d.%02d %02d-%02d-%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    else
        wsprintfW(stamp, L"%04d.%02d.%02d %02d-%02d-%02d (%d)", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond, attempt);
    return CopyBounded(name, MAX_PATH, L"Registry backup ") && AppendBounded(name, MAX_PATH, stamp) &&
           AppendBounded(name, MAX_PATH, L".reg");
}

// A new file, never one that exists: another run's backup gets a sibling;
// anything but a file in the way fails the backup.
bool CreateBackupFile(BackupFile& file)
{
    for (int attempt = 1; attempt <= kMostNamesTried; ++attempt) {
        wchar_t* path = file.path;
        if (!FormName(file.start, attempt, file.name) || !CopyBounded(path, MAX_PATH, LogDirectoryPrefix()) ||
            !AppendBounded(path, MAX_PATH, file.name))
            return false;
        file.handle = ScopedHandle(
            CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                        nullptr));
        if (file.handle.IsValid())
            return WriteScriptStart(file) && EndEntry(file);
        const DWORD error = GetLastError();
        const DWORD attributes = GetFileAttributesW(path);
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
    if (!file.begun || file.failed)
        return nullptr;
    if (!file.handle.IsValid() && !CreateBackupFile(file)) {
        file.handle.Close();
        Fail(file);
        return nullptr;
    }
    return &file;
}

ScriptOutput Output(BackupFile& file)
{
    return ScriptOutput{Buffered, &file};
}

// The key's header; the value lines that follow join its block.
bool StartBlock(BackupFile& file, HKEY root, const wchar_t* subKey)
{
    const wchar_t* rootName = RegistryRootFullName(root);
    if (!CopyBounded(file.blockRoot, 32, rootName) || !CopyBounded(file.blockKey, kBackupKeyPathCapacity, subKey)) {
        file.blockRoot[0] = L'\0';
        return false;
    }
    return WriteScriptKey(Output(file), rootName, subKey, false);
}

// Starts the key's block, after an empty line, unless the last entry was in
// the same key.
bool EnterKey(BackupFile& file, HKEY root, const wchar_t* subKey)
{
    if (wcscmp(RegistryRootFullName(root), file.blockRoot) == 0 && _wcsicmp(subKey, file.blockKey) == 0)
        return true;
    return Buffered(&file, L"\r\n", 2) && StartBlock(file, root, subKey);
}

void Finish(BackupFile& file, bool written)
{
    if (!written || !EndEntry(file)) {
        file.blockRoot[0] = L'\0';
        Fail(file);
    }
}

size_t KeyDepth(const wchar_t* key)
{
    size_t depth = 0;
    for (; *key != L'\0'; ++key)
        depth += *key == L'\\' ? 1 : 0;
    return depth;
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

// The file as written during the run, after its byte order mark; empty on
// failure.
HeapBytes ReadBack(BackupFile& file, size_t* units)
{
    const DWORD size = GetFileSize(file.handle.Get(), nullptr);
    if (size == INVALID_FILE_SIZE || size < 2 || SetFilePointer(file.handle.Get(), 2, nullptr, FILE_BEGIN) != 2)
        return HeapBytes();
    HeapBytes text = AllocateHeapBytes(size - 2);
    DWORD read = 0;
    if (!text || !ReadFile(file.handle.Get(), text.get(), size - 2, &read, nullptr) || read != size - 2)
        return HeapBytes();
    *units = read / sizeof(wchar_t);
    return text;
}

bool IsLineEnd(const wchar_t* text, size_t at, size_t units)
{
    return at + 1 < units && text[at] == L'\r' && text[at + 1] == L'\n';
}

// Writes the blocks of body (each one an empty line, then an optional comment,
// the key header and value lines) last first.
bool WriteBlocksLastFirst(BackupFile& file, const wchar_t* body, size_t units)
{
    size_t end = units;
    for (size_t at = units; at-- > 0;) {
        // A block starts at the line end that follows another one.
        const bool blockStart = IsLineEnd(body, at, units) && (at == 0 || (at >= 2 && IsLineEnd(body, at - 2, units)));
        if (!blockStart)
            continue;
        if (!Buffered(&file, body + at, end - at))
            return false;
        end = at;
    }
    return end == 0;
}

// The file's final form, written beside it and moved over it: the blocks last
// first, so that importing puts back the state before a value's first change
// when the run reached it twice (HKCR and HKLM\Software\Classes are one key),
// then the created keys, deepest first, so that importing removes exactly them
// after every value is back.
bool CompleteFile(BackupFile& file)
{
    size_t units = 0;
    if (!EndEntry(file))
        return false;
    const HeapBytes written = ReadBack(file, &units);
    const wchar_t* text = reinterpret_cast<const wchar_t*>(written.get());
    const size_t headerUnits = TextLength(kScriptHeader);
    if (!written || units < headerUnits || memcmp(text, kScriptHeader, headerUnits * sizeof(wchar_t)) != 0)
        return false;
    wchar_t partial[MAX_PATH];
    if (!CopyBounded(partial, MAX_PATH, file.path) || !AppendBounded(partial, MAX_PATH, L".partial"))
        return false;
    file.handle = ScopedHandle(
        CreateFileW(partial, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.handle.IsValid())
        return false;
    bool done = WriteScriptStart(file) && WriteBlocksLastFirst(file, text + headerUnits, units - headerUnits);
    size_t deepest = 0;
    for (size_t i = 0; i < file.createdCount; ++i) {
        const size_t depth = KeyDepth(reinterpret_cast<const wchar_t*>(file.created[i].get()));
        deepest = depth > deepest ? depth : deepest;
    }
    for (size_t depth = deepest + 1; done && depth-- > 0;) {
        for (size_t i = file.createdCount; done && i-- > 0;) {
            const wchar_t* key = reinterpret_cast<const wchar_t*>(file.created[i].get());
            if (KeyDepth(key) == depth)
                done = Buffered(&file, L"\r\n[-", 4) && Buffered(&file, key, TextLength(key)) &&
                       Buffered(&file, L"]\r\n", 3);
        }
    }
    done = done && EndEntry(file);
    file.handle.Close();
    if (done && MoveFileExW(partial, file.path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(partial);
    return false;
}

// The table's narrow key path as the backup's wide one; a path that does not
// convert or fit fails the backup (outside a run's backup it is not needed).
bool WidenKeyPath(const char* keyPath, wchar_t (&wide)[kBackupKeyPathCapacity])
{
    BackupFile& file = Backup();
    if (!file.begun || file.failed)
        return false;
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, keyPath, -1, wide, static_cast<int>(kBackupKeyPathCapacity)) >
        0)
        return true;
    Fail(file);
    return false;
}

void BackUpKeySecurityOf(HKEY root, const wchar_t* subKey, HKEY key, PSECURITY_DESCRIPTOR next)
{
    BackupFile& state = Backup();
    if (!state.begun || state.failed)
        return;
    HeapBytes present;
    SECURITY_INFORMATION parts = 0;
    ScopedLocalMemory presentText;
    ScopedLocalMemory nextText;
    ScopedLocalMemory presentCompared;
    const SECURITY_INFORMATION compared =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (!ReadKeySecurity(key, &present, &parts) || !SecurityString(present.get(), parts, &presentText) ||
        !SecurityString(present.get(), compared, &presentCompared) || !SecurityString(next, compared, &nextText)) {
        Fail(state);
        return;
    }
    // The same owner, group, DACL and audit entries: nothing is replaced. A
    // SACL that could not be read is taken to differ.
    if (wcscmp(static_cast<const wchar_t*>(presentCompared.Get()), static_cast<const wchar_t*>(nextText.Get())) == 0 &&
        (parts & SACL_SECURITY_INFORMATION) != 0 && SameAuditEntries(present.get(), next))
        return;
    BackupFile* file = ReadyFile();
    if (file == nullptr)
        return;
    // The comment belongs to the key's block: a new block starts here.
    const ScriptOutput out = Output(*file);
    Finish(*file, Buffered(file, L"\r\n", 2) &&
                      WriteScriptComment(out, (parts & SACL_SECURITY_INFORMATION) != 0
                                                  ? L"Security before the run (owner, group, DACL, SACL):"
                                                  : L"Security before the run (owner, group, DACL):") &&
                      WriteScriptComment(out, static_cast<const wchar_t*>(presentText.Get())) &&
                      StartBlock(*file, root, subKey));
}

void NoteCreatedKeyOf(HKEY root, const wchar_t* subKey)
{
    // A created key is a change too: the file exists from here on.
    BackupFile* ready = ReadyFile();
    if (ready == nullptr)
        return;
    BackupFile& file = *ready;
    const wchar_t* rootName = RegistryRootFullName(root);
    const size_t length = TextLength(rootName) + 1 + TextLength(subKey) + 1;
    HeapBytes key = file.createdCount < kMostCreatedKeys ? AllocateHeapBytes(length * sizeof(wchar_t)) : HeapBytes();
    wchar_t* text = reinterpret_cast<wchar_t*>(key.get());
    if (!key || !CopyBounded(text, length, rootName) || !AppendBounded(text, length, L"\\") ||
        !AppendBounded(text, length, subKey)) {
        Fail(file);
        return;
    }
    file.created[file.createdCount++] = std::move(key);
}

}  // namespace

void BeginRegistryBackup(const SYSTEMTIME& runStart)
{
    BackupFile& file = Backup();
    file.handle.Close();
    file.begun = true;
    file.failed = false;
    file.start = runStart;
    file.name[0] = L'\0';
    file.used = 0;
    file.blockRoot[0] = L'\0';
    for (size_t i = 0; i < file.createdCount; ++i)
        file.created[i].reset();
    file.createdCount = 0;
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
    if (!CompleteFile(file)) {
        file.handle.Close();
        Fail(file);
        return;
    }
    LogInfo(L"Registry backup: %ws", file.name);
}

void BackUpValue(HKEY root, const wchar_t* subKey, const wchar_t* name, DWORD type, const BYTE* data, DWORD size)
{
    BackupFile* file = ReadyFile();
    if (file == nullptr)
        return;
    Finish(*file, EnterKey(*file, root, subKey) && WriteScriptValue(Output(*file), name, type, data, size));
}

void BackUpMissingValue(HKEY root, const wchar_t* subKey, const wchar_t* name)
{
    BackupFile* file = ReadyFile();
    if (file == nullptr)
        return;
    Finish(*file, EnterKey(*file, root, subKey) && WriteScriptRemovedValue(Output(*file), name));
}


void BackUpValue(HKEY root, const char* subKey, const wchar_t* name, DWORD type, const BYTE* data, DWORD size)
{
    wchar_t wide[kBackupKeyPathCapacity];
    if (WidenKeyPath(subKey, wide))
        BackUpValue(root, wide, name, type, data, size);
}

void BackUpMissingValue(HKEY root, const char* subKey, const wchar_t* name)
{
    wchar_t wide[kBackupKeyPathCapacity];
    if (WidenKeyPath(subKey, wide))
        BackUpMissingValue(root, wide, name);
}

void BackUpKeySecurity(HKEY root, const char* subKey, HKEY key, PSECURITY_DESCRIPTOR next)
{
    wchar_t wide[kBackupKeyPathCapacity];
    if (WidenKeyPath(subKey, wide))
        BackUpKeySecurityOf(root, wide, key, next);
}

void NoteCreatedKey(HKEY root, const char* subKey)
{
    wchar_t wide[kBackupKeyPathCapacity];
    if (WidenKeyPath(subKey, wide))
        NoteCreatedKeyOf(root, wide);
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
