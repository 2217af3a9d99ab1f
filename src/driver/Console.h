#pragma once
// The console dialogue: the coloured banner, the usage hint and the
// "Cleaner finished" notice. Console texts are narrow; log lines are wide.
#include <windows.h>

#include <ostream>

// Manipulators for the standard output stream: bright white or light grey on
// the current background.
std::ostream& BrightColour(std::ostream& stream);
std::ostream& NormalColour(std::ostream& stream);

// Banner and usage hint on the console, the banner lines in the log.
void PrintBanner();

typedef DWORD(WINAPI* CurrentDirectoryQuery)(DWORD length, LPSTR buffer);

// Points the user at the "RA Ravariv" directory, with the current directory
// in front when it fits in MAX_PATH.
void PrintFinishedNotice(CurrentDirectoryQuery query = GetCurrentDirectoryA);
