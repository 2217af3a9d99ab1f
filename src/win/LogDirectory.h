#pragma once
// Where a run's log, registry backup and services.exe backup go, as a prefix
// of names relative to the current directory: "RA Ravariv\" on the desktop
// (the current directory of a run without "-log"), or nothing when the
// current directory is the directory given with "-log".

// The full path of the "-log" directory, made the current directory by the
// entry; null for the desktop's "RA Ravariv". A path that does not fit
// MAX_PATH is refused (false) and the default stays.
bool UseLogDirectory(const wchar_t* fullPath);

// The "-log" directory's full path, or null.
const wchar_t* GivenLogDirectory();

const wchar_t* LogDirectoryPrefix();   // L"RA Ravariv\\" or L""
const char* LogDirectoryPrefixA();     // the same, narrow
