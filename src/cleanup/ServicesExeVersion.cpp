#include "cleanup/ServicesExeVersion.h"

#include <memory>
#include <new>

ULONGLONG GetFileVersionNumber(const char* path)
{
    const DWORD size = GetFileVersionInfoSizeA(path, nullptr);
    if (size == 0)
        return 0;
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[size]);
    if (!block || !GetFileVersionInfoA(path, 0, size, block.get()))
        return 0;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.get(), "\\", &value, &length) || value == nullptr)
        return 0;
    // The resource comes from a file that may be planted: a root block too
    // short for the fixed record, or one outside the data, is no version.
    const unsigned char* begin = block.get();
    const unsigned char* fixed = static_cast<const unsigned char*>(value);
    if (length < sizeof(VS_FIXEDFILEINFO) || fixed < begin ||
        static_cast<size_t>(fixed - begin) > size - sizeof(VS_FIXEDFILEINFO))
        return 0;
    const VS_FIXEDFILEINFO* info = static_cast<const VS_FIXEDFILEINFO*>(value);
    return (static_cast<ULONGLONG>(info->dwFileVersionMS) << 32) | info->dwFileVersionLS;
}
