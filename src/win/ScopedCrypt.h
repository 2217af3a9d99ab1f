#pragma once
// Owners of CryptoAPI handles: a provider context (CryptReleaseContext) and a
// hash object (CryptDestroyHash). Declare the hash after its provider so that
// it is destroyed first.
#include <windows.h>
#include <wincrypt.h>

class ScopedCryptProvider {
public:
    ScopedCryptProvider() : provider_(0) {}
    ~ScopedCryptProvider() { Release(); }
    ScopedCryptProvider(const ScopedCryptProvider&) = delete;
    ScopedCryptProvider& operator=(const ScopedCryptProvider&) = delete;

    HCRYPTPROV Get() const { return provider_; }
    HCRYPTPROV* Receive()
    {
        Release();
        return &provider_;
    }
    void Release()
    {
        if (provider_ != 0)
            CryptReleaseContext(provider_, 0);
        provider_ = 0;
    }

private:
    HCRYPTPROV provider_;
};

class ScopedCryptHash {
public:
    ScopedCryptHash() : hash_(0) {}
    ~ScopedCryptHash() { Destroy(); }
    ScopedCryptHash(const ScopedCryptHash&) = delete;
    ScopedCryptHash& operator=(const ScopedCryptHash&) = delete;

    HCRYPTHASH Get() const { return hash_; }
    HCRYPTHASH* Receive()
    {
        Destroy();
        return &hash_;
    }
    void Destroy()
    {
        if (hash_ != 0)
            CryptDestroyHash(hash_);
        hash_ = 0;
    }

private:
    HCRYPTHASH hash_;
};
