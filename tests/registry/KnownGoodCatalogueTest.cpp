// The known-good table against its key and value catalogue: per family the
// records in order, their key paths, value names, rule and blob counts,
// keepExisting flags and split records. The expectation is written from the
// catalogue, not read from the table's sources.
#include "KnownGoodTableView.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using namespace known_good_view;
using Names = std::vector<std::wstring>;

// One key of the catalogue: either its value names in record order, or a
// number of values of one type (rule strings, filter blobs).
struct ExpectedKey {
    std::string path;
    Names names;
    int valueCount = -1;  // with valueType, instead of names
    uint32_t valueType = REG_NONE;
    uint32_t keep = 0;
    int records = 1;
};

class Catalogue {
public:
    explicit Catalogue(uint32_t family) : f(family) {}

    bool In(std::initializer_list<uint32_t> families) const
    {
        for (uint32_t x : families) {
            if (x == f) return true;
        }
        return false;
    }
    void Key(const std::string& path, Names names = {}) { keys.push_back(ExpectedKey{path, names}); }
    void Counted(const std::string& path, int count, uint32_t type, uint32_t keep, int records = 1)
    {
        keys.push_back(ExpectedKey{path, {}, count, type, keep, records});
    }

    const uint32_t f;
    std::vector<ExpectedKey> keys;
};

void Bfe(Catalogue& c)
{
    const bool vistaLike = c.In({1, 5});
    c.Key("BFE", {L"DisplayName", L"Group", L"ImagePath", L"Description", L"ObjectName", L"ErrorControl", L"Start",
                  L"Type", L"DependOnService", L"ServiceSidType", L"RequiredPrivileges", L"FailureActions"});
    c.Key("BFE\\Parameters", {L"ServiceDll", L"ServiceDllUnloadOnStop", L"ServiceMain"});
    c.Key("BFE\\Parameters\\Policy");
    c.Key("BFE\\Parameters\\Policy\\BootTime");
    c.Key("BFE\\Parameters\\Policy\\Persistent");
    const uint32_t filterKeep = c.In({1, 2, 4}) ? 1 : 0;
    const uint32_t objectKeep = c.In({2, 4}) ? 1 : 0;
    c.Counted("BFE\\Parameters\\Policy\\BootTime\\Filter", vistaLike ? 16 : 14, REG_BINARY, filterKeep);
    c.Counted("BFE\\Parameters\\Policy\\Persistent\\Filter", vistaLike ? 36 : 39, REG_BINARY, filterKeep,
              c.f == 4 ? 3 : 2);
    c.Counted("BFE\\Parameters\\Policy\\Persistent\\Provider", 4, REG_BINARY, objectKeep);
    c.Counted("BFE\\Parameters\\Policy\\Persistent\\SubLayer", vistaLike ? 2 : 4, REG_BINARY, objectKeep);
}

void Bits(Catalogue& c)
{
    if (c.In({0, 3})) {
        c.Key("BITS", {L"Type", L"Start", L"ErrorControl", L"ImagePath", L"DisplayName", L"DependOnService",
                       L"DependOnGroup", L"ObjectName", L"Description", L"FailureActions"});
        c.Key("BITS\\Parameters", {L"ServiceDll"});
        c.Key("BITS\\Security", {L"Security"});
        c.Key("BITS\\Enum", {L"0", L"Count", L"NextInstance"});
        return;
    }
    c.Key("BITS", {L"DisplayName", L"ImagePath", L"Description", L"ObjectName", L"ErrorControl", L"Start",
                   L"DelayedAutoStart", L"Type", L"DependOnService", L"ServiceSidType", L"RequiredPrivileges",
                   L"FailureActions"});
    c.Key("BITS\\Parameters", {L"ServiceDll"});
    Names perf = {L"Library", L"Open", L"Collect", L"Close", L"InstallType", L"PerfIniFile", L"First Counter",
                  L"Last Counter", L"First Help", L"Last Help", L"Object List", L"PerfMMFileName"};
    if (c.f == 2) perf.push_back(L"1008");
    c.Key("BITS\\Performance", perf);
    c.Key("BITS\\Security", {L"Security"});
}

