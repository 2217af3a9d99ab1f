#pragma once
// File version numbers from version resources.
#include <windows.h>

// dwFileVersionMS in the high and dwFileVersionLS in the low 32 bits of the
// file's VS_FIXEDFILEINFO; 0 when the file has no readable version resource.
ULONGLONG GetFileVersionNumber(const char* path);
