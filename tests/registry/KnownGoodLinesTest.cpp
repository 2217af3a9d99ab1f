// Every line and security string of the known-good table: lines parse with
// the program's parser and in their canonical form, security strings convert
// with the platform, binary security values are valid descriptors, and the
// records the catalogue quotes in full hold exactly what it says.
#include "KnownGoodTableView.h"

#include "registry/ValueLine.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace known_good_view;
using Bytes = std::vector<uint8_t>;

bool IsLowercaseHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
}

bool IsLowercaseHexNumber(const std::wstring& digits)
{
    for (wchar_t c : digits)
        if (!IsLowercaseHexDigit(c)) return false;
    return true;
}

bool IsCanonicalHexList(const std::wstring& list)
{
    if (list.empty()) return true;
    if ((list.size() + 1) % 3 != 0) return false;
    for (size_t i = 0; i < list.size(); ++i) {
        const wchar_t c = list[i];
        if (i % 3 == 2) {
            if (c != L',') return false;
        } else if (!IsLowercaseHexDigit(c)) {
            return false;
        }
    }
    return true;
}

TEST(KnownGoodLines, EveryLineParsesInItsCanonicalForm)
{
    const KnownGoodTable table = BuiltInKnownGoodTable();
    size_t lines = 0;
    for (size_t i = 0; i < table.count; ++i) {
        const KnownGoodRecord& r = table.records[i];
        for (const std::wstring& line : LinesOf(r)) {
            ++lines;
            SCOPED_TRACE(std::string(r.keyPath) + ": " + Narrow(line.substr(0, 80)));
            ParsedValue parsed;
            ASSERT_TRUE(ParseValueLine(line.c_str(), parsed));
            const size_t end = line.find(L"\"=");
            ASSERT_NE(std::wstring::npos, end);
            EXPECT_EQ(line.substr(1, end - 1), std::wstring(parsed.name));
            const std::wstring data = line.substr(end + 2);
            if (data[0] == L'"') {
                EXPECT_EQ(REG_SZ, parsed.type);
                EXPECT_GE(data.size(), 2u);
                EXPECT_EQ(L'"', data.back()) << "string line ends with its closing quote";
                EXPECT_EQ(std::wstring::npos, data.substr(1, data.size() - 2).find(L'"')) << "no quote inside the text";
            } else if (data.compare(0, 6, L"dword:") == 0) {
                EXPECT_EQ(14u, data.size());
                EXPECT_TRUE(IsLowercaseHexNumber(data.substr(6))) << "eight lowercase digits";
            } else {
                const size_t colon = data.find(L':');
                ASSERT_NE(std::wstring::npos, colon);
                const std::wstring list = data.substr(colon + 1);
                EXPECT_TRUE(IsCanonicalHexList(list)) << "two-digit bytes and commas only";
                EXPECT_EQ(list.empty() ? 0u : (list.size() + 1) / 3, parsed.size);
                if (parsed.type == REG_EXPAND_SZ || parsed.type == REG_MULTI_SZ) {
                    ASSERT_GE(parsed.size, 2u);
                    EXPECT_EQ(0, parsed.size % 2);
                    EXPECT_EQ(0, parsed.data[parsed.size - 1] | parsed.data[parsed.size - 2]) << "ends in a NUL";
                }
            }
        }
    }
    EXPECT_GT(lines, 2000u);
}

TEST(KnownGoodLines, ValueTypesFollowTheirNames)
{
    const std::map<std::wstring, DWORD> typeOf = {
        {L"Type", REG_DWORD},          {L"Start", REG_DWORD},
        {L"ErrorControl", REG_DWORD},  {L"ServiceSidType", REG_DWORD},
        {L"DelayedAutoStart", REG_DWORD}, {L"PreshutdownTimeout", REG_DWORD},
        {L"ImagePath", REG_EXPAND_SZ}, {L"ServiceDll", REG_EXPAND_SZ},
        {L"DependOnService", REG_MULTI_SZ}, {L"DependOnGroup", REG_MULTI_SZ},
        {L"RequiredPrivileges", REG_MULTI_SZ}, {L"FailureActions", REG_BINARY},
        {L"Security", REG_BINARY},     {L"DisplayName", REG_SZ},
        {L"Description", REG_SZ},      {L"ObjectName", REG_SZ},
        {L"1008", REG_QWORD},          {L"LogFilePath", REG_EXPAND_SZ},
    };
    const KnownGoodTable table = BuiltInKnownGoodTable();
    for (size_t i = 0; i < table.count; ++i) {
        std::vector<Value> values;
        ASSERT_TRUE(ParseValues(table.records[i], values));
        for (const Value& v : values) {
            const auto it = typeOf.find(v.name);
            if (it == typeOf.end()) continue;
            EXPECT_EQ(it->second, v.type) << table.records[i].keyPath << " " << Narrow(v.name);
        }
    }
}

