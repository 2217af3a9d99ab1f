#pragma once
#include "driver/Restart.h"

const int EntryResultNoLogDirectory = -1;

// The process entry: logging, the desktop path as the current directory, the
// log directory and file, the run flow and, after result 5, the restart.
// Returns the exit code (-1, 3, 5 or 8).
int RunEntry(int argc, wchar_t** argv, const RestartSteps& restart = SystemRestartSteps());

// "\\?\" and the desktop folder, made the process's current directory.
bool PrepareDesktopPath();
const wchar_t* DesktopPath();

// True when "RA Ravariv" on the desktop may serve as the log directory.
bool PrepareLogDirectory();
