#include "driver/Scan.h"

#include "cleanup/ServicesExeCheck.h"
#include "driver/CleanSystem.h"
#include "driver/PlatformProbe.h"
#include "driver/ScanReport.h"
#include "registry/ComServerRepair.h"
#include "registry/RecordRestore.h"
#include "registry/ServicesRestore.h"

namespace {

// A record whose key is missing, or whose value is missing or (unless the
// record keeps existing values) differs: what the restoration would write.
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

int RunScan(const OSVERSIONINFOEXW& version)
{
    const uint32_t osVersionCode = GetOsVersionCode(version);
    if (osVersionCode == OsVersionUnsupported)
        return CleanSystemUnsupported;
    const ServicesExeVerdict servicesExe =
        IsPostVistaFamily(osVersionCode) ? CheckServicesExe() : ServicesExeVerdict::Clean;
    if (ComServerPathsHijacked(osVersionCode) || servicesExe == ServicesExeVerdict::Infected)
        return ScanResultRootkitTraces;
    if (ServicesDifferFromKnownGood(osVersionCode))
        return ScanResultServicesDiffer;
    return servicesExe == ServicesExeVerdict::Unchecked ? ScanResultUncheckable : ScanResultNothingFound;
}

bool ServicesDifferFromKnownGood(uint32_t versionCode)
{
    const ServicesFamily family = ChooseServicesFamily(versionCode);
    const KnownGoodTable table = BuiltInKnownGoodTable();
    for (size_t i = 0; i < table.count; ++i) {
        if (table.records[i].osFamily == family.code && RecordDiffers(table.records[i]))
            return true;
    }
    return false;
}