TEST(KnownGoodLines, SecurityValuesAreValidSelfRelativeDescriptors)
{
    const KnownGoodTable table = BuiltInKnownGoodTable();
    int seen = 0;
    for (size_t i = 0; i < table.count; ++i) {
        std::vector<Value> values;
        ASSERT_TRUE(ParseValues(table.records[i], values));
        const Value* security = Find(values, L"Security");
        if (!security) continue;
        ++seen;
        SCOPED_TRACE(table.records[i].keyPath);
        EXPECT_GE(security->data.size(), 144u);
        EXPECT_LE(security->data.size(), 284u);
        Bytes copy = security->data;
        auto* sd = reinterpret_cast<PSECURITY_DESCRIPTOR>(copy.data());
        ASSERT_TRUE(IsValidSecurityDescriptor(sd));
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
        EXPECT_NE(0, control & SE_SELF_RELATIVE);
        EXPECT_EQ(copy.size(), GetSecurityDescriptorLength(sd));
    }
    // BITS, wuauserv (every family), wscsvc (0, 1, 2), WinDefend (1, 2), MpsSvc (1, 2, 4, 5).
    EXPECT_EQ(6 * 2 + 3 + 2 + 4, seen);
}

TEST(KnownGoodLines, SecurityStringsConvertAndMatchTheirCatalogue)
{
    const KnownGoodTable table = BuiltInKnownGoodTable();
    std::set<std::string> distinct;
    std::vector<std::string> withSacl;
    for (size_t i = 0; i < table.count; ++i) {
        const KnownGoodRecord& r = table.records[i];
        const std::string sddl = r.sddl;
        if (distinct.insert(sddl).second) {
            PSECURITY_DESCRIPTOR sd = nullptr;
            ULONG size = 0;
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &sd, &size))
                << sddl << " error " << GetLastError();
            EXPECT_TRUE(IsValidSecurityDescriptor(sd)) << sddl;
            BOOL present = FALSE, defaulted = FALSE;
            PACL sacl = nullptr;
            ASSERT_TRUE(GetSecurityDescriptorSacl(sd, &present, &sacl, &defaulted));
            EXPECT_EQ(sddl.find("S:") != std::string::npos, present != FALSE) << sddl;
            LocalFree(sd);
        }
        const std::string owner = sddl.substr(0, 4);
        EXPECT_TRUE(owner == "O:BA" || owner == "O:SY" || owner == "O:LS") << sddl;
        const size_t group = sddl.find("G:");
        const size_t dacl = sddl.find("D:");
        ASSERT_NE(std::string::npos, group);
        ASSERT_NE(std::string::npos, dacl);
        const std::string g = sddl.substr(group + 2, dacl - group - 2);
        const bool domainUsers = g.rfind("S-1-5-21-", 0) == 0 && g.size() > 4 && g.compare(g.size() - 4, 4, "-513") == 0;
        EXPECT_TRUE(g == "BA" || g == "SY" || g == "LS" || domainUsers) << sddl;
        if (domainUsers) {
            EXPECT_TRUE(r.osFamily == 1 || r.osFamily == 5 || r.osFamily == 3) << r.keyPath;
        }
        if (sddl.find("S:") != std::string::npos) withSacl.push_back(std::to_string(r.osFamily) + " " + r.keyPath);
    }
    EXPECT_EQ(34u, distinct.size());
    const std::string bitsParameters = std::string(kServices) + "BITS\\Parameters";
    EXPECT_EQ((std::vector<std::string>{"1 " + bitsParameters, "2 " + bitsParameters, "4 " + bitsParameters,
                                        "5 " + bitsParameters}),
              withSacl);
    EXPECT_EQ(1u, distinct.count("O:BAG:SYD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)"));
    EXPECT_EQ(1u, distinct.count("O:SYG:SYD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)"));
    EXPECT_EQ(1u, distinct.count("O:BAG:BAD:PAI(A;;KA;;;SY)(A;CIIO;GA;;;SY)(A;;CCSWRPWPRC;;;BA)(A;CIIO;GXGR;;;BA)"
                                 "(A;;CCSWRPWPRC;;;BU)(A;CIIO;GXGR;;;BU)S:AI(AU;SAFA;WDWO;;;BA)"));
}

