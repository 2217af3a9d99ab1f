// The principal configuration values of each service's key and Parameters
// subkey, per family, value for value. A dash of the configuration table is
// written as -1 or nullptr: the family's records must not restore that value.
#include "KnownGoodTableView.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace known_good_view;

struct ServiceConfig {
    const char* service;
    uint32_t family;
    int type, start, errorControl, delayedAutoStart, serviceSidType;
    const wchar_t* objectName;
    const wchar_t* imagePath;
    const wchar_t* dependOnService;
    const wchar_t* group;
    const wchar_t* serviceDll;
};

const wchar_t kNetsvcs[] = L"%SystemRoot%\\system32\\svchost.exe -k netsvcs";
const wchar_t kNetsvcsVista[] = L"%SystemRoot%\\System32\\svchost.exe -k netsvcs";
const wchar_t kNetsvcsLower[] = L"%systemroot%\\system32\\svchost.exe -k netsvcs";
const wchar_t kNoNetwork[] = L"%systemroot%\\system32\\svchost.exe -k LocalServiceNoNetwork";
const wchar_t kNoNetworkMps[] = L"%SystemRoot%\\system32\\svchost.exe -k LocalServiceNoNetwork";
const wchar_t kNetSvcsIph[] = L"%SystemRoot%\\System32\\svchost.exe -k NetSvcs";
const wchar_t kRestricted[] = L"%SystemRoot%\\System32\\svchost.exe -k LocalServiceNetworkRestricted";
const wchar_t kLocalService[] = L"NT AUTHORITY\\LocalService";
const wchar_t kIcsDeps[] = L"Netman, WinMgmt, RasMan, BFE";
const wchar_t kIphDeps[] = L"RpcSS, Tdx, winmgmt, tcpip, nsi";

