#include "win/Wow64.h"

#include "win/ScopedHandle.h"
#include "win/SystemFunction.h"

namespace {

template <typename Function>
Function LookUpKernel32(const char* name)
{
    return LookUpSystemFunction<Function>(L"kernel32.dll", name);
}

const Wow64Redirection* redirectionOverride = nullptr;

}  // namespace

bool IsWow64()
{
    typedef BOOL(WINAPI * IsWow64ProcessFunction)(HANDLE, PBOOL);
    IsWow64ProcessFunction isWow64Process = LookUpKernel32<IsWow64ProcessFunction>("IsWow64Process");
    if (!isWow64Process)
        return false;
    ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId()));
    if (!process.IsValid())
        return false;
    BOOL wow64 = FALSE;
    return isWow64Process(process.Get(), &wow64) && wow64;
}

Wow64RedirectionApi LookUpWow64RedirectionApi()
{
    Wow64RedirectionApi api;
    api.disable = LookUpKernel32<decltype(api.disable)>("Wow64DisableWow64FsRedirection");
    api.revert = LookUpKernel32<decltype(api.revert)>("Wow64RevertWow64FsRedirection");
    return api;
}

void OverrideWow64Redirection(const Wow64Redirection* redirection)
{
    redirectionOverride = redirection;
}

FsRedirectionGuard::FsRedirectionGuard() : wow64_(false), savedValue_(nullptr), revert_(nullptr)
{
    if (redirectionOverride) {
        wow64_ = redirectionOverride->wow64;
        if (wow64_)
            Disable(redirectionOverride->api);
        return;
    }
    wow64_ = IsWow64();
    if (wow64_)
        Disable(LookUpWow64RedirectionApi());
}

FsRedirectionGuard::FsRedirectionGuard(bool wow64, const Wow64RedirectionApi& api)
    : wow64_(wow64), savedValue_(nullptr), revert_(nullptr)
{
    if (wow64_)
        Disable(api);
}

void FsRedirectionGuard::Disable(const Wow64RedirectionApi& api)
{
    revert_ = api.revert;
    if (api.disable && api.revert)
        api.disable(&savedValue_);
    else
        revert_ = nullptr;  // nothing was switched, so nothing is switched back
}

FsRedirectionGuard::~FsRedirectionGuard()
{
    if (wow64_ && revert_)
        revert_(savedValue_);
}
