// Value lines: the forms the known-good table uses, rejected lines, value
// blocks, and a round trip over a generated set of canonical lines.
#include "registry/ValueLine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes DataOf(const ParsedValue& value)
{
    return Bytes(value.data.get(), value.data.get() + value.size);
}

Bytes Utf16Bytes(const std::wstring& text)
{
    Bytes bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xff));
        bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xff));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

struct AcceptedLine {
    const wchar_t* line;
    const wchar_t* name;
    uint32_t type;
    Bytes data;
};

TEST(ValueLine, ParsesEveryFormOfTheTable)
{
    const std::wstring sessmgr = L"%windir%\\system32\\sessmgr.exe";
    const AcceptedLine cases[] = {
        {L"\"Type\"=dword:00000020", L"Type", REG_DWORD, {0x20, 0, 0, 0}},
        {L"\"Epoch\"=dword:000001d3", L"Epoch", REG_DWORD, {0xd3, 0x01, 0, 0}},
        {L"\"DependOnGroup\"=hex(7):00,00", L"DependOnGroup", REG_MULTI_SZ, {0, 0}},
        {L"\"Collection\"=hex:87,00,01,00", L"Collection", REG_BINARY, {0x87, 0, 0x01, 0}},
        {L"\"1008\"=hex(b):96,a0,7a,d1,5c,38,cd,01", L"1008", REG_QWORD,
         {0x96, 0xa0, 0x7a, 0xd1, 0x5c, 0x38, 0xcd, 0x01}},
        {L"\"ImagePath\"=hex(2):25,00,41,00,00,00", L"ImagePath", REG_EXPAND_SZ, {0x25, 0, 0x41, 0, 0, 0}},
        {L"\"X\"=hex:", L"X", REG_BINARY, {}},
        {L"\"X\"=\"\"", L"X", REG_SZ, {0, 0}},
        {L"\"Object List\"=\"1908\"", L"Object List", REG_SZ, Utf16Bytes(L"1908")},
        {L"\"0\"=\"Root\\LEGACY_BITS\\0000\"", L"0", REG_SZ, Utf16Bytes(L"Root\\LEGACY_BITS\\0000")},
        {L"\"D\"=\"a\\\\b\"", L"D", REG_SZ, Utf16Bytes(L"a\\\\b")},  // no escapes: stays doubled
        {L"\"%windir%\\system32\\sessmgr.exe\"=\"%windir%\\system32\\sessmgr.exe:*:enabled:@xpsp2res.dll,-22019\"",
         L"%windir%\\system32\\sessmgr.exe", REG_SZ,
         Utf16Bytes(sessmgr + L":*:enabled:@xpsp2res.dll,-22019")},
        {L"\"First Counter\"=dword:00000ad6", L"First Counter", REG_DWORD, {0xd6, 0x0a, 0, 0}},
        {L"\"{dc95b53e-01cf-4058-821d-350b3d0d4676}\"=hex:01", L"{dc95b53e-01cf-4058-821d-350b3d0d4676}",
         REG_BINARY, {0x01}},
        {L"\"\"=\"default\"", L"", REG_SZ, Utf16Bytes(L"default")},
        // The name ends at the first quote before '='; quotes in the text are kept.
        {L"\"a\"b\"=\"say \"hi\"=x\"", L"a\"b", REG_SZ, Utf16Bytes(L"say \"hi\"=x")},
        // Malformed digits read as 0 and the line still counts.
        {L"\"M\"=dword:zz", L"M", REG_DWORD, {0, 0, 0, 0}},
        {L"\"M\"=hex:zz,01", L"M", REG_BINARY, {0, 0x01}},
        {L"\"Q\"=hex(0):", L"Q", REG_NONE, {}},
        {L"\"Q\"=hex(F):ff", L"Q", 15, {0xff}},
    };
    for (const AcceptedLine& c : cases) {
        SCOPED_TRACE(testing::Message() << "line " << std::string(c.line, c.line + wcslen(c.line)).c_str());
        ParsedValue value;
        ASSERT_TRUE(ParseValueLine(c.line, value));
        EXPECT_STREQ(c.name, value.name);
        EXPECT_EQ(c.type, value.type);
        EXPECT_EQ(c.data, DataOf(value));
    }
}

