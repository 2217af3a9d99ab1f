#include "RegistryTestKeys.h"

#include <gtest/gtest.h>
#include <sddl.h>
#include <shlwapi.h>
#include <winternl.h>

std::wstring FreshScratchPath(HKEY root, const std::wstring& name)
{
    const std::wstring path = L"Software\\VornRegistryTest\\" + name;
    DeleteKeyTree(root, path);
    return path;
}

std::string Narrow(const std::wstring& ascii)
{
    return std::string(ascii.begin(), ascii.end());
}

bool KeyExists(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Deletes in the native view, the one the program writes: under WoW64 the
// shell's tree delete would empty Software\Wow6432Node instead.
void DeleteKeyTree(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return;
    std::vector<std::wstring> children;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(name, length);
    }
    RegCloseKey(key);
    for (const std::wstring& child : children) DeleteKeyTree(root, path + L"\\" + child);
    RegDeleteKeyExW(root, path.c_str(), KEY_WOW64_64KEY, 0);
}

void StoreValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const Bytes& bytes)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                             nullptr, &key, nullptr));
    using SetValueKey = LONG(NTAPI*)(HANDLE, PUNICODE_STRING, ULONG, ULONG, PVOID, ULONG);
    const auto setValueKey =
        reinterpret_cast<SetValueKey>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetValueKey")));
    ASSERT_NE(nullptr, setValueKey);
    UNICODE_STRING valueName;
    valueName.Buffer = const_cast<PWSTR>(name != nullptr ? name : L"");
    valueName.Length = static_cast<USHORT>(wcslen(valueName.Buffer) * sizeof(wchar_t));
    valueName.MaximumLength = valueName.Length;
    Bytes data = bytes;
    EXPECT_EQ(0, setValueKey(key, &valueName, 0, type, data.empty() ? nullptr : data.data(),
                             static_cast<ULONG>(data.size())));
    RegCloseKey(key);
}

StoredValue ReadStoredValue(HKEY root, const std::wstring& path, const wchar_t* name)
{
    StoredValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return value;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.bytes.resize(size);
        value.exists = RegQueryValueExW(key, name, nullptr, &value.type, value.bytes.data(), &size) == ERROR_SUCCESS;
        value.bytes.resize(size);
    }
    RegCloseKey(key);
    return value;
}

std::string KeySecurityString(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return "";
    BYTE descriptor[4096];
    DWORD size = sizeof(descriptor);
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    const LONG result = RegGetKeySecurity(key, parts, descriptor, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return "";
    char* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, parts, &text, nullptr))
        return "";
    std::string sddl(text);
    LocalFree(text);
    return sddl;
}

void SetKeySecurityString(HKEY root, const std::wstring& path, const char* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    HKEY key = nullptr;
    LONG opened = RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL | WRITE_DAC | WRITE_OWNER | KEY_WOW64_64KEY, &key);
    if (opened == ERROR_ACCESS_DENIED) {
        parts = DACL_SECURITY_INFORMATION;
        opened = RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL | WRITE_DAC | KEY_WOW64_64KEY, &key);
    }
    EXPECT_EQ(ERROR_SUCCESS, opened);
    if (opened == ERROR_SUCCESS) {
        EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, parts, descriptor));
        RegCloseKey(key);
    }
    LocalFree(descriptor);
}

Bytes Utf16(const std::wstring& text, bool withNul)
{
    Bytes bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xff));
        bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xff));
    }
    if (withNul) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

Bytes DwordBytes(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}
