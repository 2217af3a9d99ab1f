#pragma once
#include <cstddef>

// Where the run's files (its log, its registry backup, the services.exe
// backup) lie, relative to the current directory: in "RA Ravariv" below it,
// or in the current directory itself when the run was given its own log
// directory (the entry then makes that the current directory).

// "RA Ravariv\" or an empty text; the narrow form for the narrow file calls.
const wchar_t* RunFilesPrefix();
const char* RunFilesPrefixA();

// From now on the run's files lie in the current directory itself.
void PlaceRunFilesInCurrentDirectory();

// prefix + name into path (capacity characters with the NUL); false when it
// does not fit.
bool RunFilePath(const wchar_t* name, wchar_t* path, size_t capacity);
bool RunFilePath(const char* name, char* path, size_t capacity);