const ServiceConfig kTable[] = {
    {"BITS", 0, 32, 3, 1, -1, -1, L"LocalSystem", kNetsvcs, L"Rpcss", nullptr, L"C:\\WINDOWS\\system32\\qmgr.dll"},
    {"BITS", 3, 32, 3, 1, -1, -1, L"LocalSystem", kNetsvcs, L"Rpcss, EventSystem", nullptr,
     L"C:\\WINDOWS\\system32\\qmgr.dll"},
    {"BITS", 1, 32, 2, 1, 1, 1, L"LocalSystem", kNetsvcsVista, L"RpcSs, EventSystem", nullptr,
     L"%SystemRoot%\\System32\\qmgr.dll"},
    {"BITS", 5, 32, 2, 1, 1, 1, L"LocalSystem", kNetsvcsVista, L"RpcSs, EventSystem", nullptr,
     L"%SystemRoot%\\System32\\qmgr.dll"},
    {"BITS", 2, 32, 3, 1, 1, 1, L"LocalSystem", kNetsvcsVista, L"RpcSs, EventSystem", nullptr,
     L"%SystemRoot%\\System32\\qmgr.dll"},
    {"BITS", 4, 32, 2, 1, 1, 1, L"LocalSystem", kNetsvcsVista, L"RpcSs, EventSystem", nullptr,
     L"%SystemRoot%\\System32\\qmgr.dll"},
    {"SharedAccess", 0, 32, 2, 1, -1, -1, L"LocalSystem", kNetsvcs, L"Netman, WinMgmt", nullptr,
     L"%SystemRoot%\\System32\\ipnathlp.dll"},
    {"SharedAccess", 3, 32, 4, 1, -1, -1, L"LocalSystem", kNetsvcs, L"Netman, WinMgmt", nullptr,
     L"%SystemRoot%\\system32\\ipnathlp.dll"},
    {"SharedAccess", 1, 32, 4, 1, -1, 1, L"LocalSystem", kNetsvcsVista, kIcsDeps, nullptr,
     L"%SystemRoot%\\System32\\ipnathlp.dll"},
    {"SharedAccess", 5, 32, 4, 1, -1, 1, L"LocalSystem", kNetsvcsVista, kIcsDeps, nullptr,
     L"%SystemRoot%\\System32\\ipnathlp.dll"},
    {"SharedAccess", 2, 32, 4, 1, -1, 1, L"LocalSystem", kNetsvcsVista, kIcsDeps, nullptr,
     L"%SystemRoot%\\System32\\ipnathlp.dll"},
    {"SharedAccess", 4, 32, 4, 1, -1, 1, L"LocalSystem", kNetsvcsVista, kIcsDeps, nullptr,
     L"%SystemRoot%\\System32\\ipnathlp.dll"},
    {"wscsvc", 0, 32, 2, 1, -1, -1, L"LocalSystem", kNetsvcsVista, L"RpcSs, winmgmt", nullptr,
     L"%SYSTEMROOT%\\system32\\wscsvc.dll"},
    {"wscsvc", 1, 32, 2, 1, 1, 1, kLocalService, kRestricted, L"RpcSs, WinMgmt", nullptr,
     L"%SystemRoot%\\System32\\wscsvc.dll"},
    {"wscsvc", 2, 32, 2, 1, 1, 1, kLocalService, kRestricted, L"RpcSs, WinMgmt", nullptr,
     L"%SystemRoot%\\System32\\wscsvc.dll"},
    {"wuauserv", 0, 32, 2, 1, -1, -1, L"LocalSystem", kNetsvcsLower, nullptr, nullptr,
     L"C:\\WINDOWS\\system32\\wuauserv.dll"},
    {"wuauserv", 3, 32, 2, 1, -1, -1, L"LocalSystem", kNetsvcsLower, nullptr, nullptr,
     L"C:\\WINDOWS\\system32\\wuauserv.dll"},
    {"wuauserv", 1, 32, 2, 1, 1, 1, L"LocalSystem", kNetsvcsLower, L"rpcss", nullptr,
     L"%systemroot%\\system32\\wuaueng.dll"},
    {"wuauserv", 5, 32, 2, 1, 1, 1, L"LocalSystem", kNetsvcsLower, L"rpcss", nullptr,
     L"%systemroot%\\system32\\wuaueng.dll"},
    {"wuauserv", 2, 32, 2, 1, 1, 1, L"LocalSystem", kNetsvcsLower, L"rpcss", nullptr,
     L"%systemroot%\\system32\\wuaueng.dll"},
    {"wuauserv", 4, 32, 2, 1, 1, 1, L"LocalSystem", kNetsvcsLower, L"rpcss", nullptr,
     L"%systemroot%\\system32\\wuaueng.dll"},
    {"BFE", 1, 32, 2, 1, -1, 3, kLocalService, kNoNetwork, L"RpcSs", L"NetworkProvider",
     L"%SystemRoot%\\System32\\bfe.dll"},
    {"BFE", 5, 32, 2, 1, -1, 3, kLocalService, kNoNetwork, L"RpcSs", L"NetworkProvider",
     L"%SystemRoot%\\System32\\bfe.dll"},
    {"BFE", 2, 32, 2, 1, -1, 3, kLocalService, kNoNetwork, L"RpcSs", L"NetworkProvider",
     L"%SystemRoot%\\System32\\bfe.dll"},
    {"BFE", 4, 32, 2, 1, -1, 3, kLocalService, kNoNetwork, L"RpcSs", L"NetworkProvider",
     L"%SystemRoot%\\System32\\bfe.dll"},
    {"MpsSvc", 1, 32, 2, 1, -1, 3, L"NT Authority\\LocalService", kNoNetworkMps, L"mpsdrv, bfe", L"NetworkProvider",
     L"%SystemRoot%\\system32\\mpssvc.dll"},
    {"MpsSvc", 5, 32, 2, 1, -1, 3, L"NT Authority\\LocalService", kNoNetworkMps, L"mpsdrv, bfe", L"NetworkProvider",
     L"%SystemRoot%\\system32\\mpssvc.dll"},
    {"MpsSvc", 2, 32, 2, 1, -1, 3, L"NT Authority\\LocalService", kNoNetworkMps, L"mpsdrv, bfe", L"NetworkProvider",
     L"%SystemRoot%\\system32\\mpssvc.dll"},
    {"MpsSvc", 4, 32, 2, 1, -1, 3, L"NT Authority\\LocalService", kNoNetworkMps, L"mpsdrv, bfe", L"NetworkProvider",
     L"%SystemRoot%\\system32\\mpssvc.dll"},
    {"iphlpsvc", 1, 32, 2, 1, -1, 1, L"LocalSystem", kNetSvcsIph, kIphDeps, nullptr,
     L"%SystemRoot%\\System32\\iphlpsvc.dll"},
    {"iphlpsvc", 5, 32, 2, 1, -1, 1, L"LocalSystem", kNetSvcsIph, kIphDeps, nullptr,
     L"%SystemRoot%\\System32\\iphlpsvc.dll"},
    {"iphlpsvc", 2, 32, 2, 1, -1, 1, L"LocalSystem", kNetSvcsIph, kIphDeps, nullptr,
     L"%SystemRoot%\\System32\\iphlpsvc.dll"},
    {"iphlpsvc", 4, 32, 2, 1, -1, 1, L"LocalSystem", kNetSvcsIph, kIphDeps, nullptr,
     L"%SystemRoot%\\System32\\iphlpsvc.dll"},
    {"WinDefend", 1, 32, 2, 1, -1, 1, L"LocalSystem", L"%SystemRoot%\\System32\\svchost.exe -k secsvcs", L"RpcSs",
     L"COM Infrastructure", L"%ProgramFiles%\\Windows Defender\\mpsvc.dll"},
    {"WinDefend", 2, 32, 2, 1, 1, 1, L"LocalSystem", L"%SystemRoot%\\System32\\svchost.exe -k secsvcs", L"RpcSs",
     nullptr, L"%ProgramFiles%\\Windows Defender\\mpsvc.dll"},
};

