#pragma once
// Owns a SID built by AllocateAndInitializeSid (FreeSid).
#include <windows.h>

#include "win/UniqueResource.h"

struct AllocatedSidTraits {
    static PSID Invalid() { return nullptr; }
    static bool IsValid(PSID sid) { return sid != nullptr; }
    static void Close(PSID sid) { FreeSid(sid); }
};
using ScopedSid = UniqueResource<PSID, AllocatedSidTraits>;
