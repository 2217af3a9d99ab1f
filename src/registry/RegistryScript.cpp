#include "registry/RegistryScript.h"

#include "win/BoundedString.h"

const wchar_t kScriptHeader[] = L"Windows Registry Editor Version 5.00\r\n";

namespace {

// The registry editor folds hex lines before column 80.
const size_t kFoldColumn = 76;

class ScriptLine {
public:
    explicit ScriptLine(const ScriptOutput& out) : out_(out) {}

    bool Text(const wchar_t* text) { return Put(text, TextLength(text)); }
    bool Put(const wchar_t* text, size_t length)
    {
        column_ += length;
        return out_.write(out_.context, text, length);
    }
    bool EndLine()
    {
        column_ = 0;
        return Put(L"\r\n", 2);
    }

    // A quoted name or string: backslash and quote escaped.
    bool Quoted(const wchar_t* text, size_t length)
    {
        if (!Put(L"\"", 1))
            return false;
        size_t run = 0;
        for (size_t i = 0; i < length; ++i) {
            if (text[i] != L'\\' && text[i] != L'"')
                continue;
            if (!Put(text + run, i - run) || !Put(L"\\", 1))
                return false;
            run = i;
        }
        return Put(text + run, length - run) && Put(L"\"", 1);
    }

    bool Name(const wchar_t* name) { return name == nullptr ? Put(L"@", 1) : Quoted(name, TextLength(name)); }

    // Comma-separated bytes, folded with ",\" and two blanks as the editor does.
    bool HexBytes(const BYTE* data, DWORD size)
    {
        static const wchar_t digits[] = L"0123456789abcdef";
        for (DWORD i = 0; i < size; ++i) {
            const wchar_t byte[3] = {digits[data[i] >> 4], digits[data[i] & 15], L','};
            const bool last = i + 1 == size;
            if (!Put(byte, last ? 2 : 3))
                return false;
            if (!last && column_ >= kFoldColumn && !(Put(L"\\", 1) && EndLine() && Put(L"  ", 2)))
                return false;
        }
        return true;
    }

private:
    const ScriptOutput& out_;
    size_t column_ = 0;
};

// REG_SZ data the plain string form gives back byte for byte: whole UTF-16
// units, one NUL at the very end, and nothing that would break the line.
bool IsPlainText(const BYTE* data, DWORD size)
{
    if (size < sizeof(wchar_t) || size % sizeof(wchar_t) != 0)
        return false;
    const DWORD units = size / sizeof(wchar_t);
    for (DWORD i = 0; i < units; ++i) {
        const wchar_t unit = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
        if (i + 1 == units)
            return unit == L'\0';
        if (unit < 0x20)
            return false;
    }
    return false;
}

bool WriteHexType(ScriptLine& line, DWORD type)
{
    if (type == REG_BINARY)
        return line.Text(L"hex:");
    static const wchar_t digits[] = L"0123456789abcdef";
    wchar_t text[16] = L"hex(";
    size_t at = 4;
    bool started = false;
    for (int shift = 28; shift >= 0; shift -= 4) {
        const unsigned digit = (type >> shift) & 15;
        if (digit == 0 && !started && shift != 0)
            continue;
        started = true;
        text[at++] = digits[digit];
    }
    text[at++] = L')';
    text[at++] = L':';
    return line.Put(text, at);
}

}  // namespace

bool WriteScriptKey(const ScriptOutput& out, const wchar_t* keyName, bool removal)
{
    ScriptLine line(out);
    return line.Text(removal ? L"[-" : L"[") && line.Text(keyName) && line.Text(L"]") && line.EndLine();
}

bool WriteScriptValue(const ScriptOutput& out, const wchar_t* name, DWORD type, const BYTE* data, DWORD size)
{
    ScriptLine line(out);
    if (!line.Name(name) || !line.Text(L"="))
        return false;
    if (type == REG_SZ && IsPlainText(data, size)) {
        // The text without its NUL, read as UTF-16LE units.
        const DWORD units = size / sizeof(wchar_t) - 1;
        wchar_t piece[256];
        if (!line.Put(L"\"", 1))
            return false;
        for (DWORD done = 0; done < units;) {
            DWORD count = 0;
            for (; count < 256 && done + count < units; ++count)
                piece[count] = static_cast<wchar_t>(data[2 * (done + count)] | (data[2 * (done + count) + 1] << 8));
            // Escapes without the quotes of Quoted().
            for (DWORD i = 0; i < count; ++i) {
                if ((piece[i] == L'\\' || piece[i] == L'"') && !line.Put(L"\\", 1))
                    return false;
                if (!line.Put(piece + i, 1))
                    return false;
            }
            done += count;
        }
        return line.Put(L"\"", 1) && line.EndLine();
    }
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        static const wchar_t digits[] = L"0123456789abcdef";
        const DWORD value = static_cast<DWORD>(data[0]) | (static_cast<DWORD>(data[1]) << 8) |
                            (static_cast<DWORD>(data[2]) << 16) | (static_cast<DWORD>(data[3]) << 24);
        wchar_t text[15] = L"dword:";
        for (int i = 0; i < 8; ++i)
            text[6 + i] = digits[(value >> (28 - 4 * i)) & 15];
        return line.Put(text, 14) && line.EndLine();
    }
    return WriteHexType(line, type) && line.HexBytes(data, size) && line.EndLine();
}

bool WriteScriptRemovedValue(const ScriptOutput& out, const wchar_t* name)
{
    ScriptLine line(out);
    return line.Name(name) && line.Text(L"=-") && line.EndLine();
}

bool WriteScriptComment(const ScriptOutput& out, const wchar_t* text)
{
    ScriptLine line(out);
    return line.Text(L"; ") && line.Text(text) && line.EndLine();
}
