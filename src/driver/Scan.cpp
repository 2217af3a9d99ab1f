#include "driver/Scan.h"

#include "driver/CleanSystem.h"
#include "driver/PlatformProbe.h"
#include "driver/ScanReport.h"
#include "logging/Log.h"
#include "registry/ServicesRestore.h"
#include "win/MachineChange.h"

namespace {

size_t FamilyRecordCount(uint32_t versionCode)
{
    const uint32_t family = ChooseServicesFamily(versionCode).code;
    const KnownGoodTable table = BuiltInKnownGoodTable();
    size_t count = 0;
    for (size_t i = 0; i < table.count; ++i)
        count += table.records[i].osFamily == family ? 1 : 0;
    return count;
}

// Counts what the restoration would change; key security written again as
// it is changes nothing.
size_t servicesChanges = 0;

void CountServicesChange(Change change, const ChangeTarget&, const wchar_t*, const wchar_t*)
{
    if (change != Change::RewriteKeySecurity)
        ++servicesChanges;
}

}  // namespace

int RunScan(const OSVERSIONINFOEXW& version)
{
    // Refused as every run refuses it, before anything is reported.
    if (GetOsVersionCode(version) == OsVersionUnsupported)
        return RunPhases(false, version);
    LogInfo(L"Scan: the checks of a cleaning run and of a restoration run; nothing is changed");
    SetScanMode(true);
    BeginScanReport();
    int result = RunPhases(false, version);
    if (result == CleanSystemDone)
        result = RunPhases(true, version);
    const ScanFindings findings = EndScanReport(FamilyRecordCount(GetOsVersionCode(version)));
    SetScanMode(false);
    if (result != CleanSystemDone)
        return result;
    return ScanExitCode(findings);
}

bool ServicesDifferFromKnownGood(uint32_t versionCode)
{
    const bool wasScan = IsScanMode();
    const ChangeObserver counter = {CountServicesChange, nullptr};
    servicesChanges = 0;
    SetScanMode(true);
    ObserveChanges(&counter);
    RestoreServices(versionCode);
    ObserveChanges(nullptr);
    SetScanMode(wasScan);
    return servicesChanges != 0;
}
