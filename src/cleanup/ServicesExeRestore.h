#pragma once
// The service host image replacement: backs up the infected services.exe to
// "RA Ravariv\services.exe.infected" (relative to the current directory) and
// schedules a clean copy of the same file version from the component store
// to be moved over it at the next restart.

// True when a clean copy of the same, known version was found and its move
// over the image was scheduled; false when no such copy exists, a path is not
// available, or the move could not be scheduled. Under WoW64 the caller has
// switched file-system redirection off.
bool RestoreServicesExe();
