#include "registry/RegistryKeyName.h"

#include "registry/RegistryRootNames.h"
#include "win/BoundedString.h"
#include "win/SystemFunction.h"

#include <cwchar>
#include <initializer_list>

namespace {

// KEY_INFORMATION_CLASS KeyNameInformation of ntdll's NtQueryKey.
const int kKeyNameInformation = 3;
typedef LONG(NTAPI* NtQueryKeyFunction)(HANDLE key, int informationClass, void* information, ULONG length,
                                        ULONG* resultLength);

// The registry's own names of the hives' roots and the script roots they are.
struct KernelRoot {
    const wchar_t* kernelPrefix;  // with the backslash that follows it
    const wchar_t* scriptRoot;
};
const KernelRoot kKernelRoots[] = {
    {L"\\REGISTRY\\MACHINE\\", L"HKEY_LOCAL_MACHINE\\"},
    {L"\\REGISTRY\\USER\\", L"HKEY_USERS\\"},
};

// The roots of script names: the log's three and the users' hives, which the
// registry's own names of user keys lead to.
const wchar_t* ScriptRootName(HKEY root)
{
    return root == HKEY_USERS ? L"HKEY_USERS" : RegistryRootFullName(root);
}

bool KernelName(HKEY key, wchar_t* name, size_t capacity)
{
    static const NtQueryKeyFunction query = LookUpSystemFunction<NtQueryKeyFunction>(L"ntdll.dll", "NtQueryKey");
    if (query == nullptr)
        return false;
    // ULONG NameLength, then the name without a NUL.
    union {
        ULONG length;
        wchar_t text[2048];
    } information;
    ULONG used = 0;
    if (query(key, kKeyNameInformation, &information, sizeof(information), &used) != 0)
        return false;
    const size_t units = information.length / sizeof(wchar_t);
    const wchar_t* text = information.text + sizeof(ULONG) / sizeof(wchar_t);
    if (information.length > sizeof(information) - sizeof(ULONG))
        return false;
    for (const KernelRoot& root : kKernelRoots) {
        const size_t prefix = TextLength(root.kernelPrefix);
        if (units <= prefix || _wcsnicmp(text, root.kernelPrefix, prefix) != 0)
            continue;
        const size_t rootLength = TextLength(root.scriptRoot);
        if (rootLength + units - prefix >= capacity)
            return false;
        wmemcpy(name, root.scriptRoot, rootLength);
        wmemcpy(name + rootLength, text + prefix, units - prefix);
        name[rootLength + units - prefix] = L'\0';
        return true;
    }
    return false;
}

bool UserClassesHold(const wchar_t* subKey)
{
    wchar_t path[1024];
    if (!CopyBounded(path, 1024, L"Software\\Classes\\") || !AppendBounded(path, 1024, subKey))
        return false;
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result != ERROR_FILE_NOT_FOUND;
}

// Root and subKey as they read, HKEY_CLASSES_ROOT taken as the classes key
// that writes through it reach.
bool NameByPath(HKEY root, const wchar_t* subKey, wchar_t* name, size_t capacity)
{
    if (root == HKEY_CLASSES_ROOT) {
        const bool user = UserClassesHold(subKey);
        return CopyBounded(name, capacity, user ? L"HKEY_CURRENT_USER\\Software\\Classes\\"
                                                : L"HKEY_LOCAL_MACHINE\\Software\\Classes\\") &&
               AppendBounded(name, capacity, subKey);
    }
    const wchar_t* rootName = ScriptRootName(root);
    return rootName[0] != L'\0' && CopyBounded(name, capacity, rootName) && AppendBounded(name, capacity, L"\\") &&
           AppendBounded(name, capacity, subKey);
}

}  // namespace

bool RegistryKeyScriptNameOf(HKEY root, const wchar_t* subKey, wchar_t* name, size_t capacity)
{
    // The registry's name of the key or of its nearest parent that exists,
    // then the missing rest: the same name for the key however it is reached.
    wchar_t path[1024];
    if (!CopyBounded(path, 1024, subKey))
        return false;
    for (;;) {
        HKEY key = nullptr;
        const LONG result = RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key);
        if (result == ERROR_SUCCESS) {
            const bool named = KernelName(key, name, capacity);
            RegCloseKey(key);
            const size_t known = TextLength(path);
            if (named && (subKey[known] == L'\0' || AppendBounded(name, capacity, subKey + known)))
                return true;
            break;
        }
        wchar_t* slash = wcsrchr(path, L'\\');
        if (result != ERROR_FILE_NOT_FOUND || slash == nullptr)
            break;
        *slash = L'\0';
    }
    return NameByPath(root, subKey, name, capacity);
}

bool RegistryKeyScriptName(HKEY key, HKEY root, const wchar_t* subKey, wchar_t* name, size_t capacity)
{
    return (key != nullptr && KernelName(key, name, capacity)) || RegistryKeyScriptNameOf(root, subKey, name, capacity);
}

bool SplitRegistryKeyScriptName(const wchar_t* name, HKEY* root, const wchar_t** subKey)
{
    for (HKEY candidate : {HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT}) {
        const wchar_t* rootName = ScriptRootName(candidate);
        const size_t length = TextLength(rootName);
        if (_wcsnicmp(name, rootName, length) == 0 && name[length] == L'\\' && name[length + 1] != L'\0') {
            *root = candidate;
            *subKey = name + length + 1;
            return true;
        }
    }
    return false;
}