void Iphlpsvc(Catalogue& c)
{
    c.Key("iphlpsvc", {L"DisplayName", L"ImagePath", L"Description", L"ObjectName", L"ErrorControl", L"Start",
                       L"Type", L"DependOnService", L"ServiceSidType", L"RequiredPrivileges", L"FailureActions"});
    c.Key("iphlpsvc\\config");
    c.Key("iphlpsvc\\Interfaces");
    c.Key("iphlpsvc\\Parameters", {L"ServiceDll", L"ServiceDllUnloadOnStop"});
    if (c.In({2, 4})) {
        const bool seven = c.f == 2;
        c.Key("iphlpsvc\\Parameters\\IPHTTPS");
        c.Key("iphlpsvc\\Parameters\\Isatap");
        c.Key(std::string("iphlpsvc\\Parameters\\Isatap\\") +
                  (seven ? "{8AD2FB26-F91E-44F1-9B24-3C0AE56C9CE0}" : "{75172BFB-3198-4BC3-81A7-F27F932EBED3}"),
              {L"InterfaceName", L"ReusableType"});
        c.Key("iphlpsvc\\Parameters\\Teredo");
        c.Key(std::string("iphlpsvc\\Parameters\\Teredo\\") +
                  (seven ? "{FA88062C-9A61-4C1E-AC45-7143F8F01AAD}" : "{4B9E8F64-7402-4FEF-887B-7985E71D4AFE}"),
              {L"InterfaceName", L"ReusableType"});
    }
    c.Key("iphlpsvc\\Teredo", {L"SP1Installed"});
}

void MpsSvc(Catalogue& c)
{
    c.Key("MpsSvc", {L"DisplayName", L"Group", L"ImagePath", L"Description", L"ObjectName", L"ErrorControl",
                     L"Start", L"Type", L"DependOnService", L"ServiceSidType", L"RequiredPrivileges",
                     L"FailureActions"});
    c.Key("MpsSvc\\Parameters", {L"ServiceDll", L"ServiceDllUnloadOnStop"});
    c.Key("MpsSvc\\Parameters\\PortKeywords");
    c.Key("MpsSvc\\Parameters\\PortKeywords\\Teredo");
    c.Key("MpsSvc\\Parameters\\PortKeywords\\RPC-EPMap", c.In({1, 5}) ? Names{L"Collection"} : Names{});
    if (c.In({2, 4})) {
        c.Key("MpsSvc\\Parameters\\PortKeywords\\DHCP");
        c.Key("MpsSvc\\Parameters\\PortKeywords\\IPTLSIn");
        c.Key("MpsSvc\\Parameters\\PortKeywords\\IPTLSOut");
    }
    c.Key(c.f == 1 ? "MpsSvc\\Parameters\\Security" : "MpsSvc\\Security", {L"Security"});
}

void SharedAccessOld(Catalogue& c)
{
    const std::string fp = "SharedAccess\\Parameters\\FirewallPolicy";
    Names service = {L"DependOnGroup", L"DependOnService", L"Description", L"DisplayName", L"ErrorControl",
                     L"ImagePath", L"ObjectName"};
    if (c.f == 0) {
        service.insert(service.end(), {L"Start", L"Type"});
    } else {
        service.insert(service.end(), {L"Type", L"Start"});
    }
    c.Key("SharedAccess", service);
    c.Key("SharedAccess\\Epoch", {L"Epoch"});
    if (c.f == 0) c.Key("SharedAccess\\Setup", {L"ServiceUpgrade"});
    c.Key("SharedAccess\\Parameters", {L"ServiceDll"});
    c.Key(fp);
    const Names apps = {L"%windir%\\system32\\sessmgr.exe", L"%windir%\\Network Diagnostic\\xpnetdiag.exe"};
    if (c.f == 0) {
        for (const char* p : {"DomainProfile", "StandardProfile"}) {
            c.Key(fp + "\\" + p, {L"EnableFirewall"});
            c.Key(fp + "\\" + p + "\\AuthorizedApplications");
            c.Key(fp + "\\" + p + "\\AuthorizedApplications\\List", apps);
        }
    } else {
        // The order of the Server 2003 key list of the catalogue.
        c.Key(fp + "\\DomainProfile", {L"EnableFirewall"});
        c.Key(fp + "\\RestrictedServices");
        c.Key(fp + "\\RestrictedServices\\Static");
        c.Counted(fp + "\\RestrictedServices\\Static\\System", 6, REG_SZ, 1);
        c.Key(fp + "\\StandardProfile", {L"EnableFirewall"});
    }
    c.Key("SharedAccess\\Enum", {L"0", L"Count", L"NextInstance"});
}