TEST(ValueLine, RejectsLinesWithoutMeaning)
{
    const wchar_t* rejected[] = {
        L"@=\"x\"",            // default value with an at sign: no name terminator
        L"\"X\"=hexz:00",      // "hex" with neither colon nor parenthesis
        L"\"X\"=hex",          // ends after the keyword
        L"",                   // empty line
        L"\"X\"",              // no data part at all
        L"\"X\"=-",            // deletion
        L"\"X\"=DWORD:00000001",  // keyword in capitals
        L"\"X\"=\"",           // string with no closing character
        L"\"X\"=hex(",         // type digit missing: the list would lie past the line's end
        L"\"X\"=hex(7",
        L"\"X\"=hex(7)",
        L"\"X\"=hex(10):00",   // two-digit type
        L"\"X\"=hex(g):00",
    };
    for (const wchar_t* line : rejected) {
        SCOPED_TRACE(testing::Message() << "line " << std::string(line, line + wcslen(line)).c_str());
        ParsedValue value;
        EXPECT_FALSE(ParseValueLine(line, value));
    }
}

TEST(ValueLine, NameFillsItsBufferButNeverOverflowsIt)
{
    const std::wstring longest(255, L'n');
    ParsedValue value;
    ASSERT_TRUE(ParseValueLine((L"\"" + longest + L"\"=dword:00000001").c_str(), value));
    EXPECT_EQ(longest, value.name);

    const std::wstring tooLong(256, L'n');
    EXPECT_FALSE(ParseValueLine((L"\"" + tooLong + L"\"=dword:00000001").c_str(), value));
}

TEST(ValueLine, ByteCountFollowsTheListLength)
{
    // (L + 1) / 3 bytes for a list of L characters; a stray last digit adds none.
    const struct {
        const wchar_t* line;
        uint32_t size;
    } cases[] = {
        {L"\"B\"=hex:0", 0},
        {L"\"B\"=hex:01", 1},
        {L"\"B\"=hex:01,", 1},
        {L"\"B\"=hex:01,0", 1},
        {L"\"B\"=hex:01,02", 2},
    };
    for (const auto& c : cases) {
        ParsedValue value;
        ASSERT_TRUE(ParseValueLine(c.line, value));
        EXPECT_EQ(c.size, value.size);
    }
}

TEST(ReadHexNumber, StopsAtTheFirstNonDigit)
{
    const struct {
        const wchar_t* text;
        uint32_t number;
    } cases[] = {
        {L"00000020", 0x20},       {L"1A,2b", 0x1a},       {L"aBcDeF01\"", 0xabcdef01},
        {L"7)", 7},                {L"", 0},               {L",01", 0},
        {L"123456789", 0x23456789}, // the top digit is shifted out
        {L"ffffffff", 0xffffffff}, {L"fg", 0xf},
    };
    for (const auto& c : cases) EXPECT_EQ(c.number, ReadHexNumber(c.text));
}

std::vector<std::wstring> LinesOf(const wchar_t* block)
{
    std::vector<std::wstring> lines;
    ValueBlockCursor cursor(block);
    for (const wchar_t* line = cursor.Next(); line != nullptr; line = cursor.Next()) lines.push_back(line);
    return lines;
}

TEST(ValueBlock, GivesItsLinesInOrderUpToTheEmptyLine)
{
    EXPECT_TRUE(LinesOf(L"").empty());
    EXPECT_EQ(std::vector<std::wstring>{L"\"A\"=dword:00000001"}, LinesOf(L"\"A\"=dword:00000001\0"));
    const std::vector<std::wstring> many = {L"\"A\"=hex:", L"\"B\"=\"b\"", L"\"C\"=dword:00000003"};
    EXPECT_EQ(many, LinesOf(L"\"A\"=hex:\0\"B\"=\"b\"\0\"C\"=dword:00000003\0"));
    // What follows the closing empty line is not part of the block.
    EXPECT_EQ(std::vector<std::wstring>{L"A"}, LinesOf(L"A\0\0B\0"));
}

