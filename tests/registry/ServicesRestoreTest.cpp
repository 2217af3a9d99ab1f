// The services pass over small tables of scratch keys: the family choice,
// the family line first, the privilege step, and only the chosen records.
#include "registry/ServicesRestore.h"

#include "RegistryTestKeys.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::wstring>;

TEST(ChooseServicesFamily, ComparesTheWhole32BitCode)
{
    const struct {
        uint32_t versionCode;
        uint32_t family;
        const wchar_t* name;
    } cases[] = {
        {0x00000051u, 0, L"XP"},
        {0x00000052u, 0, L"XP"},  // XP Professional x64 is a 5.2 workstation
        {0x80000051u, 0, L"XP"},
        {0x00000060u, 1, L"Vista"},
        {0x00000061u, 2, L"7"},
        {0x80000052u, 3, L"Server 2003"},
        {0x80000061u, 4, L"Server 2008 R2"},
        {0x80000060u, 5, L"Server 2008"},
        {0x00000062u, 0, L"XP"},
        {0x40000061u, 0, L"XP"},
        {0xffffffffu, 0, L"XP"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.versionCode);
        const ServicesFamily family = ChooseServicesFamily(c.versionCode);
        EXPECT_EQ(c.family, family.code);
        EXPECT_EQ(std::wstring(L"Processing Windows ") + c.name + L" services restoration", family.logLine);
    }
}

const char kSddl[] = "O:BAG:SYD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)";

// One key per family below a fresh scratch key; family 4 has a split key
// (two records, same path, disjoint lines) and a key without values.
class SmallTable {
public:
    SmallTable()
    {
        root_ = Narrow(FreshScratchPath(HKEY_LOCAL_MACHINE, L"Services"));
        for (uint32_t family = 0; family <= 5; ++family) paths_.push_back(root_ + "\\F" + std::to_string(family));
        paths_.push_back(root_ + "\\F4\\Empty");
        records_ = {
            {0, 0, HKEY_LOCAL_MACHINE, paths_[0].c_str(), kSddl, L"\"Start\"=dword:00000000\0"},
            {1, 0, HKEY_LOCAL_MACHINE, paths_[1].c_str(), kSddl, L"\"Start\"=dword:00000001\0"},
            {2, 0, HKEY_LOCAL_MACHINE, paths_[2].c_str(), kSddl, L"\"Start\"=dword:00000002\0"},
            {3, 0, HKEY_LOCAL_MACHINE, paths_[3].c_str(), kSddl, L"\"Start\"=dword:00000003\0"},
            {4, 0, HKEY_LOCAL_MACHINE, paths_[4].c_str(), kSddl, L"\"Start\"=dword:00000004\0"},
            {4, 0, HKEY_LOCAL_MACHINE, paths_[4].c_str(), kSddl, L"\"Type\"=dword:00000020\0"},
            {5, 0, HKEY_LOCAL_MACHINE, paths_[5].c_str(), kSddl, L"\"Start\"=dword:00000005\0"},
            {4, 0, HKEY_LOCAL_MACHINE, paths_[6].c_str(), kSddl, L""},
        };
    }
    KnownGoodTable Table() const { return {records_.data(), records_.size()}; }
    std::wstring Path(size_t i) const { return std::wstring(paths_[i].begin(), paths_[i].end()); }

private:
    std::string root_;
    std::vector<std::string> paths_;
    std::vector<KnownGoodRecord> records_;
};

bool PrivilegesGranted()
{
    return true;
}

bool PrivilegesRefused()
{
    return false;
}

Lines FamilyFourRecordLines(const SmallTable& table)
{
    return {
        L"info: Creating HKLM\\" + table.Path(4) + L" - created new",
        L"info: Successfully set security information",
        L"info: Writing value \"Start\", current doesn't exist",
        L"info: ... success",
        L"info: Creating HKLM\\" + table.Path(4) + L" - opened existing",
        L"info: Successfully set security information",
        L"info: Writing value \"Type\", current doesn't exist",
        L"info: ... success",
        L"info: Creating HKLM\\" + table.Path(6) + L" - created new",
        L"info: Successfully set security information",
    };
}

TEST(RestoreServicesFromTable, RestoresOnlyTheChosenFamilysRecordsWhateverThePrivilegeStep)
{
    const struct {
        const char* name;
        // The stand-in steps leave the token as it is: the records need
        // SeSecurityPrivilege to reopen a key, so it is enabled beforehand.
        bool securityPrivilegeBefore;
        PrivilegeStep enablePrivileges;  // null: the pass's own step
        const wchar_t* privilegeLine;    // null: none
    } cases[] = {
        {"granted", true, PrivilegesGranted, nullptr},
        {"refused: goes on", true, PrivilegesRefused, L"info: Failed to acquire needed privileges."},
        // Without SeSecurityPrivilege the split key's second record could not
        // open the key the first one created.
        {"its own step lets existing keys open", false, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(SetTokenPrivilege(L"SeSecurityPrivilege", c.securityPrivilegeBefore));
        const SmallTable table;
        LogCapture capture;
        if (c.enablePrivileges != nullptr)
            RestoreServicesFromTable(0x80000061u, table.Table(), c.enablePrivileges);
        else
            RestoreServicesFromTable(0x80000061u, table.Table());

        Lines expected = {L"info: Processing Windows Server 2008 R2 services restoration"};
        if (c.privilegeLine != nullptr) expected.push_back(c.privilegeLine);
        for (const std::wstring& line : FamilyFourRecordLines(table)) expected.push_back(line);
        EXPECT_EQ(expected, capture.Lines());
        for (size_t family = 0; family <= 5; ++family)
            EXPECT_EQ(family == 4, KeyExists(HKEY_LOCAL_MACHINE, table.Path(family))) << "family " << family;
        EXPECT_EQ(DwordBytes(4), ReadStoredValue(HKEY_LOCAL_MACHINE, table.Path(4), L"Start").bytes);
        EXPECT_EQ(DwordBytes(0x20), ReadStoredValue(HKEY_LOCAL_MACHINE, table.Path(4), L"Type").bytes);
    }
}

TEST(EnableRestorePrivileges, EnablesBothPrivilegesInTheProcessToken)
{
    ASSERT_TRUE(SetTokenPrivilege(L"SeSecurityPrivilege", false));
    ASSERT_TRUE(SetTokenPrivilege(L"SeTakeOwnershipPrivilege", false));
    ASSERT_TRUE(EnableRestorePrivileges());
    EXPECT_TRUE(TokenPrivilegeEnabled(L"SeSecurityPrivilege"));
    EXPECT_TRUE(TokenPrivilegeEnabled(L"SeTakeOwnershipPrivilege"));
}

}  // namespace
