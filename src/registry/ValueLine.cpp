#include "registry/ValueLine.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

const size_t kNameCapacity = sizeof(ParsedValue::name) / sizeof(wchar_t);

int HexDigitValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix)
{
    return wcsncmp(text, prefix, wcslen(prefix)) == 0;
}

// The first double quote directly followed by '=', looked for from the
// second character on: the first one is the opening quote of the name.
const wchar_t* FindNameTerminator(const wchar_t* line)
{
    if (line[0] == L'\0') return nullptr;
    for (const wchar_t* p = line + 1; *p != L'\0'; ++p) {
        if (p[0] == L'"' && p[1] == L'=') return p;
    }
    return nullptr;
}

bool ParseString(const wchar_t* afterQuote, ParsedValue& out)
{
    const size_t rest = wcslen(afterQuote);
    if (rest == 0) return false;  // no closing character to drop
    const size_t chars = rest - 1;
    if (chars >= UINT32_MAX / sizeof(wchar_t)) return false;
    const size_t size = (chars + 1) * sizeof(wchar_t);
    out.data = AllocateHeapBytes(size);
    if (!out.data) return false;
    memcpy(out.data.get(), afterQuote, chars * sizeof(wchar_t));
    memset(out.data.get() + chars * sizeof(wchar_t), 0, sizeof(wchar_t));
    out.type = REG_SZ;
    out.size = static_cast<uint32_t>(size);
    return true;
}

bool ParseDword(const wchar_t* digits, ParsedValue& out)
{
    const uint32_t number = ReadHexNumber(digits);
    out.data = AllocateHeapBytes(4);
    if (!out.data) return false;
    for (int i = 0; i < 4; ++i) out.data[i] = static_cast<uint8_t>(number >> (8 * i));
    out.type = REG_DWORD;
    out.size = 4;
    return true;
}

// Two-digit bytes separated by single commas; byte i starts at character 3i.
bool ParseByteList(const wchar_t* list, uint32_t type, ParsedValue& out)
{
    const size_t count = (wcslen(list) + 1) / 3;
    if (count > UINT32_MAX) return false;
    out.data = AllocateHeapBytes(count);
    if (!out.data) return false;
    for (size_t i = 0; i < count; ++i) out.data[i] = static_cast<uint8_t>(ReadHexNumber(list + 3 * i));
    out.type = type;
    out.size = static_cast<uint32_t>(count);
    return true;
}

// "hex:" or "hex(T):" with T one to mostTypeDigits hexadecimal digits.
bool ParseHex(const wchar_t* afterHex, ParsedValue& out, size_t mostTypeDigits)
{
    if (afterHex[0] == L':') return ParseByteList(afterHex + 1, REG_BINARY, out);
    if (afterHex[0] != L'(') return false;
    size_t digits = 0;
    while (digits < mostTypeDigits && HexDigitValue(afterHex[1 + digits]) >= 0) ++digits;
    if (digits == 0 || afterHex[1 + digits] != L')' || afterHex[2 + digits] != L':') return false;
    return ParseByteList(afterHex + 3 + digits, ReadHexNumber(afterHex + 1), out);
}

}  // namespace

uint32_t ReadHexNumber(const wchar_t* position)
{
    uint32_t result = 0;
    for (int digit = HexDigitValue(*position); digit >= 0; digit = HexDigitValue(*++position)) {
        result = result * 16 + static_cast<uint32_t>(digit);
    }
    return result;
}

bool ParseValueLine(const wchar_t* line, ParsedValue& out)
{
    out.data.reset();
    const wchar_t* terminator = FindNameTerminator(line);
    if (terminator == nullptr) return false;
    const size_t nameLength = static_cast<size_t>(terminator - (line + 1));
    if (nameLength >= kNameCapacity) return false;
    memcpy(out.name, line + 1, nameLength * sizeof(wchar_t));
    out.name[nameLength] = L'\0';

    return ParseValueData(terminator + 2, out);
}

bool ParseValueData(const wchar_t* dataPart, ParsedValue& out, size_t mostTypeDigits)
{
    out.data.reset();
    if (dataPart[0] == L'"') return ParseString(dataPart + 1, out);
    if (StartsWith(dataPart, L"dword:")) return ParseDword(dataPart + 6, out);
    if (StartsWith(dataPart, L"hex")) return ParseHex(dataPart + 3, out, mostTypeDigits);
    return false;  // deletions, capitalised keywords and anything else
}

const wchar_t* ValueBlockCursor::Next()
{
    if (next_ == nullptr || *next_ == L'\0') return nullptr;
    const wchar_t* line = next_;
    next_ = line + wcslen(line) + 1;
    return line;
}
