#pragma once
// Makes Windows start the program once more, with "-r", at the current
// user's next logon: the RunOnce value "TarnvexEVCleaner".

// For the program's own file, with the run's "-log" directory when it has
// one. True when the value was written; otherwise
// logs "Failed to register for start after reboot for services restoration"
// and returns false, so that the user can be told to run "-r" by hand.
bool RegisterRestartRun();

// For the program at `programPath`. The command line is the quoted path, a
// space and -r, and with a log directory -log and the quoted directory, at
// most 259 characters; a longer one writes nothing.
bool RegisterRestartRunFor(const wchar_t* programPath, const wchar_t* logDirectory = nullptr);
