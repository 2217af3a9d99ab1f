#include "registry/RegistryBackupRead.h"

#include "registry/RegistryBackupFormat.h"
#include "registry/RegistryKeyName.h"
#include "registry/RegistryScript.h"
#include "win/BoundedString.h"
#include "win/ScopedHandle.h"
#include "win/ScopedLocalMemory.h"

#include <sddl.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace {

// More than any backup the program writes (the largest table holds a few
// hundred kilobytes of values).
const DWORD kLargestBackup = 64u * 1024u * 1024u;

bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool Equal(const wchar_t* text, size_t length, const wchar_t* literal)
{
    return TextLength(literal) == length && wmemcmp(text, literal, length) == 0;
}

bool StartsWith(const wchar_t* text, size_t length, const wchar_t* literal)
{
    const size_t prefix = TextLength(literal);
    return length >= prefix && wmemcmp(text, literal, prefix) == 0;
}

// Lines of the text, each ended by CR LF; a line without its end is damage.
class Lines {
public:
    Lines(const wchar_t* text, size_t units) : text_(text), units_(units) {}

    // The next line and its length; false at the end of the text.
    bool Next(const wchar_t** line, size_t* length, bool* whole)
    {
        if (at_ >= units_)
            return false;
        ++number_;
        const wchar_t* start = text_ + at_;
        size_t end = at_;
        while (end < units_ && text_[end] != L'\r' && text_[end] != L'\n')
            ++end;
        *line = start;
        *length = end - at_;
        *whole = end + 1 < units_ && text_[end] == L'\r' && text_[end + 1] == L'\n';
        at_ = *whole ? end + 2 : units_;
        return true;
    }
    // The line after the current one, without moving on.
    bool Peek(const wchar_t** line, size_t* length)
    {
        Lines copy = *this;
        bool whole = false;
        return copy.Next(line, length, &whole) && whole;
    }
    size_t Number() const { return number_; }

private:
    const wchar_t* text_;
    size_t units_;
    size_t at_ = 0;
    size_t number_ = 0;
};

// A quoted name or string as the writer escapes it: backslash and double
// quote after a backslash, nothing else. Moves *at past the closing quote.
bool Unquote(const wchar_t* text, size_t length, size_t* at, wchar_t* out, size_t capacity)
{
    if (*at >= length || text[*at] != L'"')
        return false;
    size_t used = 0;
    for (size_t i = *at + 1; i < length; ++i) {
        wchar_t c = text[i];
        if (c == L'"') {
            out[used] = L'\0';
            *at = i + 1;
            return true;
        }
        if (c == L'\\') {
            if (i + 1 >= length || (text[i + 1] != L'\\' && text[i + 1] != L'"'))
                return false;
            c = text[++i];
        }
        if (used + 1 >= capacity)
            return false;
        out[used++] = c;
    }
    return false;
}

// "xx,xx,...,xx" or nothing.
bool IsByteList(const wchar_t* list, size_t length)
{
    if (length == 0)
        return true;
    if ((length + 1) % 3 != 0)
        return false;
    for (size_t i = 0; i < length; ++i) {
        const bool comma = i % 3 == 2;
        if (comma ? list[i] != L',' : !IsHexDigit(list[i]))
            return false;
    }
    return true;
}

// The data forms the writer makes, checked strictly, parsed by the value-line
// parser; strings unescaped here.
bool ParseData(const wchar_t* data, size_t length, wchar_t* scratch, size_t scratchCapacity, ParsedValue* value)
{
    if (length != 0 && data[0] == L'"') {
        size_t at = 0;
        if (!Unquote(data, length, &at, scratch, scratchCapacity) || at != length)
            return false;
        const size_t units = TextLength(scratch);
        value->data = AllocateHeapBytes((units + 1) * sizeof(wchar_t));
        if (!value->data)
            return false;
        memcpy(value->data.get(), scratch, (units + 1) * sizeof(wchar_t));
        value->type = REG_SZ;
        value->size = static_cast<uint32_t>((units + 1) * sizeof(wchar_t));
        return true;
    }
    if (StartsWith(data, length, L"dword:")) {
        if (length != 14)
            return false;
        for (size_t i = 6; i < 14; ++i)
            if (!IsHexDigit(data[i]))
                return false;
    } else if (StartsWith(data, length, L"hex:")) {
        if (!IsByteList(data + 4, length - 4))
            return false;
    } else if (StartsWith(data, length, L"hex(")) {
        size_t digits = 0;
        while (4 + digits < length && digits < 8 && IsHexDigit(data[4 + digits]))
            ++digits;
        const size_t list = 4 + digits + 2;
        if (digits == 0 || list > length || data[4 + digits] != L')' || data[5 + digits] != L':' ||
            !IsByteList(data + list, length - list))
            return false;
    } else {
        return false;
    }
    // The parser reads up to the NUL the caller put at the end of the line.
    return ParseValueData(data, *value, 8);
}

