#pragma once
// The process token as the tests read and change it: privileges, and the
// owners Windows lets this token assign without SeRestorePrivilege.
#include <windows.h>

// Enables or disables a privilege the process token holds.
bool SetTokenPrivilege(const wchar_t* name, bool enabled);
// Whether a privilege is enabled in the process token now.
bool TokenPrivilegeEnabled(const wchar_t* name);

// The token user, or a group of the token that carries SE_GROUP_OWNER.
bool TokenMayOwn(PSID owner);
