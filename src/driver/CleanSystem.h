#pragma once
// The cleaning sequence of both run modes.
#include <windows.h>

// "-r" on a command line of switches (a lone "-r" as always).
bool IsRestorationMode(int argc, wchar_t** argv);

const int CleanSystemDone = 0;
const int CleanSystemUnsupported = 3;

// Runs the phases for the mode and the Windows family; WoW64 redirection is
// switched off only around the service host image's file calls. Sets
// *restorationMode. Returns CleanSystemDone, or
// CleanSystemUnsupported for a Windows version the cleaner does not know.
int CleanSystem(int argc, wchar_t** argv, const OSVERSIONINFOEXW& version, bool* restorationMode);
