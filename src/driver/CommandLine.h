#pragma once
// The command line. One made only of documented switches (each at most once,
// in any order, each followed by its argument where it takes one) is read as
// switches; any other keeps the rule of every earlier version: a lone "-r" is
// the restoration run, anything else a cleaning run. So a switch added later
// changes nothing that works today.

enum class RunMode {
    Cleaning,
    Restoration,  // "-r"
    Scan,         // "-scan": what a cleaning and a restoration run would find and change
    Undo,         // "-undo FILE": a registry backup applied
};

struct CommandLine {
    RunMode mode = RunMode::Cleaning;
    const wchar_t* logDirectory = nullptr;  // "-log DIR": as given; null without
    const wchar_t* undoFile = nullptr;      // "-undo FILE": the registry backup to apply
    bool silent = false;     // "-silent": no question, no key wait, exit codes for deployment tools
    bool noRestart = false;  // "-norestart": the run never initiates a restart
    bool service = false;    // "-service": the restoration service's own run, started by the service manager
};

// One run mode per line, except that "-scan" with "-r" is the scan: a scan
// changes nothing whatever it is given.
CommandLine ParseCommandLine(int argc, wchar_t** argv);
