// Who may change the restoration service's copy. Wine keeps no security
// descriptor of its own on these files (it makes one up from the Unix mode),
// so the judgement is tested on descriptors as Windows stores them.
#include "win/ProtectedDirectory.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <string>

#include "win/ScopedLocalMemory.h"

namespace {

// The run's own token user in these cases: an administrator's account.
const char kRunUser[] = "S-1-5-21-1-2-3-1001";

bool Judge(const char* sddl)
{
    ScopedLocalMemory descriptor;
    ScopedLocalMemory user;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                             descriptor.Receive<PSECURITY_DESCRIPTOR>(), nullptr) ||
        !ConvertStringSidToSidA(kRunUser, user.Receive<PSID>())) {
        ADD_FAILURE() << "unparsable " << sddl;
        return false;
    }
    return GrantsChangeOnlyToAdministrators(descriptor.Get(), user.Get());
}

TEST(ProtectedDirectory, OnlyAdministratorsLocalSystemAndTheRunMayChangeIt)
{
    const struct {
        const char* sddl;
        bool accepted;
    } cases[] = {
        {"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true},  // what the run writes
        {"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true},
        {"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;S-1-5-21-1-2-3-1001)(A;;FA;;;SY)", true},  // the run's own account
        {"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)", true},          // others may read and run it
        {"O:BAD:P(A;OICI;FA;;;BA)(D;;FA;;;WD)", true},                                // a denial takes nothing away
        {"O:BUD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false},      // an owner rewrites the DACL
        {"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;FA;;;WD)", false},
        {"O:BAD:P(A;OICI;FA;;;BA)(A;;0x2;;;BU)", false},         // FILE_WRITE_DATA / FILE_ADD_FILE
        {"O:BAD:P(A;OICI;FA;;;BA)(A;;0x4;;;AU)", false},         // FILE_APPEND_DATA / FILE_ADD_SUBDIRECTORY
        {"O:BAD:P(A;OICI;FA;;;BA)(A;;0x40000;;;BU)", false},     // WRITE_DAC
        {"O:BAD:P(A;OICI;FA;;;BA)(A;;0x10000;;;BU)", false},     // DELETE: replaced under its name
        {"O:BAD:P(A;OICI;FA;;;BA)(A;;0x40;;;BU)", false},        // FILE_DELETE_CHILD
        {"O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)", false},    // creator owner: whoever creates a file in it
        {"O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;GW;;;BU)", false},    // generic write passed to what is created
        {"O:BA", false},                                         // no DACL at all
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.accepted, Judge(c.sddl)) << c.sddl;
}

// A null DACL lets everyone in. Built by hand: Wine reads the SDDL form
// "NO_ACCESS_CONTROL" as an empty DACL, which lets no one in.
TEST(ProtectedDirectory, ANullDaclIsRefused)
{
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
    ScopedLocalMemory administrators;
    ASSERT_TRUE(ConvertStringSidToSidA("BA", administrators.Receive<PSID>()));
    ASSERT_TRUE(SetSecurityDescriptorOwner(&descriptor, administrators.Get(), FALSE));
    EXPECT_FALSE(GrantsChangeOnlyToAdministrators(&descriptor, nullptr));
}

// A directory that existed before the run may have been made by anyone, with
// anything inside: the run never takes it over.
TEST(ProtectedDirectory, AnExistingDirectoryIsRefused)
{
    wchar_t temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
    const std::wstring path = std::wstring(temp) + L"vorn-protected-test";
    RemoveDirectoryW(path.c_str());
    {
        ScopedHandle made = CreateProtectedDirectory(path.c_str());
        EXPECT_TRUE(made.IsValid());
    }
    ScopedHandle again = CreateProtectedDirectory(path.c_str());
    EXPECT_FALSE(again.IsValid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    RemoveDirectoryW(path.c_str());
}

}  // namespace