class Walker {
public:
    Walker(const BackupScript& script, const BackupWalk* walk)
        : lines_(reinterpret_cast<const wchar_t*>(script.text.get()), script.units), walk_(walk),
          complete_(script.complete), scratchCapacity_(script.units + 1)
    {
    }

    // false with the failing line in *line: damage, or a callback stopped.
    bool Run(size_t* line, bool* stopped, bool* ended)
    {
        *stopped = false;
        *ended = false;
        // No line, name or string is longer than the whole text.
        scratch_.reset(new (std::nothrow) wchar_t[scratchCapacity_]);
        logical_.reset(new (std::nothrow) wchar_t[scratchCapacity_]);
        keyName_.reset(new (std::nothrow) wchar_t[scratchCapacity_]);
        if (!scratch_ || !logical_ || !keyName_)
            return Damage(line);
        if (!Header())
            return Damage(line);
        const wchar_t* text = nullptr;
        size_t length = 0;
        bool whole = false;
        while (lines_.Next(&text, &length, &whole)) {
            if (!whole)
                return Damage(line);
            if (length == 0) {
                inKey_ = false;
                continue;
            }
            if (*ended)
                return Damage(line);
            bool ok = true;
            if (Equal(text, length, kBackupEndLine)) {
                *ended = true;
                continue;
            }
            if (StartsWith(text, length, L"[-"))
                ok = RemovedKey(text, length, stopped);
            else if (Equal(text, length, kBackupSecurityCaption) ||
                     Equal(text, length, kBackupSecurityCaptionWithoutSacl))
                ok = SecuredKey(stopped);
            else if (text[0] == L'[')
                ok = Key(text, length, nullptr, stopped);
            else if (inKey_)
                ok = Value(text, length, stopped);
            else
                ok = false;
            if (!ok)
                return *stopped ? false : Damage(line);
        }
        if (complete_ && !*ended)
            return Damage(line);
        return true;
    }

private:
    bool Damage(size_t* line)
    {
        *line = lines_.Number();
        return false;
    }

    bool Header()
    {
        const wchar_t* text = nullptr;
        size_t length = 0;
        bool whole = false;
        return lines_.Next(&text, &length, &whole) && whole &&
               Equal(text, length, L"Windows Registry Editor Version 5.00") && lines_.Next(&text, &length, &whole) &&
               whole && length == 0 && lines_.Next(&text, &length, &whole) && whole &&
               StartsWith(text, length, kBackupSignature) && lines_.Next(&text, &length, &whole) && whole &&
               (Equal(text, length, kBackupIncompleteLine) || Equal(text, length, kBackupCompleteLine));
    }

    // "[name]" or "[-name]" as a NUL-ended key name with a root the program writes.
    bool KeyName(const wchar_t* text, size_t length, size_t skip, const wchar_t** name)
    {
        if (length < skip + 2 || text[length - 1] != L']')
            return false;
        const size_t units = length - skip - 1;
        wmemcpy(keyName_.get(), text + skip, units);
        keyName_[units] = L'\0';
        HKEY root = nullptr;
        const wchar_t* subKey = nullptr;
        for (size_t i = 0; i < units; ++i)
            if (keyName_[i] == L'[' || keyName_[i] == L']')
                return false;
        *name = keyName_.get();
        return SplitRegistryKeyScriptName(keyName_.get(), &root, &subKey);
    }

    bool RemovedKey(const wchar_t* text, size_t length, bool* stopped)
    {
        const wchar_t* name = nullptr;
        if (!KeyName(text, length, 2, &name))
            return false;
        inKey_ = false;
        if (walk_ != nullptr && walk_->removedKey != nullptr && !walk_->removedKey(walk_->context, name))
            return !(*stopped = true);
        return true;
    }

    bool Key(const wchar_t* text, size_t length, const wchar_t* sddl, bool* stopped)
    {
        const wchar_t* name = nullptr;
        if (!KeyName(text, length, 1, &name))
            return false;
        inKey_ = true;
        if (walk_ != nullptr && walk_->key != nullptr && !walk_->key(walk_->context, name, sddl))
            return !(*stopped = true);
        return true;
    }

