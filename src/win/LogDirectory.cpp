#include "win/LogDirectory.h"

#include <windows.h>

#include "win/BoundedString.h"

namespace {

wchar_t givenDirectory[MAX_PATH] = L"";

bool IsGiven()
{
    return givenDirectory[0] != L'\0';
}

}  // namespace

bool UseLogDirectory(const wchar_t* fullPath)
{
    givenDirectory[0] = L'\0';
    return fullPath == nullptr || CopyBounded(givenDirectory, MAX_PATH, fullPath);
}

const wchar_t* GivenLogDirectory()
{
    return IsGiven() ? givenDirectory : nullptr;
}

const wchar_t* LogDirectoryPrefix()
{
    return IsGiven() ? L"" : L"RA Ravariv\\";
}

const char* LogDirectoryPrefixA()
{
    return IsGiven() ? "" : "RA Ravariv\\";
}
