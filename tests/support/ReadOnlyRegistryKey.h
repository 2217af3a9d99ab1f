#pragma once
// Limits a key to reading (and changing its DACL) for the administrators for
// as long as the owner lives, as for a process without the rights to write
// it; the key's DACL is put back afterwards.
#include <windows.h>

#include <vector>

#include "win/ScopedRegKey.h"

class ReadOnlyRegistryKey {
public:
    ReadOnlyRegistryKey(HKEY root, const wchar_t* path);
    ~ReadOnlyRegistryKey();
    ReadOnlyRegistryKey(const ReadOnlyRegistryKey&) = delete;
    ReadOnlyRegistryKey& operator=(const ReadOnlyRegistryKey&) = delete;

    bool Restricted() const { return restricted_; }

private:
    ScopedRegKey key_;
    std::vector<BYTE> saved_;
    bool restricted_ = false;
};
