#pragma once
// Registry value lines: one value per line in the syntax of exported registry
// files, e.g. "Type"=dword:00000020, and the NUL-separated blocks that hold them.
#include "registry/HeapBytes.h"

#include <cstddef>
#include <cstdint>

struct ParsedValue {
    wchar_t name[256];  // at most 255 characters and the terminator
    uint32_t type;      // REG_SZ, REG_DWORD, REG_BINARY or the hex(N) type
    HeapBytes data;     // created by the parser, owned by the caller
    uint32_t size;      // exact byte count to compare and write
};

// Parses one NUL-terminated line. False for a rejected line; `out` is then
// unspecified and owns nothing.
bool ParseValueLine(const wchar_t* line, ParsedValue& out);

// The data part of a line, from the character after the name's '=': the
// string form (text as written), "dword:" or the hex forms ("hex:", "hex(T):"
// with T one hexadecimal digit, as the table writes it, or up to
// `mostTypeDigits`, as registry scripts name every type: hex(20)). Fills type,
// data and size.
bool ParseValueData(const wchar_t* dataPart, ParsedValue& out, size_t mostTypeDigits = 1);

// Reads hexadecimal digits from `position` up to the first other character;
// bits shifted out at the top are lost, no digit at all reads as 0.
uint32_t ReadHexNumber(const wchar_t* position);

// Walks a value block: NUL-ended lines closed by an empty line.
class ValueBlockCursor {
public:
    explicit ValueBlockCursor(const wchar_t* block) : next_(block) {}
    // The next line, or nullptr once the closing empty line is reached.
    const wchar_t* Next();

private:
    const wchar_t* next_;
};
