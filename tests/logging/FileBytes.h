#pragma once
#include <cstdio>
#include <string>

// Every byte of the file; false when it cannot be opened.
inline bool ReadFileBytes(const std::string& path, std::string* bytes)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    bytes->clear();
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->append(chunk, got);
    fclose(f);
    return true;
}
