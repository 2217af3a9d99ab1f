#include "win/LogDirectory.h"

namespace {

bool currentDirectoryIsLogDirectory = false;

}  // namespace

void UseCurrentDirectoryForLogs(bool use)
{
    currentDirectoryIsLogDirectory = use;
}

const wchar_t* LogDirectoryPrefix()
{
    return currentDirectoryIsLogDirectory ? L"" : L"RA Ravariv\\";
}

const char* LogDirectoryPrefixA()
{
    return currentDirectoryIsLogDirectory ? "" : "RA Ravariv\\";
}
