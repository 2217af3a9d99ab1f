#include "registry/RegistryRootNames.h"

#include <cstddef>

namespace {

struct RootNames {
    HKEY root;
    const char* pathPrefix;
    const wchar_t* shortName;
};

const RootNames* FindRoot(HKEY root)
{
    static const RootNames kRoots[] = {
        {HKEY_CLASSES_ROOT, "HKCR\\", L"HKCR"},
        {HKEY_CURRENT_USER, "HKCU\\", L"HKCU"},
        {HKEY_LOCAL_MACHINE, "HKLM\\", L"HKLM"},
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
