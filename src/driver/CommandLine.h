#pragma once
// The command line. One made only of documented switches (each at most once,
// in any order, "-log" followed by its directory) is read as switches; any
// other keeps the rule of every earlier version: a lone "-r" is the
// restoration run, anything else a cleaning run.

enum class RunMode {
    Cleaning,
    Restoration,  // "-r"
};

struct CommandLine {
    RunMode mode = RunMode::Cleaning;
    const wchar_t* logDirectory = nullptr;  // "-log DIR": as given; null without
    bool silent = false;     // "-silent": no question, no key wait, exit codes for deployment tools
    bool noRestart = false;  // "-norestart": the run never initiates a restart
    bool service = false;    // "-service": the restoration service's own run, started by the service manager
};

CommandLine ParseCommandLine(int argc, wchar_t** argv);
