#pragma once
// The command line. One made only of documented switches (each with its
// argument, each at most once, in any order) is read as switches; any other
// keeps the rule the program has always had: a lone "-r" is the restoration
// run, anything else a cleaning run. So a switch added later changes nothing
// that works today.

enum class RunMode { Cleaning, Restoration, Undo };

struct CommandLine {
    RunMode mode = RunMode::Cleaning;
    const wchar_t* undoFile = nullptr;  // -undo FILE: the registry backup to apply
};

CommandLine ReadCommandLine(int argc, wchar_t** argv);