class KnownGoodServiceConfig : public ::testing::TestWithParam<ServiceConfig> {};

void ExpectDword(const std::vector<Value>& values, const wchar_t* name, int expected)
{
    const Value* v = Find(values, name);
    if (expected < 0) {
        EXPECT_EQ(nullptr, v) << "not restored: " << Narrow(name);
        return;
    }
    ASSERT_NE(nullptr, v) << Narrow(name);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), v->type);
    EXPECT_EQ(static_cast<uint32_t>(expected), DwordOf(*v)) << Narrow(name);
}

void ExpectText(const std::vector<Value>& values, const wchar_t* name, DWORD type, const wchar_t* expected)
{
    const Value* v = Find(values, name);
    if (!expected) {
        EXPECT_EQ(nullptr, v) << "not restored: " << Narrow(name);
        return;
    }
    ASSERT_NE(nullptr, v) << Narrow(name);
    EXPECT_EQ(type, v->type) << Narrow(name);
    EXPECT_EQ(std::wstring(expected), TextOf(*v));
}

TEST_P(KnownGoodServiceConfig, KeyAndParametersHoldTheConfiguration)
{
    const ServiceConfig& c = GetParam();
    bool found = false;
    const std::vector<Value> key = ValuesOfKey(c.family, c.service, &found);
    ASSERT_TRUE(found);
    const std::vector<Value> parameters = ValuesOfKey(c.family, std::string(c.service) + "\\Parameters", &found);
    ASSERT_TRUE(found);
    ExpectDword(key, L"Type", c.type);
    ExpectDword(key, L"Start", c.start);
    ExpectDword(key, L"ErrorControl", c.errorControl);
    ExpectDword(key, L"DelayedAutoStart", c.delayedAutoStart);
    ExpectDword(key, L"ServiceSidType", c.serviceSidType);
    ExpectText(key, L"ObjectName", REG_SZ, c.objectName);
    ExpectText(key, L"ImagePath", REG_EXPAND_SZ, c.imagePath);
    ExpectText(key, L"DependOnService", REG_MULTI_SZ, c.dependOnService);
    ExpectText(key, L"Group", REG_SZ, c.group);
    ExpectText(parameters, L"ServiceDll", REG_EXPAND_SZ, c.serviceDll);
}

std::string CaseName(const ::testing::TestParamInfo<ServiceConfig>& info)
{
    return std::string(info.param.service) + "_family" + std::to_string(info.param.family);
}

INSTANTIATE_TEST_SUITE_P(Services, KnownGoodServiceConfig, ::testing::ValuesIn(kTable), CaseName);

// Every service key of every family is in the configuration table above.
TEST(KnownGoodServiceConfigCoverage, EveryRestoredServiceIsListed)
{
    const char* const services[] = {"BITS", "SharedAccess", "wscsvc", "wuauserv", "BFE", "MpsSvc", "iphlpsvc", "WinDefend"};
    for (uint32_t family = 0; family < 6; ++family) {
        for (const char* service : services) {
            bool found = false;
            ValuesOfKey(family, service, &found);
            bool listed = false;
            for (const ServiceConfig& c : kTable) listed = listed || (c.family == family && std::string(c.service) == service);
            EXPECT_EQ(listed, found) << service << " in family " << family;
        }
    }
}

}  // namespace
