#pragma once
// Narrow (ANSI code page) paths of the service host image and the component
// store, each in a buffer of MAX_PATH characters.
#include <windows.h>

#include "win/BoundedString.h"

#include <cstddef>

// GetWindowsDirectoryA into path; false when it fails or does not fit.
bool GetWindowsDirectoryNarrow(char (&path)[MAX_PATH]);

// GetSystemDirectoryA into path; false when it fails or does not fit.
bool GetSystemDirectoryNarrow(char (&path)[MAX_PATH]);

// The system directory followed by "\services.exe". When that is not
// available, logs "Failed to get services.exe path" and returns false.
bool FormServicesExePath(char (&path)[MAX_PATH]);
