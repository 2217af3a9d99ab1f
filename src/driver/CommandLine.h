#pragma once
// The command line. One made only of documented switches (each at most once,
// in any order, "-log" followed by its directory) is read as switches; any
// other keeps the rule of every earlier version: a lone "-r" is the
// restoration run, anything else a cleaning run.

enum class RunMode {
    Cleaning,
    Restoration,  // "-r"
    Scan,         // "-scan": what a cleaning and a restoration run would find and change
};

struct CommandLine {
    RunMode mode = RunMode::Cleaning;
    const wchar_t* logDirectory = nullptr;  // "-log DIR": as given; null without
};

// "-scan" with "-r" is the scan: a scan changes nothing whatever it is given.
CommandLine ParseCommandLine(int argc, wchar_t** argv);
