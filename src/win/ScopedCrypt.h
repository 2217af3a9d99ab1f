#pragma once
// Owners of CryptoAPI handles: a provider context (CryptReleaseContext) and a
// hash object (CryptDestroyHash). Declare the hash after its provider so that
// it is destroyed first.
#include <windows.h>
#include <wincrypt.h>

#include "win/UniqueResource.h"

struct CryptProviderTraits {
    static HCRYPTPROV Invalid() { return 0; }
    static bool IsValid(HCRYPTPROV provider) { return provider != 0; }
    static void Close(HCRYPTPROV provider) { CryptReleaseContext(provider, 0); }
};
using ScopedCryptProvider = UniqueResource<HCRYPTPROV, CryptProviderTraits>;

struct CryptHashTraits {
    static HCRYPTHASH Invalid() { return 0; }
    static bool IsValid(HCRYPTHASH hash) { return hash != 0; }
    static void Close(HCRYPTHASH hash) { CryptDestroyHash(hash); }
};
using ScopedCryptHash = UniqueResource<HCRYPTHASH, CryptHashTraits>;
