#pragma once
// Owns a service manager or service handle (CloseServiceHandle).
#include <windows.h>

#include "win/UniqueResource.h"

struct ServiceHandleTraits {
    static SC_HANDLE Invalid() { return nullptr; }
    static bool IsValid(SC_HANDLE h) { return h != nullptr; }
    static void Close(SC_HANDLE h) { CloseServiceHandle(h); }
};
using ScopedServiceHandle = UniqueResource<SC_HANDLE, ServiceHandleTraits>;
