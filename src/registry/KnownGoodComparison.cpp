#include "registry/KnownGoodComparison.h"

#include "registry/RecordRestore.h"
#include "registry/ServicesRestore.h"

namespace {

bool RecordDiffers(const KnownGoodRecord& record)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExA(record.root, record.keyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS)
        return true;
    ScopedRegKey key(opened);
    ValueBlockCursor lines(record.valueLines);
    for (const wchar_t* line = lines.Next(); line != nullptr; line = lines.Next()) {
        ParsedValue knownGood;
        if (!ParseValueLine(line, knownGood))
            continue;  // the restoration skips it too
        RegistryValueData present;
        const CurrentValue current = CompareWithCurrent(key.Get(), knownGood, &present);
        if (current == CurrentValue::Missing || (current == CurrentValue::Different && record.keepExisting == 0))
            return true;
    }
    return false;
}

}  // namespace

bool ServicesDifferFromTable(uint32_t versionCode, const KnownGoodTable& table)
{
    const ServicesFamily family = ChooseServicesFamily(versionCode);
    for (size_t i = 0; i < table.count; ++i) {
        if (table.records[i].osFamily == family.code && RecordDiffers(table.records[i]))
            return true;
    }
    return false;
}
