#pragma once
// Read access to the built-in known-good table for its checks: the records of
// one family, and the values of a key parsed with the program's own parser.
#include "registry/KnownGoodRecord.h"

#include <cstdint>
#include <string>
#include <vector>

namespace known_good_view {

extern const char kServices[];  // "System\CurrentControlset\Services\"

struct Value {
    std::wstring name;
    uint32_t type;
    std::vector<uint8_t> data;
};

// The table's records of `family`, in table order.
std::vector<const KnownGoodRecord*> RecordsOf(uint32_t family);

// The raw lines of a record's value block, in block order.
std::vector<std::wstring> LinesOf(const KnownGoodRecord& record);

// Bytes of the block including every NUL, the closing one too.
size_t BlockBytes(const KnownGoodRecord& record);

// Parses every line of the record; false when a line is rejected.
bool ParseValues(const KnownGoodRecord& record, std::vector<Value>& out);

// The values of `keyBelowServices` in `family`, over all records of the key.
// `found` tells whether the family has the key at all.
std::vector<Value> ValuesOfKey(uint32_t family, const std::string& keyBelowServices, bool* found = nullptr);

const Value* Find(const std::vector<Value>& values, const wchar_t* name);

// REG_SZ / REG_EXPAND_SZ text without its terminator; a multi-string as its
// entries joined with ", ".
std::wstring TextOf(const Value& value);
uint32_t DwordOf(const Value& value);

// ASCII text of a value name or line, for failure messages.
std::string Narrow(const std::wstring& text);

}  // namespace known_good_view
