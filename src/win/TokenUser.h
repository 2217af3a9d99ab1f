#pragma once
// The user of this process's token.
#include <windows.h>

#include "win/ScopedHandle.h"
#include "win/ScopedLocalMemory.h"

// Fills `user` with the token's TOKEN_USER (its SID inside); false when the
// token cannot be read.
inline bool QueryTokenUser(ScopedLocalMemory* user)
{
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
        return false;
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    if (size == 0)
        return false;
    *user->Receive<HLOCAL>() = LocalAlloc(LPTR, size);
    return user->Get() != nullptr && GetTokenInformation(token.Get(), TokenUser, user->Get(), size, &size);
}

inline PSID TokenUserSid(const ScopedLocalMemory& user)
{
    return user.Get() != nullptr ? static_cast<TOKEN_USER*>(user.Get())->User.Sid : nullptr;
}
