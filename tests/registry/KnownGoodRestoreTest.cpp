// The restoration pass over the built-in table for one family (chosen when the
// test is built) in a throw-away prefix: under the model of Windows' owner
// rule every record's security is set (and without SeRestorePrivilege the
// owners of other accounts are refused while the values are still restored);
// with the system's calls it opens exactly that family's keys, every step
// succeeds, and a second pass finds every value equal.
#include "registry/ServicesRestore.h"

#include "KeySecurityModel.h"
#include "RegistryTestKeys.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#ifndef KNOWN_GOOD_FAMILY
#error "KNOWN_GOOD_FAMILY names the family under test"
#endif

namespace {

using Lines = std::vector<std::wstring>;

uint32_t VersionCodeOf(uint32_t family)
{
    const uint32_t codes[] = {0x51u, 0x60u, 0x61u, 0x80000052u, 0x80000061u, 0x80000060u};
    return codes[family];
}

std::vector<const KnownGoodRecord*> FamilyRecords()
{
    const KnownGoodTable table = BuiltInKnownGoodTable();
    std::vector<const KnownGoodRecord*> out;
    for (size_t i = 0; i < table.count; ++i) {
        if (table.records[i].osFamily == KNOWN_GOOD_FAMILY) out.push_back(&table.records[i]);
    }
    return out;
}

std::wstring Wide(const char* s)
{
    return std::wstring(s, s + strlen(s));
}

Lines KeysOpened(const Lines& lines)
{
    Lines keys;
    const std::wstring creating = L"info: Creating HKLM\\";
    for (const std::wstring& line : lines) {
        if (line.compare(0, creating.size(), creating) != 0) continue;
        keys.push_back(line.substr(creating.size(), line.rfind(L" - ") - creating.size()));
    }
    return keys;
}

bool IsFailure(const std::wstring& line)
{
    return line.find(L"failed") != std::wstring::npos || line.find(L"Failed") != std::wstring::npos;
}

// The records whose owner this token may not take without SeRestorePrivilege
// (SYSTEM, TrustedInstaller, ...).
size_t RecordsWithForeignOwners(const std::vector<const KnownGoodRecord*>& records)
{
    size_t count = 0;
    for (const KnownGoodRecord* r : records) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(r->sddl, SDDL_REVISION_1, &descriptor, nullptr));
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        if (descriptor != nullptr && GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner != nullptr &&
            !TokenMayOwn(owner))
            ++count;
        LocalFree(descriptor);
    }
    return count;
}

size_t Count(const Lines& lines, const std::wstring& line)
{
    size_t count = 0;
    for (const std::wstring& l : lines) count += l == line ? 1 : 0;
    return count;
}

// Runs first, on the prefix's own keys: the security step fails for exactly
// the records with another account's owner, and every value is still written.
TEST(KnownGoodRestore, WithoutTheRestorePrivilegeForeignOwnersAreRefusedAndValuesStillRestored)
{
    const std::vector<const KnownGoodRecord*> records = FamilyRecords();
    // Most records from Vista on are owned by SYSTEM; Server 2003's are not.
    const size_t foreign = RecordsWithForeignOwners(records);
    ResetKeySecurityModel();
    ModelRestorePrivilegeHeld(false);
    LogCapture capture;
    RestoreServicesFromTable(VersionCodeOf(KNOWN_GOOD_FAMILY), BuiltInKnownGoodTable(), EnableRestorePrivileges,
                             ModelledKeySecurityCalls());
    const Lines lines = capture.Lines();
    ResetKeySecurityModel();
    EXPECT_EQ(foreign, Count(lines, L"info: Failed to set security information"));
    EXPECT_EQ(records.size() - foreign, Count(lines, L"info: Successfully set security information"));
    EXPECT_EQ(0u, Count(lines, L"info: ... failed"));
    for (const std::wstring& line : lines)
        EXPECT_EQ(std::wstring::npos, line.find(L" - failed")) << std::string(line.begin(), line.end());
}

TEST(KnownGoodRestore, UnderTheOwnerRuleEveryRecordsSecurityIsSet)
{
    ResetKeySecurityModel();
    ASSERT_TRUE(SetTokenPrivilege(L"SeRestorePrivilege", false));
    LogCapture capture;
    RestoreServicesFromTable(VersionCodeOf(KNOWN_GOOD_FAMILY), BuiltInKnownGoodTable(), EnableRestorePrivileges,
                             ModelledKeySecurityCalls());
    const Lines lines = capture.Lines();
    EXPECT_EQ(std::vector<std::string>(), ModelRefusedOwners());
    EXPECT_EQ(FamilyRecords().size(), Count(lines, L"info: Successfully set security information"));
    for (const std::wstring& line : lines) EXPECT_FALSE(IsFailure(line)) << std::string(line.begin(), line.end());
    EXPECT_FALSE(TokenPrivilegeEnabled(L"SeRestorePrivilege")) << "enabled for each security step only";
    ResetKeySecurityModel();
}

TEST(KnownGoodRestore, FamilyRecordsRestoreAndASecondPassFindsEveryValueEqual)
{
    const std::vector<const KnownGoodRecord*> records = FamilyRecords();
    ASSERT_FALSE(records.empty());
    Lines expectedKeys;
    for (const KnownGoodRecord* r : records) expectedKeys.push_back(Wide(r->keyPath));

    {
        LogCapture capture;
        RestoreServices(VersionCodeOf(KNOWN_GOOD_FAMILY));
        const Lines lines = capture.Lines();
        EXPECT_EQ(expectedKeys, KeysOpened(lines)) << "exactly the family's records, in table order";
        for (const std::wstring& line : lines) {
            EXPECT_FALSE(IsFailure(line)) << std::string(line.begin(), line.end());
        }
    }
    LogCapture capture;
    RestoreServices(VersionCodeOf(KNOWN_GOOD_FAMILY));
    const Lines lines = capture.Lines();
    EXPECT_EQ(expectedKeys, KeysOpened(lines));
    // BITS\Parameters from Vista on refuses the record's open once it carries
    // the table's security; the second pass reaches it all the same.
    size_t matches = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::wstring& line = lines[i];
        const bool allowed = line.find(L" - opened existing") != std::wstring::npos ||
                             line == L"info: Successfully set security information" ||
                             line.find(L"\" matches known good one, skipping update") != std::wstring::npos;
        EXPECT_TRUE(allowed) << std::string(line.begin(), line.end());
        if (line.find(L"matches known good one") != std::wstring::npos) ++matches;
    }
    size_t values = 0;
    for (const KnownGoodRecord* r : records) {
        for (const wchar_t* p = r->valueLines; *p != L'\0'; p += wcslen(p) + 1) ++values;
    }
    EXPECT_EQ(values, matches);
}

}  // namespace
