#pragma once
// Where a run's log, registry backup and services.exe backup go, as a prefix
// of names relative to the current directory: "RA Ravariv\" on the desktop
// (the current directory of a run without "-log"), or nothing when the
// current directory is the directory given with "-log".

void UseCurrentDirectoryForLogs(bool use);

const wchar_t* LogDirectoryPrefix();   // L"RA Ravariv\\" or L""
const char* LogDirectoryPrefixA();     // the same, narrow
