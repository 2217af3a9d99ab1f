#pragma once
// Makes Windows start the program once more, with "-r", at the current
// user's next logon: the RunOnce value "TarnvexEVCleaner".

// For the program's own file.
void RegisterRestartRun();

// For the program at `programPath`. The command line is the quoted path, a
// space and -r, at most 259 characters; a longer one writes nothing.
void RegisterRestartRunFor(const wchar_t* programPath);
