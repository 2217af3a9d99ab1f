#include "cleanup/UserSid.h"

#include <windows.h>
#include <sddl.h>

#include "cleanup/WidePath.h"
#include "win/ScopedLocalMemory.h"
#include "win/TokenUser.h"

bool GetUserSidString(wchar_t* sid)
{
    ScopedLocalMemory user;
    if (!QueryTokenUser(&user))
        return false;
    ScopedLocalMemory text;
    if (!ConvertSidToStringSidW(TokenUserSid(user), text.Receive<LPWSTR>()))
        return false;
    return CopyBounded(sid, kSidStringCapacity, static_cast<const wchar_t*>(text.Get()));
}
