#include "registry/RegistryRootNames.h"

#include <cstddef>

namespace {

struct RootNames {
    HKEY root;
    const char* pathPrefix;
    const wchar_t* shortName;
    const wchar_t* fullName;
};

const RootNames* FindRoot(HKEY root)
{
    static const RootNames kRoots[] = {
        {HKEY_CLASSES_ROOT, "HKCR\\", L"HKCR", L"HKEY_CLASSES_ROOT"},
        {HKEY_CURRENT_USER, "HKCU\\", L"HKCU", L"HKEY_CURRENT_USER"},
        {HKEY_LOCAL_MACHINE, "HKLM\\", L"HKLM", L"HKEY_LOCAL_MACHINE"},
    };
    for (const RootNames& names : kRoots) {
        if (names.root == root) return &names;
    }
    return nullptr;
}

}  // namespace

const char* RegistryRootPathPrefix(HKEY root)
{
    const RootNames* names = FindRoot(root);
    return names != nullptr ? names->pathPrefix : "";
}

const wchar_t* RegistryRootShortName(HKEY root)
{
    const RootNames* names = FindRoot(root);
    return names != nullptr ? names->shortName : L"hk";
}

const wchar_t* RegistryRootFullName(HKEY root)
{
    const RootNames* names = FindRoot(root);
    return names != nullptr ? names->fullName : L"";
}
