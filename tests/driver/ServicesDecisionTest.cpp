#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "driver/Scan.h"
#include "support/LogCapture.h"
#include "win/MachineChange.h"

namespace {

const wchar_t kBits[] = L"System\\CurrentControlSet\\Services\\BITS";

// The service key's values (name, type, size) and number of subkeys: what
// the restoration would change first.
std::wstring Snapshot()
{
    std::wstring text;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBits, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return L"(no key)";
    DWORD subKeys = 0;
    DWORD values = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    text += std::to_wstring(subKeys) + L" keys, " + std::to_wstring(values) + L" values;";
    for (DWORD i = 0; i < values; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        BYTE data[4096];
        DWORD size = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) == ERROR_SUCCESS)
            text += std::wstring(name) + L"=" + std::to_wstring(type) + L":" + std::to_wstring(size) + L";";
    }
    RegCloseKey(key);
    return text;
}

// A fresh Windows 7 prefix has Wine's own service configuration, not the
// known-good one: the restoration would change it, and asking changes nothing.
TEST(ServicesDecision, TheRestorationWouldChangeWineServicesAndAskingChangesNothing)
{
    LogCapture log;
    const std::wstring before = Snapshot();
    EXPECT_TRUE(ServicesDifferFromKnownGood(0x61));
    EXPECT_FALSE(IsScanMode());
    EXPECT_EQ(before, Snapshot());
    bool withheld = false;
    for (const std::wstring& line : log.Lines())
        withheld = withheld || line.compare(0, 12, L"info: Would ") == 0;
    EXPECT_TRUE(withheld);
}

}  // namespace
