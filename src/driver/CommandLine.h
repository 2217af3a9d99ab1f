#pragma once
// The command line. One made only of documented switches (in any order, each
// at most once) is read as switches; any other keeps the old rule: a lone
// "-r" is the restoration run, everything else a cleaning run.

struct CommandLine {
    bool restoration = false;          // "-r"
    bool silent = false;               // "-silent": no question, no key wait, exit codes for deployment tools
    bool noRestart = false;            // "-norestart": the run never initiates a restart
    bool service = false;              // "-service": started by the service manager (the restoration's own service)
    const wchar_t* logDirectory = nullptr;  // "-log DIR": the run's files go into DIR
};

// Never fails: a line that is not all switches is read by the old rule.
CommandLine ParseCommandLine(int argc, wchar_t** argv);