TEST(KnownGoodLines, DomainGroupCarriedByMostVistaAndServer2008RecordsAndFiveServer2003Records)
{
    size_t count[6] = {};
    const KnownGoodTable table = BuiltInKnownGoodTable();
    for (size_t i = 0; i < table.count; ++i) {
        if (std::string(table.records[i].sddl).find("G:S-1-5-21-") != std::string::npos) ++count[table.records[i].osFamily];
    }
    EXPECT_EQ(0u, count[0]);
    EXPECT_GT(count[1], 68u / 2);
    EXPECT_EQ(0u, count[2]);
    EXPECT_EQ(5u, count[3]);
    EXPECT_EQ(0u, count[4]);
    EXPECT_GT(count[5], 52u / 2);
}

const char kInherited[] =
    "O:BAG:SYD:AI(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)(A;ID;KR;;;PU)(A;CIIOID;GR;;;PU)(A;ID;KA;;;BA)(A;CIIOID;GA;;;BA)"
    "(A;ID;KA;;;SY)(A;CIIOID;GA;;;SY)(A;CIIOID;GA;;;CO)";

struct TellingRecord {
    uint32_t family;
    uint32_t keep;
    const char* key;
    const char* sddl;  // nullptr: not quoted
    std::vector<std::wstring> lines;
};

TEST(KnownGoodLines, TellingRecordsHoldExactlyWhatIsQuoted)
{
    const std::vector<TellingRecord> cases = {
        {0, 0, "BITS\\Enum", kInherited,
         {L"\"0\"=\"Root\\LEGACY_BITS\\0000\"", L"\"Count\"=dword:00000001", L"\"NextInstance\"=dword:00000001"}},
        {0, 0, "SharedAccess\\Parameters\\FirewallPolicy", kInherited, {}},
        {0, 0, "SharedAccess\\Epoch", kInherited, {L"\"Epoch\"=dword:000001d3"}},
        {1, 0, "MpsSvc\\Parameters\\PortKeywords\\RPC-EPMap", nullptr, {L"\"Collection\"=hex:87,00,01,00"}},
        {3, 0, "wuauserv\\Enum", nullptr,
         {L"\"0\"=\"Root\\LEGACY_WUAUSERV\\0000\"", L"\"Count\"=dword:00000001", L"\"NextInstance\"=dword:00000001"}},
        {5, 0, "SharedAccess\\Defaults\\FirewallPolicy\\PublicProfile", nullptr,
         {L"\"DisableNotifications\"=dword:00000001", L"\"EnableFirewall\"=dword:00000001"}},
    };
    for (const TellingRecord& c : cases) {
        SCOPED_TRACE(std::to_string(c.family) + " " + c.key);
        int matches = 0;
        for (const KnownGoodRecord* r : RecordsOf(c.family)) {
            if (std::string(kServices) + c.key != r->keyPath) continue;
            ++matches;
            EXPECT_EQ(c.keep, r->keepExisting);
            if (c.sddl) {
                EXPECT_STREQ(c.sddl, r->sddl);
            }
            EXPECT_EQ(c.lines, LinesOf(*r));
        }
        EXPECT_EQ(1, matches);
    }
}

