#include "win/RunFiles.h"

#include "win/BoundedString.h"

namespace {

bool inCurrentDirectory = false;

}  // namespace

const wchar_t* RunFilesPrefix()
{
    return inCurrentDirectory ? L"" : L"RA Ravariv\\";
}

const char* RunFilesPrefixA()
{
    return inCurrentDirectory ? "" : "RA Ravariv\\";
}

void PlaceRunFilesInCurrentDirectory()
{
    inCurrentDirectory = true;
}

bool RunFilePath(const wchar_t* name, wchar_t* path, size_t capacity)
{
    return CopyBounded(path, capacity, RunFilesPrefix()) && AppendBounded(path, capacity, name);
}

bool RunFilePath(const char* name, char* path, size_t capacity)
{
    return CopyBounded(path, capacity, RunFilesPrefixA()) && AppendBounded(path, capacity, name);
}