void SharedAccessNew(Catalogue& c)
{
    const std::string fp = "SharedAccess\\Parameters\\FirewallPolicy";
    const bool client = c.In({1, 2});
    c.Key("SharedAccess", {L"DisplayName", L"ImagePath", L"Description", L"ObjectName", L"ErrorControl", L"Start",
                           L"Type", L"DependOnService", L"ServiceSidType", L"RequiredPrivileges", L"FailureActions"});
    c.Key("SharedAccess\\Epoch", {L"Epoch"});
    if (c.In({2, 4})) c.Key("SharedAccess\\Epoch2", {L"Epoch"});
    if (c.In({1, 5})) {
        c.Key("SharedAccess\\Parameters", {L"ServiceDll", L"ServiceDllUnloadOnStop", L"ScopeAddress",
                                           L"ScopeAddressBackup", L"SharedAutoDial"});
    } else {
        c.Key("SharedAccess\\Parameters", {L"ServiceDll", L"ServiceDllUnloadOnStop", L"SharedAutoDial"});
    }
    if (client) {
        c.Key(fp, {L"DisableStatefulFTP", L"PolicyVersion", L"DisableStatefulPPTP", L"IPSecExempt"});
    } else {
        c.Key(fp, {L"IPSecExempt", L"DisableStatefulFTP", L"DisableStatefulPPTP", L"PolicyVersion"});
    }
    const Names profile = client ? Names{L"EnableFirewall", L"DisableNotifications"}
                                 : Names{L"DisableNotifications", L"EnableFirewall"};
    for (const char* p : {"DomainProfile", "StandardProfile", "PublicProfile"}) c.Key(fp + "\\" + p, profile);
    if (client) {
        for (const char* p : {"DomainProfile", "StandardProfile", "PublicProfile"}) {
            c.Key(fp + "\\" + p + "\\AuthorizedApplications");
        }
        for (const char* p : {"DomainProfile", "PublicProfile", "StandardProfile"}) {
            c.Key(fp + "\\" + p + "\\GloballyOpenPorts");
        }
    }
    Names logging;
    if (client) {
        logging = {L"LogFileSize", L"LogFilePath"};
    } else if (c.f == 4) {
        logging = {L"LogDroppedPackets", L"LogFilePath", L"LogFileSize", L"LogSuccessfulConnections"};
    } else {
        logging = {L"LogFileSize", L"LogFilePath", L"LogDroppedPackets", L"LogSuccessfulConnections"};
    }
    for (const char* p : {"DomainProfile", "PublicProfile", "StandardProfile"}) {
        c.Key(fp + "\\" + p + "\\Logging", logging);
    }
    const int activeRules = c.f == 1 ? 282 : c.f == 2 ? 302 : c.f == 4 ? 156 : 122;
    c.Counted(fp + "\\FirewallRules", activeRules, REG_SZ, c.f == 5 ? 0 : 1, client ? 3 : c.f == 4 ? 2 : 1);
    c.Key(fp + "\\RestrictedServices");
    c.Key(fp + "\\RestrictedServices\\Static");
    c.Key(fp + "\\RestrictedServices\\Configurable");
    if (c.f == 2) c.Counted(fp + "\\RestrictedServices\\Configurable\\System", 2, REG_SZ, 0);
    const int hardening = c.f == 1 ? 78 : c.f == 2 ? 115 : c.f == 4 ? 67 : 56;
    c.Counted(fp + "\\RestrictedServices\\Static\\System", hardening, REG_SZ, 1);
    const std::string dp = "SharedAccess\\Defaults\\FirewallPolicy";
    c.Key("SharedAccess\\Defaults");
    c.Key(dp, {L"IPSecExempt", L"DisableStatefulFTP", L"DisableStatefulPPTP", L"PolicyVersion"});
    for (const char* p : {"DomainProfile", "PublicProfile", "StandardProfile"}) {
        c.Key(dp + "\\" + p, {L"DisableNotifications", L"EnableFirewall"});
    }
    for (const char* p : {"DomainProfile", "PublicProfile", "StandardProfile"}) {
        c.Key(dp + "\\" + p + "\\Logging", {L"LogFileSize", L"LogFilePath"});
    }
    const int defaultRules = c.f == 1 ? 279 : c.f == 2 ? 302 : c.f == 4 ? 136 : 122;
    c.Counted(dp + "\\FirewallRules", defaultRules, REG_SZ, 1, client ? 3 : 1);
}