TEST(KnownGoodLines, ServerFirstHardeningRuleIsTheQuotedOne)
{
    bool found = false;
    const std::vector<Value> values =
        ValuesOfKey(3, "SharedAccess\\Parameters\\FirewallPolicy\\RestrictedServices\\Static\\System", &found);
    ASSERT_TRUE(found);
    ASSERT_EQ(6u, values.size());
    EXPECT_EQ(L"SearchIndexer-1", values[0].name);
    EXPECT_EQ(L"V2.0|Action=Block|Dir=In|App=%SystemRoot%\\system32\\SearchIndexer.exe|Svc=WSearch|"
              L"Name=Block all inbound traffic to SearchIndexer|",
              TextOf(values[0]));
}

const Bytes kFailureActions = {0x80, 0x51, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                               0x00, 0x03, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x01, 0x00,
                               0x00, 0x00, 0xc0, 0xd4, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0xe0,
                               0x93, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

TEST(KnownGoodLines, FailureActionsOfTheNetworkServicesAreTheQuotedBytes)
{
    Bytes shared = kFailureActions;
    shared[0] = 0x84;
    shared[1] = 0x03;
    shared[2] = 0x00;
    for (uint32_t family : {1u, 2u, 4u, 5u}) {
        std::vector<std::string> services = {"BFE", "iphlpsvc", "MpsSvc"};
        if (family == 1 || family == 2) services.push_back("wscsvc");
        for (const std::string& service : services) {
            const std::vector<Value> values = ValuesOfKey(family, service);
            const Value* v = Find(values, L"FailureActions");
            ASSERT_NE(nullptr, v) << family << " " << service;
            EXPECT_EQ(kFailureActions, v->data) << family << " " << service;
        }
        const std::vector<Value> values = ValuesOfKey(family, "SharedAccess");
        const Value* v = Find(values, L"FailureActions");
        ASSERT_NE(nullptr, v) << family;
        EXPECT_EQ(shared, v->data) << family;
    }
}

TEST(KnownGoodLines, BaseFilteringEnginePrivilegesPerFamily)
{
    for (uint32_t family : {1u, 2u, 4u, 5u}) {
        const std::vector<Value> values = ValuesOfKey(family, "BFE");
        const Value* v = Find(values, L"RequiredPrivileges");
        ASSERT_NE(nullptr, v) << family;
        const bool two = family == 1 || family == 5;
        EXPECT_EQ(two ? 82u : 36u, v->data.size()) << family;
        EXPECT_EQ(two ? L"SeAuditPrivilege, SeImpersonatePrivilege" : L"SeAuditPrivilege", TextOf(*v)) << family;
    }
}

// Rule strings are written in the family's own syntax; where no real data
// exists (Vista, Server 2008) every rule is switched off.
TEST(KnownGoodLines, FirewallRulesUseTheFamilySyntaxAndReconstructedOnesAreInactive)
{
    const char* const stores[] = {"SharedAccess\\Parameters\\FirewallPolicy\\FirewallRules",
                                  "SharedAccess\\Defaults\\FirewallPolicy\\FirewallRules"};
    for (uint32_t family : {1u, 2u, 4u, 5u}) {
        const bool reconstructed = family == 1 || family == 5;
        for (const char* store : stores) {
            for (const Value& v : ValuesOfKey(family, store)) {
                const std::wstring text = TextOf(v);
                SCOPED_TRACE(std::to_string(family) + " " + Narrow(v.name));
                EXPECT_EQ(0u, text.rfind(reconstructed ? L"v2.0|" : L"v2.10|", 0));
                EXPECT_EQ(L'|', text.back());
                if (reconstructed) {
                    EXPECT_NE(std::wstring::npos, text.find(L"|Active=FALSE|"));
                    EXPECT_EQ(std::wstring::npos, text.find(L"|Active=TRUE|"));
                }
            }
        }
        for (const Value& v :
             ValuesOfKey(family, "SharedAccess\\Parameters\\FirewallPolicy\\RestrictedServices\\Static\\System")) {
            const std::wstring text = TextOf(v);
            EXPECT_TRUE(text.rfind(L"V2.0|", 0) == 0 || text.rfind(L"v2.0|", 0) == 0) << Narrow(v.name);
            if (reconstructed) {
                EXPECT_NE(std::wstring::npos, text.find(L"|Active=FALSE|")) << Narrow(v.name);
            }
        }
    }
}

}  // namespace
