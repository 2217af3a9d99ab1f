#include "KnownGoodTableView.h"

#include "registry/ValueLine.h"

#include <windows.h>

#include <cstring>

namespace known_good_view {

const char kServices[] = "System\\CurrentControlset\\Services\\";

std::vector<const KnownGoodRecord*> RecordsOf(uint32_t family)
{
    const KnownGoodTable table = BuiltInKnownGoodTable();
    std::vector<const KnownGoodRecord*> out;
    for (size_t i = 0; i < table.count; ++i) {
        if (table.records[i].osFamily == family) out.push_back(&table.records[i]);
    }
    return out;
}

std::vector<std::wstring> LinesOf(const KnownGoodRecord& record)
{
    std::vector<std::wstring> lines;
    ValueBlockCursor cursor(record.valueLines);
    while (const wchar_t* line = cursor.Next()) lines.push_back(line);
    return lines;
}

size_t BlockBytes(const KnownGoodRecord& record)
{
    const wchar_t* p = record.valueLines;
    while (*p != L'\0') p += wcslen(p) + 1;
    return static_cast<size_t>(p + 1 - record.valueLines) * sizeof(wchar_t);
}

bool ParseValues(const KnownGoodRecord& record, std::vector<Value>& out)
{
    for (const std::wstring& line : LinesOf(record)) {
        ParsedValue parsed;
        if (!ParseValueLine(line.c_str(), parsed)) return false;
        out.push_back(Value{parsed.name, parsed.type,
                            std::vector<uint8_t>(parsed.data.get(), parsed.data.get() + parsed.size)});
    }
    return true;
}

std::vector<Value> ValuesOfKey(uint32_t family, const std::string& keyBelowServices, bool* found)
{
    const std::string path = kServices + keyBelowServices;
    std::vector<Value> values;
    bool any = false;
    for (const KnownGoodRecord* r : RecordsOf(family)) {
        if (path != r->keyPath) continue;
        any = true;
        ParseValues(*r, values);
    }
    if (found) *found = any;
    return values;
}

const Value* Find(const std::vector<Value>& values, const wchar_t* name)
{
    for (const Value& v : values) {
        if (v.name == name) return &v;
    }
    return nullptr;
}

std::wstring TextOf(const Value& value)
{
    std::wstring units;
    for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
        units.push_back(static_cast<wchar_t>(value.data[i] | (value.data[i + 1] << 8)));
    }
    if (value.type != REG_MULTI_SZ) return units.substr(0, units.find(L'\0'));
    std::wstring joined;
    size_t start = 0;
    while (start < units.size() && units[start] != L'\0') {
        const size_t end = units.find(L'\0', start);
        if (!joined.empty()) joined += L", ";
        joined += units.substr(start, end - start);
        start = end + 1;
    }
    return joined;
}

uint32_t DwordOf(const Value& value)
{
    uint32_t n = 0;
    if (value.data.size() == 4) memcpy(&n, value.data.data(), 4);
    return n;
}

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

}  // namespace known_good_view