    // The caption, "; <SDDL>", then the key's header.
    bool SecuredKey(bool* stopped)
    {
        const wchar_t* text = nullptr;
        size_t length = 0;
        bool whole = false;
        if (!lines_.Next(&text, &length, &whole) || !whole || !StartsWith(text, length, L"; ") || length == 2)
            return false;
        wmemcpy(scratch_.get(), text + 2, length - 2);
        scratch_[length - 2] = L'\0';
        ScopedLocalMemory descriptor;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(scratch_.get(), SDDL_REVISION_1,
                                                                  descriptor.Receive<PSECURITY_DESCRIPTOR>(), nullptr))
            return false;
        if (!lines_.Next(&text, &length, &whole) || !whole || length == 0 || text[0] != L'[' ||
            StartsWith(text, length, L"[-"))
            return false;
        // The SDDL moves out of the scratch buffer, which the key name may not use.
        std::unique_ptr<wchar_t[]> sddl(new (std::nothrow) wchar_t[TextLength(scratch_.get()) + 1]);
        if (!sddl)
            return false;
        wmemcpy(sddl.get(), scratch_.get(), TextLength(scratch_.get()) + 1);
        return Key(text, length, sddl.get(), stopped);
    }

    // One value line, folded lines joined: "@" or a quoted name, '=', then
    // '-' or the data.
    bool Value(const wchar_t* text, size_t length, bool* stopped)
    {
        size_t used = 0;
        for (;;) {
            const bool folded = length != 0 && text[length - 1] == L'\\';
            const size_t piece = folded ? length - 1 : length;
            wmemcpy(logical_.get() + used, text, piece);
            used += piece;
            if (!folded)
                break;
            bool whole = false;
            if (!lines_.Next(&text, &length, &whole) || !whole || length < 2 || text[0] != L' ' || text[1] != L' ')
                return false;
            text += 2;
            length -= 2;
        }
        logical_[used] = L'\0';
        const wchar_t* line = logical_.get();
        size_t at = 0;
        const wchar_t* name = nullptr;
        if (line[0] == L'@') {
            at = 1;
        } else {
            if (!Unquote(line, used, &at, scratch_.get(), scratchCapacity_))
                return false;
            name = scratch_.get();
        }
        if (at >= used || line[at] != L'=')
            return false;
        ++at;
        // The name moves out of the scratch buffer, which the string data uses.
        std::unique_ptr<wchar_t[]> nameCopy;
        if (name != nullptr) {
            nameCopy.reset(new (std::nothrow) wchar_t[TextLength(name) + 1]);
            if (!nameCopy)
                return false;
            wmemcpy(nameCopy.get(), name, TextLength(name) + 1);
            name = nameCopy.get();
        }
        ParsedValue value;
        value.name[0] = L'\0';
        const bool removal = used - at == 1 && line[at] == L'-';
        if (!removal && !ParseData(line + at, used - at, scratch_.get(), scratchCapacity_, &value))
            return false;
        if (walk_ != nullptr && walk_->value != nullptr &&
            !walk_->value(walk_->context, name, removal ? nullptr : &value))
            return !(*stopped = true);
        return true;
    }

    Lines lines_;
    const BackupWalk* walk_;
    bool complete_;
    size_t scratchCapacity_;
    bool inKey_ = false;
    std::unique_ptr<wchar_t[]> scratch_;
    std::unique_ptr<wchar_t[]> logical_;
    std::unique_ptr<wchar_t[]> keyName_;
};

}  // namespace

BackupReadResult ReadBackupScript(const wchar_t* path, BackupScript* script, size_t* line)
{
    *line = 0;
    ScopedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsValid())
        return BackupReadResult::NotOpened;
    // A file on a disk, of a backup's size: not a pipe, a device or a file
    // that never ends.
    DWORD high = 0;
    const DWORD size = GetFileSize(file.Get(), &high);
    if (GetFileType(file.Get()) != FILE_TYPE_DISK || size == INVALID_FILE_SIZE || high != 0 || size > kLargestBackup)
        return BackupReadResult::NotABackup;
    HeapBytes bytes = AllocateHeapBytes(size + sizeof(wchar_t));
    DWORD read = 0;
    if (!bytes)
        return BackupReadResult::NotOpened;
    for (DWORD done = 0; done < size; done += read) {
        if (!ReadFile(file.Get(), bytes.get() + done, size - done, &read, nullptr))
            return BackupReadResult::NotOpened;
        if (read == 0)
            return BackupReadResult::Damaged;
    }
    // UTF-16LE with its byte order mark, in whole units.
    if (size < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE)
        return BackupReadResult::NotABackup;
    if (size % 2 != 0)
        return BackupReadResult::Damaged;
    memmove(bytes.get(), bytes.get() + 2, size - 2);
    script->units = (size - 2) / sizeof(wchar_t);
    reinterpret_cast<wchar_t*>(bytes.get())[script->units] = L'\0';
    script->text = std::move(bytes);

    // The program's first lines, then the rest.
    const wchar_t* text = reinterpret_cast<const wchar_t*>(script->text.get());
    Lines header(text, script->units);
    const wchar_t* state = nullptr;
    size_t length = 0;
    bool whole = false;
    for (int i = 0; i < 4; ++i)
        if (!header.Next(&state, &length, &whole) || !whole)
            return BackupReadResult::NotABackup;
    script->complete = Equal(state, length, kBackupCompleteLine);
    bool stopped = false;
    bool ended = false;
    Walker check(*script, nullptr);
    if (!check.Run(line, &stopped, &ended))
        return *line <= 4 ? BackupReadResult::NotABackup : BackupReadResult::Damaged;
    // The run ended after its last line reached the disk, before the state
    // line was rewritten: the file is whole.
    script->complete = script->complete || ended;
    return BackupReadResult::Read;
}

bool WalkBackupScript(const BackupScript& script, const BackupWalk& walk)
{
    size_t line = 0;
    bool stopped = false;
    bool ended = false;
    Walker walker(script, &walk);
    return walker.Run(&line, &stopped, &ended);
}