// Renders a parsed value back in the table's canonical form.
std::wstring Render(const ParsedValue& value)
{
    std::wstring line = L"\"" + std::wstring(value.name) + L"\"=";
    wchar_t number[16];
    if (value.type == REG_SZ) {
        line += L"\"";
        line.append(reinterpret_cast<const wchar_t*>(value.data.get()), value.size / 2 - 1);
        return line + L"\"";
    }
    if (value.type == REG_DWORD) {
        const uint8_t* d = value.data.get();
        _snwprintf(number, 16, L"%08x", d[0] | d[1] << 8 | d[2] << 16 | static_cast<uint32_t>(d[3]) << 24);
        number[15] = L'\0';
        return line + L"dword:" + number;
    }
    if (value.type == REG_BINARY) {
        line += L"hex:";
    } else {
        _snwprintf(number, 16, L"hex(%x):", static_cast<unsigned>(value.type));
        number[15] = L'\0';
        line += number;
    }
    for (uint32_t i = 0; i < value.size; ++i) {
        _snwprintf(number, 16, i == 0 ? L"%02x" : L",%02x", value.data[i]);
        number[15] = L'\0';
        line += number;
    }
    return line;
}

class LineGenerator {
public:
    uint32_t Next(uint32_t bound)
    {
        state_ = state_ * 1103515245u + 12345u;
        return (state_ >> 8) % bound;
    }
    std::wstring Text(size_t maxLength)
    {
        static const wchar_t alphabet[] = L"aZ09 \\%{}-_.:*@,\"=()\x00e9\x0416\x4e2d";
        const size_t count = sizeof(alphabet) / sizeof(alphabet[0]) - 1;
        std::wstring text;
        for (size_t n = Next(static_cast<uint32_t>(maxLength + 1)); text.size() < n;) text += alphabet[Next(count)];
        return text;
    }
    std::wstring Name()
    {
        for (;;) {
            std::wstring name = Text(40);
            if (name.find(L"\"=") == std::wstring::npos) return name;
        }
    }
    std::wstring ByteList(size_t maxCount)
    {
        std::wstring list;
        wchar_t byte[4];
        for (size_t n = Next(static_cast<uint32_t>(maxCount + 1)), i = 0; i < n; ++i) {
            _snwprintf(byte, 4, i == 0 ? L"%02x" : L",%02x", Next(256));
            byte[3] = L'\0';
            list += byte;
        }
        return list;
    }
    std::wstring Line()
    {
        std::wstring line = L"\"" + Name() + L"\"=";
        wchar_t number[16];
        switch (Next(4)) {
        case 0:
            return line + L"\"" + Text(80) + L"\"";
        case 1:
            _snwprintf(number, 16, L"dword:%08x", Next(0xffffff) * 256 + Next(256));
            number[15] = L'\0';
            return line + number;
        case 2:
            return line + L"hex:" + ByteList(50);
        default: {
            static const wchar_t types[] = L"0256789abcdef";
            _snwprintf(number, 16, L"hex(%c):", types[Next(13)]);
            number[15] = L'\0';
            return line + number + ByteList(50);
        }
        }
    }

private:
    uint32_t state_ = 20240611u;
};

TEST(ValueLine, CanonicalLinesRenderBackToThemselves)
{
    LineGenerator generator;
    for (int i = 0; i < 2000; ++i) {
        const std::wstring line = generator.Line();
        ParsedValue value;
        ASSERT_TRUE(ParseValueLine(line.c_str(), value)) << "line " << i;
        ASSERT_EQ(line, Render(value)) << "line " << i;
    }
}

}  // namespace