void WinDefend(Catalogue& c)
{
    if (c.f == 1) {
        c.Key("WinDefend", {L"DisplayName", L"ErrorControl", L"Group", L"ImagePath", L"Start", L"Type",
                            L"Description", L"DependOnService", L"ObjectName", L"ServiceSidType",
                            L"RequiredPrivileges", L"FailureActions"});
    } else {
        c.Key("WinDefend", {L"DisplayName", L"ErrorControl", L"ImagePath", L"Start", L"Type", L"Description",
                            L"DependOnService", L"ObjectName", L"ServiceSidType", L"RequiredPrivileges",
                            L"DelayedAutoStart", L"FailureActions"});
    }
    c.Key("WinDefend\\Parameters", {L"ServiceDllUnloadOnStop", L"ServiceDll"});
    c.Key("WinDefend\\Security", {L"Security"});
    if (c.f == 2) {
        c.Key("WinDefend\\TriggerInfo");
        c.Key("WinDefend\\TriggerInfo\\0", {L"Type", L"Action", L"GUID"});
    }
}

void Wscsvc(Catalogue& c)
{
    if (c.f == 0) {
        c.Key("wscsvc", {L"Type", L"Start", L"ErrorControl", L"ImagePath", L"DisplayName", L"DependOnService",
                         L"ObjectName", L"Description"});
        c.Key("wscsvc\\Parameters", {L"ServiceDll"});
        c.Key("wscsvc\\Security", {L"Security"});
        c.Key("wscsvc\\Enum", {L"0", L"Count", L"NextInstance"});
        return;
    }
    c.Key("wscsvc", {L"DisplayName", L"ErrorControl", L"ImagePath", L"Start", L"Type", L"Description",
                     L"DependOnService", L"ObjectName", L"ServiceSidType", L"RequiredPrivileges",
                     L"DelayedAutoStart", L"FailureActions"});
    c.Key("wscsvc\\Parameters", {L"ServiceDllUnloadOnStop", L"ServiceDll"});
    c.Key("wscsvc\\Security", {L"Security"});
}

void Wuauserv(Catalogue& c)
{
    if (c.In({0, 3})) {
        c.Key("wuauserv", {L"Type", L"Start", L"ErrorControl", L"ImagePath", L"DisplayName", L"ObjectName",
                           L"Description"});
        c.Key("wuauserv\\Parameters", {L"ServiceDll"});
        c.Key("wuauserv\\Security", {L"Security"});
        c.Key("wuauserv\\Enum", {L"0", L"Count", L"NextInstance"});
        return;
    }
    c.Key("wuauserv", {L"PreshutdownTimeout", L"DisplayName", L"ImagePath", L"Description", L"ObjectName",
                       L"ErrorControl", L"Start", L"DelayedAutoStart", L"Type", L"DependOnService",
                       L"ServiceSidType", L"RequiredPrivileges", L"FailureActions"});
    c.Key("wuauserv\\Parameters", {L"ServiceDll", L"ServiceMain", L"ServiceDllUnloadOnStop"});
    c.Key("wuauserv\\Security", {L"Security"});
}

// The services of each family in the order the family's records take them.
std::vector<ExpectedKey> CatalogueOf(uint32_t family)
{
    Catalogue c(family);
    if (c.In({0, 3})) {
        Bits(c);
        SharedAccessOld(c);
        if (family == 0) Wscsvc(c);
        Wuauserv(c);
    } else {
        Bfe(c);
        Bits(c);
        Iphlpsvc(c);
        MpsSvc(c);
        SharedAccessNew(c);
        if (c.In({1, 2})) {
            WinDefend(c);
            Wscsvc(c);
        }
        Wuauserv(c);
    }
    return c.keys;
}

int RecordCount(const std::vector<ExpectedKey>& keys)
{
    int n = 0;
    for (const ExpectedKey& k : keys) n += k.records;
    return n;
}

TEST(KnownGoodCatalogue, FamiliesFollowEachOtherInCodeOrderWithTheirRecordCounts)
{
    const KnownGoodTable table = BuiltInKnownGoodTable();
    ASSERT_EQ(305u, table.count);
    const size_t counts[6] = {24, 68, 80, 18, 63, 52};
    size_t index = 0;
    for (uint32_t family = 0; family < 6; ++family) {
        EXPECT_EQ(counts[family], static_cast<size_t>(RecordCount(CatalogueOf(family)))) << "catalogue " << family;
        for (size_t i = 0; i < counts[family]; ++i, ++index) {
            ASSERT_EQ(family, table.records[index].osFamily) << "record " << index;
        }
    }
}

