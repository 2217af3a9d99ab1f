#include "support/ReadOnlyRegistryKey.h"

ReadOnlyRegistryKey::ReadOnlyRegistryKey(HKEY root, const wchar_t* path)
{
    if (RegCreateKeyExW(root, path, 0, nullptr, 0, READ_CONTROL | WRITE_DAC | KEY_WOW64_64KEY, nullptr,
                        key_.Receive(), nullptr) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    RegGetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    saved_.resize(size);
    if (size == 0 ||
        RegGetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, saved_.data(), &size) != ERROR_SUCCESS)
        return;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof administrators;
    alignas(DWORD) BYTE aclBuffer[256];
    ACL* acl = reinterpret_cast<ACL*>(aclBuffer);
    SECURITY_DESCRIPTOR descriptor;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize) ||
        !InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ | WRITE_DAC, administrators) ||
        !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE))
        return;
    restricted_ = RegSetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
}

ReadOnlyRegistryKey::~ReadOnlyRegistryKey()
{
    if (restricted_)
        RegSetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, saved_.data());
}
