#include "cleanup/UserSid.h"

#include <windows.h>
#include <sddl.h>

#include "cleanup/WidePath.h"
#include "win/ScopedHandle.h"
#include "win/ScopedLocalMemory.h"

bool GetUserSidString(wchar_t* sid)
{
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
        return false;
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    if (size == 0)
        return false;
    ScopedLocalMemory user;
    *user.Receive<HLOCAL>() = LocalAlloc(LPTR, size);
    if (user.Get() == nullptr || !GetTokenInformation(token.Get(), TokenUser, user.Get(), size, &size))
        return false;
    ScopedLocalMemory text;
    if (!ConvertSidToStringSidW(static_cast<TOKEN_USER*>(user.Get())->User.Sid, text.Receive<LPWSTR>()))
        return false;
    return CopyBounded(sid, kSidStringCapacity, static_cast<const wchar_t*>(text.Get()));
}
