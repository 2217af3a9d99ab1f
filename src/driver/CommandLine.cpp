#include "driver/CommandLine.h"

#include <cwchar>

namespace {

// One documented switch: its name (compared exactly, case included), whether
// an argument follows it, and what it sets. A new switch is one more entry;
// the README lists the same.
struct Switch {
    const wchar_t* name;
    bool takesArgument;
    // False when the switch does not fit with those read before it.
    bool (*apply)(CommandLine& line, const wchar_t* argument);
};

bool SetMode(CommandLine& line, RunMode mode)
{
    const bool scanAndRestoration = (line.mode == RunMode::Scan && mode == RunMode::Restoration) ||
                                    (line.mode == RunMode::Restoration && mode == RunMode::Scan);
    if (line.mode != RunMode::Cleaning && !scanAndRestoration)
        return false;
    line.mode = scanAndRestoration ? RunMode::Scan : mode;
    return true;
}

const Switch kSwitches[] = {
    {L"-r", false, [](CommandLine& line, const wchar_t*) { return SetMode(line, RunMode::Restoration); }},
    {L"-scan", false, [](CommandLine& line, const wchar_t*) { return SetMode(line, RunMode::Scan); }},
    {L"-undo", true,
     [](CommandLine& line, const wchar_t* file) {
         line.undoFile = file;
         return SetMode(line, RunMode::Undo);
     }},
    {L"-log", true,
     [](CommandLine& line, const wchar_t* directory) {
         line.logDirectory = directory;
         return true;
     }},
    {L"-silent", false,
     [](CommandLine& line, const wchar_t*) {
         line.silent = true;
         return true;
     }},
    {L"-norestart", false,
     [](CommandLine& line, const wchar_t*) {
         line.noRestart = true;
         return true;
     }},
    {L"-service", false,
     [](CommandLine& line, const wchar_t*) {
         line.service = true;
         return true;
     }},
};

const Switch* FindSwitch(const wchar_t* argument)
{
    for (const Switch& candidate : kSwitches) {
        // A plain code-unit comparison: "-R" or "/r" are no switches, and
        // lstrcmpW's word sort would weigh the hyphen less.
        if (argument != nullptr && wcscmp(argument, candidate.name) == 0)
            return &candidate;
    }
    return nullptr;
}

// The switches, or false when the line is not made of them alone.
bool ReadSwitches(int argc, wchar_t** argv, CommandLine* line)
{
    bool seen[sizeof(kSwitches) / sizeof(kSwitches[0])] = {};
    for (int i = 1; i < argc; ++i) {
        const Switch* found = FindSwitch(argv[i]);
        if (found == nullptr)
            return false;
        bool& once = seen[found - kSwitches];
        if (once)
            return false;
        once = true;
        const wchar_t* argument = nullptr;
        if (found->takesArgument) {
            if (i + 1 >= argc || argv[i + 1] == nullptr || argv[i + 1][0] == L'\0')
                return false;
            argument = argv[++i];
        }
        if (!found->apply(*line, argument))
            return false;
    }
    return true;
}

}  // namespace

CommandLine ParseCommandLine(int argc, wchar_t** argv)
{
    CommandLine line;
    if (ReadSwitches(argc, argv, &line))
        return line;
    // Today's rule: exactly one argument, and it is exactly "-r".
    CommandLine earlier;
    if (argc == 2 && argv[1] != nullptr && wcscmp(argv[1], L"-r") == 0)
        earlier.mode = RunMode::Restoration;
    return earlier;
}
