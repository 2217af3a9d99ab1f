#pragma once

// The process entry: logging, the desktop path, the log directory and target,
// the run flow and the restart. Returns the exit code (-1, 3, 5 or 8).
int RunEntry(int argc, wchar_t** argv);