TEST(KnownGoodCatalogue, EveryRecordIsBelowTheServicesKeyOfTheLocalMachine)
{
    const KnownGoodTable table = BuiltInKnownGoodTable();
    for (size_t i = 0; i < table.count; ++i) {
        const KnownGoodRecord& r = table.records[i];
        EXPECT_EQ(HKEY_LOCAL_MACHINE, r.root) << i;
        ASSERT_NE(nullptr, r.keyPath);
        ASSERT_NE(nullptr, r.sddl);
        ASSERT_NE(nullptr, r.valueLines);
        EXPECT_EQ(0, std::string(r.keyPath).rfind(kServices, 0)) << r.keyPath;
        EXPECT_LE(r.keepExisting, 1u) << r.keyPath;
        EXPECT_LT(BlockBytes(r), 65536u) << r.keyPath;
    }
}

class KnownGoodFamilyCatalogue : public ::testing::TestWithParam<uint32_t> {};

TEST_P(KnownGoodFamilyCatalogue, RecordsMatchTheCatalogueKeyByKey)
{
    const uint32_t family = GetParam();
    const std::vector<const KnownGoodRecord*> records = RecordsOf(family);
    const std::vector<ExpectedKey> keys = CatalogueOf(family);
    size_t at = 0;
    for (const ExpectedKey& key : keys) {
        SCOPED_TRACE("family " + std::to_string(family) + ", key " + key.path);
        std::vector<Value> values;
        for (int part = 0; part < key.records; ++part, ++at) {
            ASSERT_LT(at, records.size());
            const KnownGoodRecord& r = *records[at];
            ASSERT_EQ(kServices + key.path, r.keyPath) << "record " << at << " of the family";
            EXPECT_EQ(key.keep, r.keepExisting);
            const size_t before = values.size();
            ASSERT_TRUE(ParseValues(r, values));
            if (key.records > 1) {
                EXPECT_GT(values.size(), before) << "a split record holds values";
                EXPECT_EQ(std::string(records[at - part]->sddl), r.sddl) << "split records share the security";
            }
        }
        if (key.valueCount < 0) {
            std::vector<std::wstring> names;
            for (const Value& v : values) names.push_back(v.name);
            EXPECT_EQ(key.names, names);
        } else {
            EXPECT_EQ(static_cast<size_t>(key.valueCount), values.size());
            std::set<std::wstring> distinct;
            for (const Value& v : values) {
                EXPECT_EQ(key.valueType, v.type) << Narrow(v.name);
                distinct.insert(v.name);
            }
            EXPECT_EQ(values.size(), distinct.size()) << "every value name once";
        }
    }
    EXPECT_EQ(records.size(), at);
}

INSTANTIATE_TEST_SUITE_P(AllFamilies, KnownGoodFamilyCatalogue, ::testing::Values(0u, 1u, 2u, 3u, 4u, 5u));

TEST(KnownGoodCatalogue, ServerFamilyTouchesExactlyItsEighteenKeys)
{
    const char* const expected[] = {
        "BITS", "BITS\\Parameters", "BITS\\Security", "BITS\\Enum", "SharedAccess", "SharedAccess\\Epoch",
        "SharedAccess\\Parameters", "SharedAccess\\Parameters\\FirewallPolicy",
        "SharedAccess\\Parameters\\FirewallPolicy\\DomainProfile",
        "SharedAccess\\Parameters\\FirewallPolicy\\RestrictedServices",
        "SharedAccess\\Parameters\\FirewallPolicy\\RestrictedServices\\Static",
        "SharedAccess\\Parameters\\FirewallPolicy\\RestrictedServices\\Static\\System",
        "SharedAccess\\Parameters\\FirewallPolicy\\StandardProfile", "SharedAccess\\Enum", "wuauserv",
        "wuauserv\\Parameters", "wuauserv\\Security", "wuauserv\\Enum"};
    const std::vector<const KnownGoodRecord*> records = RecordsOf(3);
    ASSERT_EQ(18u, records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(std::string(kServices) + expected[i], records[i]->keyPath);
    }
}

}  // namespace
